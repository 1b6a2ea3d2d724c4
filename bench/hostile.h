#pragma once

#include <QString>

namespace bench {

// Data files made to cost the reader as much as they can, each up to about
// the size limit: how long the program takes to load or refuse each one, and
// its peak memory over its empty start, beside `xmllint --noout` on the same
// file, both under an address space limit (prlimit --as).

// Runs the whole table, printing a line per file. Files are written into a
// temporary folder one at a time and removed after their row.
int runHostileTable(const QString &program, const QString &only);

// Writes the hostile file `name` to `path`; false for an unknown name.
bool writeHostileFile(const QString &name, const QString &path);

// The measured side, run in a fresh process: loads `path` as the program
// does at start and prints the time, the peak memory before and after, and
// the records or the refusal.
int loadAndReport(const QString &path);

} // namespace bench

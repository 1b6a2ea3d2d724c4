#pragma once

#include "store/record.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace bench {

// A register as a pharmacy fills it: every field of a named entry holds a
// value, with the Croatian letters of real names and places, and one entry
// in twenty has no medicine name (started, then left), which the save drops.
// The same count always gives the same register.
std::vector<store::Record> sampleRegister(int count);

// Writes sampleRegister(count) as a data file, the way the program saves one.
void writeSampleRegister(int count, const QString &path);

// A packet as the older program wrote it: the Windows code page's bytes as
// they are and no encoding declared. Such a file is not in this program's
// own shape, so the full XML reader reads it.
QByteArray olderProgramsBytes(const QByteArray &own);
void writeOlderProgramsFile(const QString &from, const QString &to);

} // namespace bench

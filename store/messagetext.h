#pragma once

#include <QString>

namespace store {

// A path as a message shows it: the system's separators, and every
// bidirectional control character (U+202E RIGHT-TO-LEFT OVERRIDE and its
// kin) written out as a visible "<U+202E>". Left in, such a character
// reverses what follows it on the screen, so "racun\u202Etxt.exe" would
// read as another name; wrapping the name in isolates would still let it
// reorder the name itself. Every message that shows a file's name goes
// through here.
QString shownPath(const QString &path);

// What a system error number means, for a message: Croatian for the cases
// a user can act on (no space, no permission, a read-only file system, a
// missing file or folder, a name too long), followed by the system's own
// text in parentheses; the system's text alone for anything else.
QString systemErrorText(int error);
// As systemErrorText(int), with the system's own text given: Windows words
// its errors itself (in the user's language), `error` the errno they mean
// where the Croatian words apply, 0 where none does.
QString systemErrorText(int error, const QString &systemText);

// "1 zapis", "2 zapisa", "11 zapisa", "21 zapis": a count of entries as
// Croatian says it after "ima" or "je".
QString entryCount(qint64 count);

} // namespace store

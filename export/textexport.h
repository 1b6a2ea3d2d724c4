#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace store {
class ClientDataSet;
}

namespace textexport {

// One line per record: every field's text between double quotes, the values
// joined by single semicolons, in the table's field order. Values are written
// as they are: a quote or semicolon inside one is neither doubled nor
// escaped, as in every file this program has written. The walk starts at the
// first record and moves the table's own cursor, so controls bound to the
// table follow it.
QStringList buildLines(store::ClientDataSet &table);

// The bytes of the export file: Windows-1250 without a byte-order mark, each
// line ended by CR LF; a character the code page cannot hold becomes '?'.
QByteArray encodeLines(const QStringList &lines);

// Replaces `path` whole with the encoded lines; a new file is readable by
// its owner only. Throws store::Exception with
// the system's reason; on failure an existing file of that name is untouched.
void saveLines(const QString &path, const QStringList &lines);

} // namespace textexport

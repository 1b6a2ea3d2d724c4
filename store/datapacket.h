#pragma once

#include "store/record.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace store {

class ReplaceCheck;

// The register's file format: the client dataset's XML data packet, plain
// text XML, written as pure ASCII (characters above 127 as numeric character
// references) so that every reader takes it whatever the declared encoding.
//
// All functions report failure by throwing store::Exception with a message
// for the user that names the file and the reason.

// Files larger than this are refused before they are read; a full register
// of 10000 records is about 3.5 MB, so this leaves room for any real one.
inline constexpr qint64 MaxDataFileSize = 128 * 1024 * 1024;

// Parses a whole packet. `sourceName` is only used in messages.
std::vector<Record> parseDataPacket(const QByteArray &bytes, const QString &sourceName);

// Serialises the rows (all of them, in order) as a complete packet.
QByteArray serializeDataPacket(const std::vector<Record> &rows);

// Reads and parses a file.
std::vector<Record> loadDataPacketFile(const QString &path);

// Replaces `path` whole and atomically: either the old file or the complete
// new one is there afterwards, never a part.
// `check`, when given, says what the write may replace (see ReplaceCheck).
void saveDataPacketFile(
    const QString &path, const std::vector<Record> &rows, ReplaceCheck *check = nullptr);

} // namespace store

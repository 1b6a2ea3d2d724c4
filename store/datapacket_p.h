#pragma once

// The data file's insides, shared by its modules and open to the tests; the
// rest of the program uses datapacket.h only.
//
//   datapacket.cpp        the public functions; picks the reader
//   datapacketwriter.cpp  the packet as this program writes it
//   datapacketscan.cpp    a scan of packets in exactly that shape
//   datapacketxml.cpp     the XML reader for every other file
//   datapacketcommon.cpp  what they share: the head, messages, UTF-8,
//                         numbers, the characters XML allows

#include "record.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>
#include <string>
#include <vector>

namespace store::packet {

// ---------------------------------------------------------------------------
// The two readers. Both take the whole file and report a refusal by throwing
// store::Exception with a message that names `source`.

// The program's own packets, read by a scan made for their shape. Returns
// nothing when the bytes are not exactly in that shape: the XML reader then
// decides. Whatever it returns, readXml() returns too.
std::optional<std::vector<Record>> scanOwnPacket(const QByteArray &bytes, const QString &source);

// Any packet, through QXmlStreamReader: the records, or a refusal that says
// where and why.
std::vector<Record> readXml(const QByteArray &bytes, const QString &source);

// ---------------------------------------------------------------------------
// The writer

// Thrown while serialising; the callers put the reason into a message of their own.
struct UnsavableValue
{
    QString reason;
};

QByteArray serialize(const std::vector<Record> &rows);

// ---------------------------------------------------------------------------
// Shared by the modules

// Everything before the first row, exactly as the program writes it, and
// everything after the last.
const QByteArray &ownHead();
inline constexpr char ownTail[] = "</ROWDATA></DATAPACKET>\n";

// Refuses a file over MaxDataFileSize or without content before any reading.
void checkSize(const QByteArray &bytes, const QString &source);

QString invalidFile(const QString &source, const QString &reason);
QString invalidFileAt(const QString &source, qint64 line, qint64 column, const QString &reason);
// A value in a message, cut short if long.
QString quoted(QStringView text);
// "3. zapis, polje \"Naziv\"" for the zero-based row.
QString rowField(size_t row, int field);

inline bool isXmlSpace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// The characters XML 1.0 lets a document hold, literally or as a reference.
inline bool isXmlChar(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF)
        || (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// Decodes one UTF-8 sequence at `s` (strictly: no overlong forms, no
// surrogates, nothing above U+10FFFF). Returns its length, or 0 when invalid.
int decodeUtf8(const unsigned char *s, const unsigned char *end, char32_t &cp);
void appendUtf8(std::string &out, char32_t cp);

// Offset of the first byte above 127 at or after `from`, or `end`.
qsizetype firstNonAscii(const char *data, qsizetype from, qsizetype end);
// Offset of the first byte that does not belong to valid UTF-8, or `end`.
qsizetype firstInvalidUtf8(const char *data, qsizetype from, qsizetype end);

// A number as the file holds it: C locale ('.' the one decimal separator,
// no grouping, no surrounding spaces), finite. Nothing when it is not one.
std::optional<double> parseNumber(QByteArrayView text);

} // namespace store::packet

#pragma once

// The data file's insides, shared by its modules and open to the tests; the
// rest of the program uses datapacket.h only.
//
//   datapacket.cpp        the public functions; picks the reader
//   datapacketwriter.cpp  the packet as this program writes it
//   datapacketscan.cpp    a scan of packets in exactly that shape
//   datapacketxml.cpp     the XML reader for every other file
//   datapacketbounds.cpp  the bounds, checked before the XML reader reads
//   datapacketcommon.cpp  what they share: the head, messages, UTF-8,
//                         numbers, the characters XML allows

#include "store/record.h"
#include "store/utf8.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>
#include <string>
#include <vector>

namespace store::packet {

// ---------------------------------------------------------------------------
// Bounds. A data packet has a fixed, shallow shape and holds a register meant
// for 10000 records; a file far outside that shape is refused before it can
// cost more than a few times its size in memory or more than linear time.
// Both readers enforce the same bounds, with the same messages.

// Elements inside elements: the program's packets are four deep (DATAPACKET,
// METADATA, FIELDS, FIELD), and nothing in the format goes much further.
inline constexpr int MaxDepth = 32;
// Attributes of one element: a ROW holds the seventeen fields and an older
// program's packet adds a few (RowState and the like); a FIELD has five or so.
inline constexpr int MaxAttributes = 64;
// Any one piece of text in the file, as bytes of the file: a comment, a
// processing instruction, a CDATA section, text between elements, a name,
// an attribute value, the space inside a tag. The longest value the program
// saves is a few KB. The XML reader keeps a whole piece in memory, and in
// more than one copy while it waits for the next slice of the file.
inline constexpr qsizetype MaxTextBytes = 1024 * 1024;
// A text field's value once read (UTF-8 bytes). The widest field holds 255
// characters. Saved, a byte becomes at most six ("&quot;"), so whatever is
// read can be written and read again within MaxTextBytes.
inline constexpr qsizetype MaxValueBytes = 64 * 1024;
// Records: twenty times what the register is meant to hold, and twice the
// largest register the benchmark loads.
inline constexpr qsizetype MaxRows = 200000;

// Where a file first breaks a bound, read as XML markup whatever else may be
// wrong with it: the offset of the first byte past the bound and the reason.
// Nothing when no bound is broken, or when the markup goes wrong first (the
// XML reader then refuses it there, before reaching anything past it).
struct BoundBreach
{
    qsizetype offset;
    QString reason;
};
std::optional<BoundBreach> firstBoundBreach(QByteArrayView bytes, qsizetype from);

QString tooManyRows();
QString valueTooLong(size_t row, int field);

// ---------------------------------------------------------------------------
// The two readers. Both take the whole file and report a refusal by throwing
// store::Exception with a message that names `source`.

// The program's own packets, read by a scan made for their shape. Returns
// nothing when the bytes are not exactly in that shape: the XML reader then
// decides. Whatever it returns, readXml() returns too.
std::optional<std::vector<Record>> scanOwnPacket(const QByteArray &bytes, const QString &source);

// Any packet, through QXmlStreamReader: the records, or a refusal that says
// where and why.
//
// With `giveBackRead` the caller hands `bytes` over to this read alone (no
// other QByteArray shares them, and nobody reads them afterwards): the
// pages the XML reader has taken in are given back to the system as it
// goes, so that a file whose text grows when read (Windows-1250 becomes up
// to three bytes of UTF-8 a byte) is not held whole beside its records.
std::vector<Record> readXml(
    const QByteArray &bytes, const QString &source, bool giveBackRead = false);

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

// Line and column of the byte at `offset`, counted from `from` as the XML
// reader counts them: CR LF, CR and LF each end a line, and a column is a
// UTF-16 unit (of the UTF-8 text when `utf8`, else one per byte).
struct Position
{
    qint64 line;
    qint64 column;
};
Position positionOf(QByteArrayView bytes, qsizetype from, qsizetype offset, bool utf8);

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

using store::appendUtf8;
using store::decodeUtf8;

// Offset of the first byte above 127 at or after `from`, or `end`.
qsizetype firstNonAscii(const char *data, qsizetype from, qsizetype end);
// Offset of the first byte that does not belong to valid UTF-8, or `end`.
qsizetype firstInvalidUtf8(const char *data, qsizetype from, qsizetype end);

// A number as the file holds it: C locale ('.' the one decimal separator,
// no grouping, no surrounding spaces), finite. Nothing when it is not one.
std::optional<double> parseNumber(QByteArrayView text);

} // namespace store::packet

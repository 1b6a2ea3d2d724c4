#include "store/datapacket.h"
#include "store/datapacket_p.h"

#include "store/exception.h"
#include "store/messagetext.h"
#include "store/schema.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace store::packet {

const QByteArray &ownHead()
{
    static const QByteArray head = [] {
        QByteArray h = "<?xml version=\"1.0\" standalone=\"yes\"?>\n"
                       "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>\n";
        for (const FieldDef &f : importRecordFields()) {
            h += "<FIELD attrname=\"";
            h += f.name;
            if (f.type == FieldType::Text) {
                h += "\" fieldtype=\"string\" WIDTH=\"";
                h += QByteArray::number(f.size);
                h += "\"/>\n";
            } else {
                h += "\" fieldtype=\"r8\"/>\n";
            }
        }
        h += "</FIELDS><PARAMS/></METADATA><ROWDATA>\n";
        return h;
    }();
    return head;
}

void checkSize(const QByteArray &bytes, const QString &source)
{
    if (bytes.size() > MaxDataFileSize) {
        throw Exception(invalidFile(source,
            QStringLiteral("datoteka je prevelika (%1 MB).").arg(bytes.size() / (1024 * 1024))));
    }
    if (bytes.isEmpty())
        throw Exception(invalidFile(source, QStringLiteral("datoteka je prazna.")));
}

Position positionOf(QByteArrayView bytes, qsizetype from, qsizetype offset, bool utf8)
{
    qint64 line = 1;
    qsizetype lineStart = from;
    for (qsizetype i = from; i < offset; ++i) {
        const char c = bytes[i];
        if (c == '\n' || (c == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n'))) {
            ++line;
            lineStart = i + 1;
        }
    }
    qint64 column = 1;
    for (qsizetype i = lineStart; i < offset; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (!utf8 || c < 0x80 || (c >= 0xC0 && c < 0xF0))
            column += 1;
        else if (c >= 0xF0)
            column += 2; // a surrogate pair
    }
    return { line, column };
}

QString tooManyRows()
{
    return QStringLiteral("ima više od %1 zapisa, a registar je predviđen za 10000.").arg(MaxRows);
}

QString valueTooLong(size_t row, int field)
{
    return QStringLiteral("%1 ima tekst dulji od %2 KB.")
        .arg(rowField(row, field), QString::number(MaxValueBytes / 1024));
}

QString invalidFile(const QString &source, const QString &reason)
{
    return QStringLiteral("Datoteka \"%1\" nije ispravna: %2").arg(shownPath(source), reason);
}

QString invalidFileAt(const QString &source, qint64 line, qint64 column, const QString &reason)
{
    return QStringLiteral("Datoteka \"%1\" nije ispravna (redak %2, stupac %3): %4")
        .arg(shownPath(source), QString::number(line), QString::number(column), reason);
}

QString quoted(QStringView text)
{
    // Enough to recognise a value without flooding the message box.
    constexpr qsizetype shown = 40;
    if (text.size() <= shown)
        return u'"' + text.toString() + u'"';
    return u'"' + text.left(shown).toString() + QStringLiteral("…\"");
}

QString rowField(size_t row, int field)
{
    return QStringLiteral("%1. zapis, polje \"%2\"")
        .arg(QString::number(row + 1), QLatin1StringView(importRecordFields()[size_t(field)].name));
}

qsizetype firstNonAscii(const char *data, qsizetype from, qsizetype end)
{
    qsizetype i = from;
    for (; i + 8 <= end; i += 8) {
        quint64 word;
        std::memcpy(&word, data + i, 8);
        if (word & 0x8080808080808080ull)
            break;
    }
    for (; i < end; ++i) {
        if (static_cast<unsigned char>(data[i]) >= 0x80)
            return i;
    }
    return end;
}

qsizetype firstInvalidUtf8(const char *data, qsizetype from, qsizetype end)
{
    const auto *const base = reinterpret_cast<const unsigned char *>(data);
    qsizetype i = firstNonAscii(data, from, end);
    while (i < end) {
        char32_t cp;
        const int len = decodeUtf8(base + i, base + end, cp);
        if (len == 0)
            return i;
        i = firstNonAscii(data, i + len, end);
    }
    return end;
}

std::optional<double> parseNumber(QByteArrayView text)
{
    double number = 0;
    const char *const end = text.data() + text.size();
    const auto res = std::from_chars(text.data(), end, number, std::chars_format::general);
    if (res.ec != std::errc() || res.ptr != end || !std::isfinite(number))
        return std::nullopt;
    return number;
}

} // namespace store::packet

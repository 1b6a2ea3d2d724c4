// The packet as this program writes it: pure ASCII, one ROW per record,
// every character above 127 as a numeric character reference.

#include "store/datapacket_p.h"

#include "store/datapacket.h"
#include "store/messagetext.h"
#include "store/schema.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

namespace store::packet {

namespace {

// Bytes that go into an attribute value as they are.
constexpr std::array<bool, 256> makePlainBytes()
{
    std::array<bool, 256> plain {};
    for (int c = 0x20; c < 0x80; ++c)
        plain[size_t(c)] = c != '&' && c != '<' && c != '>' && c != '"';
    return plain;
}
constexpr std::array<bool, 256> plainBytes = makePlainBytes();

// The packet being written: a cursor into a buffer that grows on demand,
// so the bytes go in without a bounds check per byte.
class PacketBuffer
{
public:
    explicit PacketBuffer(qsizetype estimate)
    {
        m_bytes.resize(std::max<qsizetype>(estimate, 4096));
        m_p = m_bytes.data();
        m_end = m_p + m_bytes.size();
    }

    // Makes room for `n` more bytes and returns where they go.
    char *room(qsizetype n)
    {
        if (m_end - m_p < n) {
            const qsizetype used = m_p - m_bytes.constData();
            m_bytes.resize(std::max(used + n, m_bytes.size() + m_bytes.size() / 2));
            m_p = m_bytes.data() + used;
            m_end = m_bytes.data() + m_bytes.size();
        }
        return m_p;
    }
    void advance(char *to) { m_p = to; }
    qsizetype size() const { return m_p - m_bytes.constData(); }
    void put(QByteArrayView bytes)
    {
        char *p = room(bytes.size());
        std::memcpy(p, bytes.data(), size_t(bytes.size()));
        m_p = p + bytes.size();
    }
    QByteArray take()
    {
        m_bytes.truncate(m_p - m_bytes.constData());
        return std::move(m_bytes);
    }

private:
    QByteArray m_bytes;
    char *m_p = nullptr;
    char *m_end = nullptr;
};

char *putLiteral(char *p, const char *text, size_t n)
{
    std::memcpy(p, text, n);
    return p + n;
}

// Writes a text value as pure ASCII. Tab, line feed and carriage return go
// in as references because a reader normalises literal ones to spaces.
void putText(PacketBuffer &out, QByteArrayView utf8, size_t row, int field)
{
    // The longest expansion is a quote, one byte becoming six ("&quot;").
    char *p = out.room(utf8.size() * 6);
    const auto *s = reinterpret_cast<const unsigned char *>(utf8.data());
    const auto *const end = s + utf8.size();
    while (s < end) {
        if (plainBytes[*s]) {
            *p++ = char(*s++);
            continue;
        }
        char32_t cp;
        const int len = decodeUtf8(s, end, cp);
        if (len == 0) {
            throw UnsavableValue { QStringLiteral("%1 sadrži neispravan zapis teksta (UTF-8).")
                                       .arg(rowField(row, field)) };
        }
        switch (cp) {
        case '&':
            p = putLiteral(p, "&amp;", 5);
            break;
        case '<':
            p = putLiteral(p, "&lt;", 4);
            break;
        case '>':
            p = putLiteral(p, "&gt;", 4);
            break;
        case '"':
            p = putLiteral(p, "&quot;", 6);
            break;
        default:
            // XML 1.0 cannot hold the other control characters, not even as
            // references; writing them would make a file no reader accepts.
            if (!isXmlChar(cp)) {
                throw UnsavableValue {
                    QStringLiteral("%1 sadrži znak U+%2 koji se ne može spremiti u datoteku.")
                        .arg(rowField(row, field),
                            QStringLiteral("%1").arg(uint(cp), 4, 16, QLatin1Char('0')).toUpper())
                };
            }
            // "&#" and ";" around at most seven digits: never more than the
            // six bytes per input byte reserved above, as a reference
            // replaces one to four bytes and a control character one.
            *p++ = '&';
            *p++ = '#';
            p = std::to_chars(p, p + 7, quint32(cp)).ptr;
            *p++ = ';';
            break;
        }
        s += len;
    }
    out.advance(p);
}

void putNumber(PacketBuffer &out, double value, size_t row, int field)
{
    if (!std::isfinite(value)) {
        throw UnsavableValue {
            QStringLiteral("%1 nema konačnu brojčanu vrijednost.").arg(rowField(row, field))
        };
    }
    // Shortest text that reads back as the same double, always with '.'.
    char *p = out.room(32);
    out.advance(std::to_chars(p, p + 32, value).ptr);
}

} // namespace

// Whatever is written here must read back: a file the readers would refuse
// is not written, so the register on disk stays one the program can open.
QByteArray serialize(const std::vector<Record> &rows)
{
    if (rows.size() > size_t(MaxRows)) {
        throw UnsavableValue { QStringLiteral("registar ima %1, a program čita najviše %2.")
                                   .arg(entryCount(qint64(rows.size())))
                                   .arg(MaxRows) };
    }
    const auto &fields = importRecordFields();
    // ` Name="` for each field.
    static const std::array<QByteArray, FieldCount> openers = [&fields] {
        std::array<QByteArray, FieldCount> o;
        for (int f = 0; f < FieldCount; ++f)
            o[size_t(f)] = QByteArray(" ") + fields[size_t(f)].name + "=\"";
        return o;
    }();

    qsizetype estimate = ownHead().size() + qsizetype(sizeof ownTail);
    for (const Record &r : rows) {
        // Names, quotes and numbers, plus room for some references.
        qsizetype text = 0;
        for (int f = 0; f < FieldCount; ++f) {
            if (textSlot(f) >= 0)
                text += r.textUtf8(f).size();
        }
        estimate += 200 + text + text / 4;
    }

    // Past the size limit the save is refused anyway.
    PacketBuffer out(std::min(estimate, MaxDataFileSize + 1));
    out.put(ownHead());
    for (size_t row = 0; row < rows.size(); ++row) {
        const Record &r = rows[row];
        out.put("<ROW");
        for (int f = 0; f < FieldCount; ++f) {
            if (fields[size_t(f)].type == FieldType::Text) {
                const QByteArrayView text = r.textUtf8(f);
                if (text.isEmpty())
                    continue;
                if (text.size() > MaxValueBytes)
                    throw UnsavableValue { valueTooLong(row, f) };
                out.put(openers[size_t(f)]);
                putText(out, text, row, f);
            } else {
                const std::optional<double> value = r.number(f);
                if (!value)
                    continue;
                out.put(openers[size_t(f)]);
                putNumber(out, *value, row, f);
            }
            out.put("\"");
        }
        out.put("/>\n");
        if (out.size() > MaxDataFileSize) {
            throw UnsavableValue { QStringLiteral(
                "registar bi u datoteci zauzeo više od %1 MB, a program čita datoteke do %1 MB.")
                                       .arg(MaxDataFileSize / (1024 * 1024)) };
        }
    }
    out.put(QByteArrayView(ownTail, qsizetype(sizeof ownTail - 1)));
    return out.take();
}

} // namespace store::packet

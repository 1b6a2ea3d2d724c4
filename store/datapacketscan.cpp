// The packets this program writes have one shape: the head it writes, one
// "<ROW .../>" per record with the fields as attributes in pure ASCII, and
// the tail. The XML reader takes such a file apart several times slower than
// a scan made for that shape (it builds every value a character at a time),
// and a full register is read at every start. So a file in the program's own
// shape is read here; anything else, down to one unusual byte or reference,
// is left to the XML reader, which accepts it or says why not. Whatever this
// scan accepts, the XML reader reads to the same records.

#include "store/datapacket_p.h"

#include "store/exception.h"
#include "store/schema.h"

#include <array>
#include <cstring>

namespace store::packet {

namespace {

class OwnPacketScanner
{
public:
    OwnPacketScanner(const char *begin, const char *end, const QString &source)
        : m_source(source)
        , m_p(begin)
        , m_end(end)
    {
    }

    // The records, or nothing when the bytes are not in the program's shape.
    std::optional<std::vector<Record>> scan();

private:
    // Skips white space; false when there is more than a piece of text may hold.
    bool skipSpace(bool *skipped = nullptr);
    bool take(QByteArrayView literal);
    bool readRow();
    int readName();
    bool readValue(int field);
    bool readReference();

    const QString &m_source;
    const char *m_p;
    const char *const m_end;
    std::string m_decoded;
    RecordBuilder m_record;
    int m_nextField = 0;
};

std::optional<std::vector<Record>> OwnPacketScanner::scan()
{
    if (!take(ownHead()))
        return std::nullopt;
    std::vector<Record> rows;
    for (;;) {
        if (!skipSpace())
            return std::nullopt;
        if (!take("<ROW"))
            break;
        if (!readRow())
            return std::nullopt;
        if (rows.size() == size_t(MaxRows)) {
            // Refused here as the XML reader refuses it, so that a file of
            // far too many rows is not read twice.
            throw Exception(invalidFile(m_source, tooManyRows()));
        }
        rows.push_back(m_record.take());
    }
    if (!take("</ROWDATA>") || !skipSpace() || !take("</DATAPACKET>") || !skipSpace()
        || m_p != m_end)
        return std::nullopt;
    return rows;
}

bool OwnPacketScanner::skipSpace(bool *skipped)
{
    const char *const from = m_p;
    while (m_p < m_end && isXmlSpace(*m_p))
        ++m_p;
    if (skipped)
        *skipped = m_p != from;
    return m_p - from <= MaxTextBytes;
}

bool OwnPacketScanner::take(QByteArrayView literal)
{
    if (m_end - m_p < literal.size() || std::memcmp(m_p, literal.data(), size_t(literal.size())))
        return false;
    m_p += literal.size();
    return true;
}

bool OwnPacketScanner::readRow()
{
    quint32 seen = 0;
    m_nextField = 0;
    for (;;) {
        bool spaced = false;
        if (!skipSpace(&spaced))
            return false;
        if (take("/>"))
            return true;
        // Attributes are set apart by white space; a repeated one, or one
        // this program does not write, is the XML reader's to judge.
        if (!spaced)
            return false;
        const int field = readName();
        if (field < 0 || (seen & (1u << field)) || !take("=\""))
            return false;
        seen |= 1u << field;
        if (!readValue(field))
            return false;
    }
}

int OwnPacketScanner::readName()
{
    static const std::array<QByteArrayView, FieldCount> names = [] {
        std::array<QByteArrayView, FieldCount> n;
        for (int f = 0; f < FieldCount; ++f)
            n[size_t(f)] = QByteArrayView(importRecordFields()[size_t(f)].name);
        return n;
    }();
    const char *const from = m_p;
    while (m_p < m_end && *m_p != '=' && *m_p != ' ' && *m_p != '/' && *m_p != '"')
        ++m_p;
    const QByteArrayView name(from, m_p - from);
    // The program writes the fields in their order, so the one after the
    // last is tried first.
    for (int i = 0; i < FieldCount; ++i) {
        const int f = (m_nextField + i) % FieldCount;
        if (name == names[size_t(f)]) {
            m_nextField = f + 1;
            return f;
        }
    }
    return -1;
}

bool OwnPacketScanner::readValue(int field)
{
    // Plain bytes are taken as they stand; only a value with references is
    // decoded into a buffer.
    const char *const from = m_p;
    const char *run = m_p;
    bool decoded = false;
    for (;;) {
        if (m_p == m_end)
            return false;
        const auto c = static_cast<unsigned char>(*m_p);
        if (c == '"')
            break;
        if (c == '&') {
            if (!decoded) {
                m_decoded.clear();
                decoded = true;
            }
            m_decoded.append(run, size_t(m_p - run));
            if (!readReference())
                return false;
            run = m_p;
            continue;
        }
        // White space inside a value is normalised by an XML reader, '<'
        // may not stand there, and the program writes nothing else below
        // 0x20 or above 0x7F as it is.
        if (c < 0x20 || c > 0x7F || c == '<')
            return false;
        ++m_p;
    }
    // Pieces of text past the bounds are the XML reader's to refuse.
    if (m_p - from > MaxTextBytes)
        return false;
    QByteArrayView value(from, m_p - from);
    if (decoded) {
        m_decoded.append(run, size_t(m_p - run));
        value = QByteArrayView(m_decoded.data(), qsizetype(m_decoded.size()));
    }
    ++m_p; // the closing quote

    if (importRecordFields()[size_t(field)].type == FieldType::Text) {
        if (value.size() > MaxValueBytes)
            return false;
        m_record.setTextUtf8(field, value);
        return true;
    }
    if (value.isEmpty())
        return true;
    // A number written by this program has no references; the XML reader
    // decides about any other.
    if (decoded)
        return false;
    const std::optional<double> number = parseNumber(value);
    if (!number)
        return false;
    m_record.setNumber(field, *number);
    return true;
}

bool OwnPacketScanner::readReference()
{
    static constexpr std::pair<const char *, char> predefined[]
        = { { "amp;", '&' }, { "lt;", '<' }, { "gt;", '>' }, { "quot;", '"' }, { "apos;", '\'' } };
    ++m_p; // '&'
    for (const auto &[name, c] : predefined) {
        if (take(name)) {
            m_decoded.push_back(c);
            return true;
        }
    }
    if (!take("#"))
        return false;
    const bool hex = take("x");
    char32_t cp = 0;
    int digits = 0;
    for (; m_p < m_end && *m_p != ';'; ++m_p, ++digits) {
        const char c = *m_p;
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        cp = cp * (hex ? 16 : 10) + char32_t(digit);
        if (cp > 0x10FFFF)
            return false;
    }
    if (m_p == m_end || digits == 0)
        return false;
    ++m_p; // ';'
    // Only characters XML allows; the XML reader refuses the others.
    if (!isXmlChar(cp))
        return false;
    appendUtf8(m_decoded, cp);
    return true;
}

} // namespace

std::optional<std::vector<Record>> scanOwnPacket(const QByteArray &bytes, const QString &source)
{
    checkSize(bytes, source);
    // Past a UTF-8 byte order mark, as an editor may add.
    const qsizetype start = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    return OwnPacketScanner(bytes.constData() + start, bytes.constData() + bytes.size(), source)
        .scan();
}

} // namespace store::packet

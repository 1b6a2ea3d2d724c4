#include "datapacket.h"

#include "codepage.h"
#include "exception.h"
#include "safefile.h"
#include "schema.h"

#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>

namespace store {

namespace {

// ---------------------------------------------------------------------------
// Messages

QString invalidFile(const QString &source, const QString &reason)
{
    return QStringLiteral("Datoteka \"%1\" nije ispravna: %2").arg(source, reason);
}

QString invalidFileAt(const QString &source, qint64 line, qint64 column, const QString &reason)
{
    return QStringLiteral("Datoteka \"%1\" nije ispravna (redak %2, stupac %3): %4")
        .arg(source, QString::number(line), QString::number(column), reason);
}

QString quoted(QStringView text)
{
    // Enough to recognise a value without flooding the message box.
    constexpr qsizetype shown = 40;
    if (text.size() <= shown)
        return u'"' + text.toString() + u'"';
    return u'"' + text.left(shown).toString() + QStringLiteral("…\"");
}

// Thrown while serialising; the callers put the reason into a message of their own.
struct UnsavableValue
{
    QString reason;
};

// ---------------------------------------------------------------------------
// Writing

const FieldDef &fieldDef(int field) { return importRecordFields()[size_t(field)]; }

const QByteArray &packetHead()
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

constexpr char packetTail[] = "</ROWDATA></DATAPACKET>\n";

// Bytes that go into an attribute value as they are.
constexpr std::array<bool, 256> makePlainBytes()
{
    std::array<bool, 256> plain {};
    for (int c = 0x20; c < 0x80; ++c)
        plain[size_t(c)] = c != '&' && c != '<' && c != '>' && c != '"';
    return plain;
}
constexpr std::array<bool, 256> plainBytes = makePlainBytes();

// Decodes one UTF-8 sequence at `s` (strictly: no overlong forms, no
// surrogates, nothing above U+10FFFF). Returns its length, or 0 when invalid.
int decodeUtf8(const unsigned char *s, const unsigned char *end, char32_t &cp)
{
    const unsigned char c = s[0];
    int len;
    char32_t min;
    if (c < 0x80) {
        cp = c;
        return 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
        min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
        min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (end - s < len)
        return 0;
    for (int i = 1; i < len; ++i) {
        if ((s[i] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (s[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

QString rowField(size_t row, int field)
{
    return QStringLiteral("%1. zapis, polje \"%2\"")
        .arg(QString::number(row + 1), QLatin1StringView(fieldDef(field).name));
}

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
            if ((cp < 0x20 && cp != '\t' && cp != '\n' && cp != '\r') || cp == 0xFFFE
                || cp == 0xFFFF) {
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

QByteArray serialize(const std::vector<Record> &rows)
{
    const auto &fields = importRecordFields();
    // ` Name="` for each field.
    static const std::array<QByteArray, FieldCount> openers = [&fields] {
        std::array<QByteArray, FieldCount> o;
        for (int f = 0; f < FieldCount; ++f)
            o[size_t(f)] = QByteArray(" ") + fields[size_t(f)].name + "=\"";
        return o;
    }();

    qsizetype estimate = packetHead().size() + qsizetype(sizeof packetTail);
    for (const Record &r : rows) {
        // Names, quotes and numbers, plus room for some references.
        qsizetype text = 0;
        for (int f = 0; f < FieldCount; ++f) {
            if (textSlot(f) >= 0)
                text += r.textUtf8(f).size();
        }
        estimate += 200 + text + text / 4;
    }

    PacketBuffer out(estimate);
    out.put(packetHead());
    for (size_t row = 0; row < rows.size(); ++row) {
        const Record &r = rows[row];
        out.put("<ROW");
        for (int f = 0; f < FieldCount; ++f) {
            if (fields[size_t(f)].type == FieldType::Text) {
                const QByteArrayView text = r.textUtf8(f);
                if (text.isEmpty())
                    continue;
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
    }
    out.put(QByteArrayView(packetTail, qsizetype(sizeof packetTail - 1)));
    return out.take();
}

// ---------------------------------------------------------------------------
// Reading

enum class Encoding { Utf8, Ascii, Windows1250 };

// Offset of the first byte above 127 at or after `from`, or `end`.
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

// Offset of the first byte that does not belong to valid UTF-8, or `end`.
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

// The packets this program writes have one shape: the head it writes, one
// "<ROW .../>" per record with the fields as attributes in pure ASCII, and
// the tail. The XML reader below takes such a file apart several times
// slower than a scan made for that shape (it builds every value a character
// at a time), and a full register is read at every start. So a file in the
// program's own shape is read here; anything else, down to one unusual byte
// or reference, is left to the reader, which accepts it or says why not.
// Whatever this scan accepts, the reader reads to the same records.
class OwnPacketScanner
{
public:
    OwnPacketScanner(const char *begin, const char *end)
        : m_p(begin)
        , m_end(end)
    {
    }

    // The records, or nothing when the bytes are not in the program's shape.
    std::optional<std::vector<Record>> scan();

private:
    bool skipSpace();
    bool take(QByteArrayView literal);
    bool readRow(Record &record);
    int readName();
    bool readValue(int field, Record &record);
    bool readReference();

    const char *m_p;
    const char *const m_end;
    std::string m_decoded;
    int m_nextField = 0;
};

std::optional<std::vector<Record>> OwnPacketScanner::scan()
{
    if (!take(packetHead()))
        return std::nullopt;
    std::vector<Record> rows;
    for (;;) {
        skipSpace();
        if (!take("<ROW"))
            break;
        Record record;
        if (!readRow(record))
            return std::nullopt;
        rows.push_back(std::move(record));
    }
    if (!take("</ROWDATA>"))
        return std::nullopt;
    skipSpace();
    if (!take("</DATAPACKET>"))
        return std::nullopt;
    skipSpace();
    if (m_p != m_end)
        return std::nullopt;
    return rows;
}

bool OwnPacketScanner::skipSpace()
{
    const char *const from = m_p;
    while (m_p < m_end && (*m_p == ' ' || *m_p == '\n' || *m_p == '\r' || *m_p == '\t'))
        ++m_p;
    return m_p != from;
}

bool OwnPacketScanner::take(QByteArrayView literal)
{
    if (m_end - m_p < literal.size() || std::memcmp(m_p, literal.data(), size_t(literal.size())))
        return false;
    m_p += literal.size();
    return true;
}

bool OwnPacketScanner::readRow(Record &record)
{
    quint32 seen = 0;
    m_nextField = 0;
    for (;;) {
        const bool spaced = skipSpace();
        if (take("/>"))
            return true;
        // Attributes are set apart by white space; a repeated one, or one
        // this program does not write, is the reader's to judge.
        if (!spaced)
            return false;
        const int field = readName();
        if (field < 0 || (seen & (1u << field)) || !take("=\""))
            return false;
        seen |= 1u << field;
        if (!readValue(field, record))
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

bool OwnPacketScanner::readValue(int field, Record &record)
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
        // 0x20 or above 0x7E as it is.
        if (c < 0x20 || c > 0x7E || c == '<')
            return false;
        ++m_p;
    }
    QByteArrayView value(from, m_p - from);
    if (decoded) {
        m_decoded.append(run, size_t(m_p - run));
        value = QByteArrayView(m_decoded.data(), qsizetype(m_decoded.size()));
    }
    ++m_p; // the closing quote

    if (importRecordFields()[size_t(field)].type == FieldType::Text) {
        record.setTextUtf8(field, value);
        return true;
    }
    if (value.isEmpty())
        return true;
    // A number written by this program has no references; the reader
    // decides about any other.
    if (decoded)
        return false;
    double number = 0;
    const auto res = std::from_chars(
        value.data(), value.data() + value.size(), number, std::chars_format::general);
    if (res.ec != std::errc() || res.ptr != value.data() + value.size() || !std::isfinite(number))
        return false;
    record.setNumber(field, number);
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
    // Only characters XML allows; the reader refuses the others.
    const bool allowed = cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF)
        || (cp >= 0xE000 && cp <= 0xFFFD) || cp >= 0x10000;
    if (!allowed)
        return false;
    if (cp < 0x80) {
        m_decoded.push_back(char(cp));
    } else if (cp < 0x800) {
        m_decoded.push_back(char(0xC0 | (cp >> 6)));
        m_decoded.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        m_decoded.push_back(char(0xE0 | (cp >> 12)));
        m_decoded.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        m_decoded.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        m_decoded.push_back(char(0xF0 | (cp >> 18)));
        m_decoded.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
        m_decoded.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        m_decoded.push_back(char(0x80 | (cp & 0x3F)));
    }
    return true;
}

class PacketReader
{
public:
    PacketReader(const QByteArray &bytes, const QString &sourceName)
        : m_bytes(bytes)
        , m_source(sourceName)
    {
    }

    std::vector<Record> read();

private:
    // Prolog sniffing, before the XML reader sees anything.
    void chooseEncoding();
    [[noreturn]] void failAtByte(qsizetype offset, const QString &reason) const;

    // Feeds the reader the next slice of the file as UTF-8; false at the end.
    bool feed();

    QXmlStreamReader::TokenType readToken();
    QXmlStreamReader::TokenType next();
    void skipElement();
    // A refusal placed at the start of the current token, as far as the
    // reader tells: whitespace before the root element belongs to the next
    // token, so refusals there use failAtEnd().
    [[noreturn]] void fail(const QString &reason) const;
    [[noreturn]] void failAtEnd(const QString &reason) const;
    [[noreturn]] void failXml() const;
    [[noreturn]] void unexpectedElement(QLatin1StringView parent) const;
    [[noreturn]] void fieldMismatch(qint64 line, qint64 column, const QString &reason) const;

    void readFields();
    void readRow();
    int fieldForAttribute(QStringView name);
    bool isElement(QLatin1StringView name) const { return m_xml.name() == name; }

    const QByteArray &m_bytes;
    const QString &m_source;
    Encoding m_encoding = Encoding::Utf8;
    qsizetype m_pos = 0;
    QXmlStreamReader m_xml;
    qint64 m_tokenLine = 1;
    qint64 m_tokenColumn = 1;
    bool m_resuming = false;

    std::vector<Record> m_rows;
    std::string m_scratch;
    int m_nextField = 0;
};

void PacketReader::failAtByte(qsizetype offset, const QString &reason) const
{
    qint64 line = 1;
    qsizetype lineStart = m_pos; // past a byte order mark
    for (qsizetype i = m_pos; i < offset; ++i) {
        if (m_bytes[i] == '\n') {
            ++line;
            lineStart = i + 1;
        }
    }
    qint64 column = 1;
    for (qsizetype i = lineStart; i < offset; ++i) {
        // Count characters, not bytes, when the text is UTF-8.
        if (m_encoding != Encoding::Utf8 || (static_cast<unsigned char>(m_bytes[i]) & 0xC0) != 0x80)
            ++column;
    }
    throw Exception(invalidFileAt(m_source, line, column, reason));
}

void PacketReader::chooseEncoding()
{
    const char *data = m_bytes.constData();
    const qsizetype size = m_bytes.size();

    bool bom = false;
    if (m_bytes.startsWith("\xEF\xBB\xBF")) {
        bom = true;
        m_pos = 3;
    } else if (m_bytes.startsWith("\xFE\xFF") || m_bytes.startsWith("\xFF\xFE")) {
        throw Exception(invalidFile(m_source,
            QStringLiteral("zapisana je u kodiranju UTF-16, a program čita samo UTF-8, "
                           "windows-1250 i US-ASCII.")));
    }
    if (m_pos == size)
        throw Exception(invalidFile(m_source, QStringLiteral("datoteka je prazna.")));

    // The encoding pseudo-attribute of the XML declaration, if there is one;
    // the XML reader checks the declaration's syntax itself.
    QByteArray declared;
    const QByteArrayView rest(data + m_pos, size - m_pos);
    if (rest.startsWith("<?xml") && rest.size() > 5
        && (rest[5] == ' ' || rest[5] == '\t' || rest[5] == '\r' || rest[5] == '\n')) {
        const qsizetype close = rest.indexOf("?>");
        const QByteArrayView decl = rest.first(close < 0 ? rest.size() : close);
        const qsizetype at = decl.indexOf("encoding");
        if (at >= 0) {
            qsizetype i = at + 8;
            auto skipSpace = [&] {
                while (i < decl.size()
                    && (decl[i] == ' ' || decl[i] == '\t' || decl[i] == '\r' || decl[i] == '\n'))
                    ++i;
            };
            skipSpace();
            if (i < decl.size() && decl[i] == '=') {
                ++i;
                skipSpace();
                if (i < decl.size() && (decl[i] == '"' || decl[i] == '\'')) {
                    const char quote = decl[i];
                    const qsizetype end = decl.indexOf(quote, i + 1);
                    if (end > i)
                        declared = decl.sliced(i + 1, end - i - 1).toByteArray();
                }
            }
        }
    }

    if (declared.isEmpty()) {
        // No declaration: the program's own files are pure ASCII; older ones
        // were written in the Windows code page without saying so.
        m_encoding = bom || firstInvalidUtf8(data, m_pos, size) == size ? Encoding::Utf8
                                                                        : Encoding::Windows1250;
    } else {
        const QByteArray name = declared.toLower();
        if (name == "utf-8") {
            m_encoding = Encoding::Utf8;
        } else if (name == "us-ascii") {
            m_encoding = Encoding::Ascii;
        } else if (name == "windows-1250" || name == "cp1250") {
            m_encoding = Encoding::Windows1250;
            if (bom) {
                throw Exception(invalidFile(m_source,
                    QStringLiteral("počinje oznakom za UTF-8, a navodi kodnu stranicu \"%1\".")
                        .arg(QString::fromLatin1(declared))));
            }
        } else {
            throw Exception(invalidFile(m_source,
                QStringLiteral("zapisana je u kodnoj stranici \"%1\", a program čita samo UTF-8, "
                               "windows-1250 i US-ASCII.")
                    .arg(QString::fromLatin1(declared).left(40))));
        }
    }

    switch (m_encoding) {
    case Encoding::Utf8:
        if (const qsizetype bad = firstInvalidUtf8(data, m_pos, size); bad < size)
            failAtByte(bad, QStringLiteral("bajtovi nisu ispravan UTF-8."));
        break;
    case Encoding::Ascii:
        if (const qsizetype bad = firstNonAscii(data, m_pos, size); bad < size) {
            failAtByte(bad,
                QStringLiteral("znak izvan US-ASCII, a datoteka navodi kodiranje "
                               "US-ASCII."));
        }
        break;
    case Encoding::Windows1250:
        // Pure ASCII reads the same either way and needs no conversion.
        if (firstNonAscii(data, m_pos, size) == size)
            m_encoding = Encoding::Ascii;
        break;
    }
}

bool PacketReader::feed()
{
    // Slices keep the reader's decoded buffer small instead of turning the
    // whole file into one string.
    constexpr qsizetype slice = 64 * 1024;
    const qsizetype size = m_bytes.size();
    if (m_pos >= size)
        return false;
    qsizetype end = std::min(size, m_pos + slice);
    const char *data = m_bytes.constData();

    if (m_encoding == Encoding::Windows1250) {
        QByteArray utf8;
        utf8.reserve((end - m_pos) * 3);
        for (qsizetype i = m_pos; i < end; ++i) {
            const auto c = static_cast<unsigned char>(data[i]);
            if (c < 0x80) {
                utf8.append(char(c));
            } else {
                const char16_t u = codepage::toUnicode(c);
                if (u < 0x800) {
                    utf8.append(char(0xC0 | (u >> 6)));
                } else {
                    utf8.append(char(0xE0 | (u >> 12)));
                    utf8.append(char(0x80 | ((u >> 6) & 0x3F)));
                }
                utf8.append(char(0x80 | (u & 0x3F)));
            }
        }
        m_xml.addData(utf8);
    } else {
        // Never split a UTF-8 sequence between slices.
        while (end < size && end > m_pos && (static_cast<unsigned char>(data[end]) & 0xC0) == 0x80)
            --end;
        if (end == m_pos)
            end = std::min(size, m_pos + slice);
        m_xml.addData(QByteArray(data + m_pos, end - m_pos));
    }
    m_pos = end;
    return true;
}

void PacketReader::fail(const QString &reason) const
{
    throw Exception(invalidFileAt(m_source, m_tokenLine, m_tokenColumn, reason));
}

// The XML reader's own messages are English; the common ones get a
// Croatian reason, the rest keep the original text as a detail.
void PacketReader::failXml() const
{
    const QString qt = m_xml.errorString();
    QString reason;
    auto between = [&qt](QLatin1StringView prefix, QLatin1StringView suffix) -> QString {
        if (qt.startsWith(prefix) && qt.endsWith(suffix)
            && qt.size() > prefix.size() + suffix.size())
            return qt.mid(prefix.size(), qt.size() - prefix.size() - suffix.size());
        return {};
    };
    if (m_xml.error() == QXmlStreamReader::PrematureEndOfDocumentError) {
        reason = QStringLiteral("datoteka je nepotpuna (prekinuta prije kraja podataka).");
    } else if (qt == QLatin1StringView("Encountered incorrectly encoded content.")) {
        reason = QStringLiteral("bajtovi ne odgovaraju kodiranju datoteke.");
    } else if (qt == QLatin1StringView("Invalid character reference.")) {
        reason = QStringLiteral("referenca na znak koji XML ne može sadržavati.");
    } else if (qt == QLatin1StringView("Extra content at end of document.")) {
        reason = QStringLiteral("iza kraja podataka ima još sadržaja.");
    } else if (qt == QLatin1StringView("Opening and ending tag mismatch.")) {
        reason = QStringLiteral("početna i završna oznaka elementa se ne podudaraju.");
    } else if (const QString name
               = between(QLatin1StringView("Attribute '"), QLatin1StringView("' redefined."));
               !name.isEmpty()) {
        reason = QStringLiteral("atribut \"%1\" ponavlja se u istom elementu.").arg(name);
    } else if (const QString name
               = between(QLatin1StringView("Entity '"), QLatin1StringView("' not declared."));
               !name.isEmpty()) {
        reason = QStringLiteral("entitet \"%1\" nije poznat.").arg(name);
    } else {
        reason = QStringLiteral("nije ispravan XML (%1)").arg(qt);
    }
    // Where the reader stopped, which is where the fault is.
    failAtEnd(reason);
}

void PacketReader::failAtEnd(const QString &reason) const
{
    throw Exception(invalidFileAt(m_source, m_xml.lineNumber(), m_xml.columnNumber() + 1, reason));
}

void PacketReader::unexpectedElement(QLatin1StringView parent) const
{
    if (isElement(QLatin1StringView("ROW")) && parent != QLatin1StringView("ROW"))
        fail(QStringLiteral("element ROW nalazi se izvan ROWDATA."));
    fail(QStringLiteral("neočekivan element \"%1\" unutar \"%2\".")
             .arg(m_xml.name().toString(), parent));
}

// The next token that matters for the layout. Comments and processing
// instructions are skipped, whitespace between elements too; anything that
// could pull in outside definitions is refused.
QXmlStreamReader::TokenType PacketReader::readToken()
{
    for (;;) {
        // A token cut off by the end of a slice is read again from its start
        // once more data is there; its start stays the one noted first.
        if (!m_resuming) {
            m_tokenLine = m_xml.lineNumber();
            m_tokenColumn = m_xml.columnNumber() + 1;
        }
        const QXmlStreamReader::TokenType token = m_xml.readNext();
        m_resuming = token == QXmlStreamReader::Invalid
            && m_xml.error() == QXmlStreamReader::PrematureEndOfDocumentError && feed();
        if (!m_resuming)
            return token;
    }
}

QXmlStreamReader::TokenType PacketReader::next()
{
    for (;;) {
        const QXmlStreamReader::TokenType token = readToken();
        switch (token) {
        case QXmlStreamReader::Invalid:
            failXml();
        case QXmlStreamReader::DTD:
            // Entity declarations live here; refusing the whole DTD means no
            // entity is ever expanded.
            failAtEnd(QStringLiteral("sadrži definiciju tipa dokumenta (DOCTYPE), koju program ne "
                                     "prihvaća."));
        case QXmlStreamReader::EntityReference:
            fail(QStringLiteral("entitet \"%1\" nije poznat.").arg(m_xml.name().toString()));
        case QXmlStreamReader::Characters:
            if (m_xml.isWhitespace())
                continue;
            fail(QStringLiteral("neočekivan tekst %1.").arg(quoted(m_xml.text())));
        case QXmlStreamReader::Comment:
        case QXmlStreamReader::ProcessingInstruction:
        case QXmlStreamReader::StartDocument:
        case QXmlStreamReader::NoToken:
            continue;
        case QXmlStreamReader::StartElement:
        case QXmlStreamReader::EndElement:
        case QXmlStreamReader::EndDocument:
            return token;
        }
    }
}

// Skips the content of the current element, whatever it holds.
void PacketReader::skipElement()
{
    int depth = 1;
    while (depth > 0) {
        const QXmlStreamReader::TokenType token = readToken();
        switch (token) {
        case QXmlStreamReader::Invalid:
            failXml();
        case QXmlStreamReader::EntityReference:
            fail(QStringLiteral("entitet \"%1\" nije poznat.").arg(m_xml.name().toString()));
        case QXmlStreamReader::StartElement:
            ++depth;
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        default:
            break;
        }
    }
}

void PacketReader::fieldMismatch(qint64 line, qint64 column, const QString &reason) const
{
    throw Exception(QStringLiteral("Datoteka \"%1\" ima drukčiji popis polja od ovog programa "
                                   "(redak %2, stupac %3): %4")
                        .arg(m_source, QString::number(line), QString::number(column), reason));
}

void PacketReader::readFields()
{
    struct FileField
    {
        QString name;
        QString type;
        qint64 line;
        qint64 column;
    };
    std::vector<FileField> found;

    for (;;) {
        const auto token = next();
        if (token == QXmlStreamReader::EndElement)
            break;
        if (!isElement(QLatin1StringView("FIELD")))
            unexpectedElement(QLatin1StringView("FIELDS"));
        const QXmlStreamAttributes attributes = m_xml.attributes();
        found.push_back({ attributes.value(QLatin1StringView("attrname")).toString(),
            attributes.value(QLatin1StringView("fieldtype")).toString(), m_tokenLine,
            m_tokenColumn });
        if (found.size() > size_t(FieldCount) * 4)
            fail(QStringLiteral("opis polja ima previše polja."));
        skipElement();
    }

    // The program's fields are the only layout it reads: a file that lists
    // them differently belongs to another program or another version.
    const auto &fields = importRecordFields();
    auto inFile = [&found](QLatin1StringView name) {
        for (const FileField &f : found) {
            if (f.name == name)
                return true;
        }
        return false;
    };
    for (size_t i = 0; i < found.size(); ++i) {
        const FileField &f = found[i];
        for (size_t j = 0; j < i; ++j) {
            if (found[j].name == f.name)
                fieldMismatch(f.line, f.column,
                    QStringLiteral("polje \"%1\" navedeno je dvaput.").arg(f.name));
        }
        if (f.name.isEmpty())
            fieldMismatch(
                f.line, f.column, QStringLiteral("polje bez imena (nema atributa attrname)."));
        if (i >= fields.size() || fieldIndex(f.name) < 0) {
            fieldMismatch(
                f.line, f.column, QStringLiteral("polje \"%1\" program ne poznaje.").arg(f.name));
        }
        const QLatin1StringView expected(fields[i].name);
        if (f.name != expected) {
            if (!inFile(expected)) {
                fieldMismatch(
                    f.line, f.column, QStringLiteral("nedostaje polje \"%1\".").arg(expected));
            }
            fieldMismatch(f.line, f.column,
                QStringLiteral("polje \"%1\" nije na svom mjestu (ovdje treba biti \"%2\").")
                    .arg(f.name, expected));
        }
        const QLatin1StringView type(fields[i].type == FieldType::Text ? "string" : "r8");
        if (f.type != type) {
            fieldMismatch(f.line, f.column,
                QStringLiteral("polje \"%1\" je vrste \"%2\", a treba biti \"%3\".")
                    .arg(f.name, f.type, type));
        }
    }
    if (found.size() < fields.size()) {
        fieldMismatch(m_tokenLine, m_tokenColumn,
            QStringLiteral("nedostaje polje \"%1\".")
                .arg(QLatin1StringView(fields[found.size()].name)));
    }
}

int PacketReader::fieldForAttribute(QStringView name)
{
    // Attributes normally come in field order, so try the next field first.
    const auto &fields = importRecordFields();
    auto matches = [name, &fields](int f) {
        const char *n = fields[size_t(f)].name;
        const auto len = qsizetype(std::strlen(n));
        return name.size() == len && name == QLatin1StringView(n, len);
    };
    if (m_nextField < FieldCount && matches(m_nextField))
        return m_nextField++;
    for (int f = 0; f < FieldCount; ++f) {
        if (matches(f)) {
            m_nextField = f + 1;
            return f;
        }
    }
    return -1;
}

void PacketReader::readRow()
{
    std::array<QStringView, FieldCount> values {};
    std::array<bool, FieldCount> present {};
    const QXmlStreamAttributes attributes = m_xml.attributes();
    m_nextField = 0;
    for (const QXmlStreamAttribute &a : attributes) {
        const int f = fieldForAttribute(a.name());
        if (f < 0)
            continue; // RowState and the like
        values[size_t(f)] = a.value();
        present[size_t(f)] = true;
    }

    const auto &fields = importRecordFields();
    Record record;
    for (int f = 0; f < FieldCount; ++f) {
        if (!present[size_t(f)])
            continue;
        const QStringView value = values[size_t(f)];
        if (fields[size_t(f)].type == FieldType::Text) {
            // UTF-16 to UTF-8 into a reused buffer; the reader never hands
            // out unpaired surrogates.
            m_scratch.clear();
            for (qsizetype i = 0; i < value.size(); ++i) {
                char32_t c = value[i].unicode();
                if (c < 0x80) {
                    m_scratch.push_back(char(c));
                    continue;
                }
                if (QChar::isHighSurrogate(c) && i + 1 < value.size()
                    && value[i + 1].isLowSurrogate()) {
                    c = QChar::surrogateToUcs4(char16_t(c), value[i + 1].unicode());
                    ++i;
                }
                if (c < 0x800) {
                    m_scratch.push_back(char(0xC0 | (c >> 6)));
                } else if (c < 0x10000) {
                    m_scratch.push_back(char(0xE0 | (c >> 12)));
                    m_scratch.push_back(char(0x80 | ((c >> 6) & 0x3F)));
                } else {
                    m_scratch.push_back(char(0xF0 | (c >> 18)));
                    m_scratch.push_back(char(0x80 | ((c >> 12) & 0x3F)));
                    m_scratch.push_back(char(0x80 | ((c >> 6) & 0x3F)));
                }
                m_scratch.push_back(char(0x80 | (c & 0x3F)));
            }
            record.setTextUtf8(f, QByteArrayView(m_scratch.data(), qsizetype(m_scratch.size())));
        } else if (!value.isEmpty()) {
            // C locale only: '.' is the one decimal separator, no grouping,
            // no surrounding spaces.
            m_scratch.clear();
            bool ascii = true;
            for (const QChar c : value) {
                ascii = ascii && c.unicode() < 0x80;
                m_scratch.push_back(char(c.unicode()));
            }
            double number = 0;
            const char *begin = m_scratch.data();
            const char *end = begin + m_scratch.size();
            const auto res = std::from_chars(begin, end, number, std::chars_format::general);
            if (!ascii || res.ec != std::errc() || res.ptr != end || !std::isfinite(number)) {
                fail(QStringLiteral("%1 ima vrijednost %2, a to nije broj.")
                         .arg(rowField(m_rows.size(), f), quoted(value)));
            }
            record.setNumber(f, number);
        }
    }
    m_rows.push_back(std::move(record));
}

std::vector<Record> PacketReader::read()
{
    if (m_bytes.size() > MaxDataFileSize) {
        throw Exception(invalidFile(m_source,
            QStringLiteral("datoteka je prevelika (%1 MB).").arg(m_bytes.size() / (1024 * 1024))));
    }
    if (m_bytes.isEmpty())
        throw Exception(invalidFile(m_source, QStringLiteral("datoteka je prazna.")));
    chooseEncoding();
    if (m_encoding != Encoding::Windows1250) {
        const char *const data = m_bytes.constData();
        if (auto rows = OwnPacketScanner(data + m_pos, data + m_bytes.size()).scan())
            return std::move(*rows);
    }

    m_xml.setNamespaceProcessing(false);
    // Every slice is handed over as UTF-8 (converted here if need be), so
    // the declared encoding must not make the reader decode it again.
    m_xml.addData(QString());
    feed();

    using T = QXmlStreamReader::TokenType;
    if (next() != T::StartElement)
        failAtEnd(QStringLiteral("nema korijenskog elementa."));
    if (!isElement(QLatin1StringView("DATAPACKET"))) {
        failAtEnd(QStringLiteral("korijenski element je \"%1\", a treba biti \"DATAPACKET\".")
                      .arg(m_xml.name().toString()));
    }

    T token = next();
    if (token != T::StartElement)
        fail(QStringLiteral("nedostaje opis polja (METADATA)."));
    if (!isElement(QLatin1StringView("METADATA"))) {
        if (isElement(QLatin1StringView("ROWDATA")))
            fail(QStringLiteral("nedostaje opis polja (METADATA) prije podataka."));
        unexpectedElement(QLatin1StringView("DATAPACKET"));
    }
    if (next() != T::StartElement || !isElement(QLatin1StringView("FIELDS")))
        fail(QStringLiteral("nedostaje popis polja (FIELDS)."));
    readFields();
    token = next();
    if (token == T::StartElement && isElement(QLatin1StringView("PARAMS"))) {
        skipElement(); // the old program's settings (LCID, change log); not ours to use
        token = next();
    }
    if (token != T::EndElement)
        unexpectedElement(QLatin1StringView("METADATA"));

    token = next();
    if (token != T::StartElement)
        fail(QStringLiteral("nedostaju podaci (ROWDATA)."));
    if (!isElement(QLatin1StringView("ROWDATA")))
        unexpectedElement(QLatin1StringView("DATAPACKET"));
    while ((token = next()) == T::StartElement) {
        if (!isElement(QLatin1StringView("ROW")))
            unexpectedElement(QLatin1StringView("ROWDATA"));
        readRow();
        if (next() != T::EndElement)
            unexpectedElement(QLatin1StringView("ROW"));
    }

    if (next() != T::EndElement)
        unexpectedElement(QLatin1StringView("DATAPACKET"));
    if (next() != T::EndDocument)
        fail(QStringLiteral("iza kraja podataka ima još sadržaja."));
    return std::move(m_rows);
}

QString cannotSave(const QString &path, const QString &reason)
{
    return QStringLiteral("Datoteka \"%1\" ne može se spremiti: %2").arg(path, reason);
}

} // namespace

std::vector<Record> parseDataPacket(const QByteArray &bytes, const QString &sourceName)
{
    PacketReader reader(bytes, sourceName);
    return reader.read();
}

QByteArray serializeDataPacket(const std::vector<Record> &rows)
{
    try {
        return serialize(rows);
    } catch (const UnsavableValue &e) {
        throw Exception(QStringLiteral("Podaci se ne mogu spremiti: %1").arg(e.reason));
    }
}

void writeDataPacket(QIODevice &device, const std::vector<Record> &rows)
{
    const QByteArray bytes = serializeDataPacket(rows);
    // A short count is a failure even without an error set: a write that
    // runs out of space reports only what got through.
    const qint64 written = device.write(bytes);
    if (written != bytes.size()) {
        QString reason = device.errorString();
        if (reason.isEmpty() || reason == QLatin1StringView("Unknown error"))
            reason = QStringLiteral("Disk je pun ili je dosegnuto ograničenje veličine datoteke.");
        throw Exception(QStringLiteral("Podaci nisu zapisani do kraja: %1").arg(reason));
    }
}

std::vector<Record> loadDataPacketFile(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        throw Exception(QStringLiteral("Datoteka \"%1\" ne može se otvoriti: %2")
                            .arg(path,
                                info.isDir() ? QStringLiteral("to je mapa.")
                                             : QStringLiteral("to nije obična datoteka.")));
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw Exception(QStringLiteral("Datoteka \"%1\" ne može se otvoriti: %2")
                            .arg(path, file.errorString()));
    }
    const qint64 size = file.size();
    auto tooLarge = [&path](qint64 bytes) {
        return Exception(
            QStringLiteral("Datoteka \"%1\" je prevelika (%2 MB, najviše %3 MB) i neće se učitati.")
                .arg(path, QString::number(bytes / (1024 * 1024)),
                    QString::number(MaxDataFileSize / (1024 * 1024))));
    };
    if (size > MaxDataFileSize)
        throw tooLarge(size);

    // One byte more than reported, so a file that grew meanwhile is noticed.
    QByteArray bytes(qsizetype(size) + 1, Qt::Uninitialized);
    qsizetype got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (got > MaxDataFileSize)
                throw tooLarge(got);
            bytes.resize(std::min<qsizetype>(got + 1024 * 1024, MaxDataFileSize + 1));
        }
        const qint64 n = file.read(bytes.data() + got, bytes.size() - got);
        if (n < 0) {
            throw Exception(QStringLiteral("Datoteka \"%1\" ne može se pročitati: %2")
                                .arg(path, file.errorString()));
        }
        if (n == 0)
            break;
        got += qsizetype(n);
    }
    bytes.truncate(got);
    return parseDataPacket(bytes, path);
}

void saveDataPacketFile(const QString &path, const std::vector<Record> &rows)
{
    QByteArray bytes;
    try {
        bytes = serialize(rows);
    } catch (const UnsavableValue &e) {
        throw Exception(cannotSave(path, e.reason));
    }

    // The register holds patient data: a new file is readable by its owner
    // only. A replaced file keeps the permissions it had.
    replaceFileContents(path, bytes, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace store

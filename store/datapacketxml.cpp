// Every packet that is not in the program's own shape: older files in the
// Windows code page, files edited by hand or written by other programs. Read
// with QXmlStreamReader, checked against the program's field list, and
// refused with the line and column of the fault when they do not fit.

#include "store/datapacket_p.h"

#include "store/codepage.h"
#include "store/exception.h"
#include "store/messagetext.h"
#include "store/platform.h"
#include "store/schema.h"

#include <QStringEncoder>
#include <QXmlStreamReader>

#include <array>

namespace store::packet {

namespace {

enum class Encoding { Utf8, Ascii, Windows1250 };

// How much of the file the XML reader is handed at a time, at first: small
// enough for the slice and what the reader makes of it to stay in the caches.
constexpr qsizetype SliceBytes = 64 * 1024;

class PacketReader
{
public:
    PacketReader(const QByteArray &bytes, const QString &sourceName, bool giveBackRead)
        : m_bytes(bytes)
        , m_source(sourceName)
        , m_giveBack(giveBackRead)
    {
    }

    std::vector<Record> read();

private:
    // Prolog sniffing, before the XML reader sees anything.
    void chooseEncoding();
    [[noreturn]] void failAtByte(qsizetype offset, const QString &reason) const;

    // Feeds the reader the next slice of the file as UTF-8; false at the end.
    bool feed();
    // Gives the pages of the file before `offset` back to the system, when
    // the caller allowed it; they read as zeros afterwards.
    void giveBack(qsizetype offset);

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
    bool isElement(QLatin1StringView name) const { return m_xml.name() == name; }

    const QByteArray &m_bytes;
    const QString &m_source;
    Encoding m_encoding = Encoding::Utf8;
    qsizetype m_start = 0; // past a byte order mark
    qsizetype m_pos = 0; // of the next slice
    qsizetype m_slice = SliceBytes;
    // Where the file first breaks a bound; the reader gets it up to there.
    std::optional<BoundBreach> m_breach;
    // The breach's line and column, found before any byte is given back.
    Position m_breachAt {};
    qsizetype m_limit = 0;
    const bool m_giveBack;
    qsizetype m_givenBack = 0; // bytes of the file given back, from its start
    QXmlStreamReader m_xml;
    qint64 m_tokenLine = 1;
    qint64 m_tokenColumn = 1;
    bool m_resuming = false;

    std::vector<Record> m_rows;
    QStringEncoder m_utf8 { QStringEncoder::Utf8, QStringEncoder::Flag::Stateless };
    QByteArray m_text;
};

void PacketReader::failAtByte(qsizetype offset, const QString &reason) const
{
    const Position at = positionOf(m_bytes, m_start, offset, m_encoding == Encoding::Utf8);
    throw Exception(invalidFileAt(m_source, at.line, at.column, reason));
}

void PacketReader::chooseEncoding()
{
    const char *data = m_bytes.constData();
    const qsizetype size = m_bytes.size();

    bool bom = false;
    if (m_bytes.startsWith("\xEF\xBB\xBF")) {
        bom = true;
        m_start = m_pos = 3;
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

    bool validUtf8 = false;
    if (declared.isEmpty()) {
        // No declaration: the program's own files are pure ASCII; older ones
        // were written in the Windows code page without saying so.
        validUtf8 = rest.isValidUtf8();
        m_encoding = bom || validUtf8 ? Encoding::Utf8 : Encoding::Windows1250;
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
        if (!validUtf8 && !rest.isValidUtf8()) {
            failAtByte(firstInvalidUtf8(data, m_pos, size),
                QStringLiteral("bajtovi nisu ispravan UTF-8."));
        }
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
    // whole file into one string. The reader decodes UTF-8 with state kept
    // from one slice to the next, so a slice may end inside a character.
    if (m_pos >= m_limit) {
        // The reader has taken in everything before the breach without
        // finding a fault of its own.
        if (m_breach)
            throw Exception(
                invalidFileAt(m_source, m_breachAt.line, m_breachAt.column, m_breach->reason));
        return false;
    }
    const qsizetype end = std::min(m_limit, m_pos + m_slice);
    const QByteArrayView slice(m_bytes.constData() + m_pos, end - m_pos);
    if (m_encoding == Encoding::Windows1250)
        m_xml.addData(codepage::decode(slice));
    else
        m_xml.addData(slice.toByteArray());
    m_pos = end;
    giveBack(m_pos);
    return true;
}

void PacketReader::giveBack(qsizetype offset)
{
    // In steps of a megabyte, a call per sixteen slices.
    if (!m_giveBack || offset - m_givenBack < 1024 * 1024)
        return;
    m_givenBack = platform::releasePages(m_bytes.constData(), m_givenBack, offset);
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
    } else if (const QString entity
               = between(QLatin1StringView("Entity '"), QLatin1StringView("' not declared."));
               !entity.isEmpty()) {
        reason = QStringLiteral("entitet \"%1\" nije poznat.").arg(entity);
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
            m_slice = SliceBytes;
        }
        const QXmlStreamReader::TokenType token = m_xml.readNext();
        const bool starved = token == QXmlStreamReader::Invalid
            && m_xml.error() == QXmlStreamReader::PrematureEndOfDocumentError;
        // A long token is read again from its start at every slice; with
        // each slice twice the one before, that re-reading stays within
        // twice the token's length instead of growing with its square.
        if (starved && m_resuming)
            m_slice *= 2;
        m_resuming = starved && feed();
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
    throw Exception(
        QStringLiteral("Datoteka \"%1\" ima drukčiji popis polja od ovog programa "
                       "(redak %2, stupac %3): %4")
            .arg(shownPath(m_source), QString::number(line), QString::number(column), reason));
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

void PacketReader::readRow()
{
    std::array<QStringView, FieldCount> values {};
    std::array<bool, FieldCount> present {};
    const QXmlStreamAttributes attributes = m_xml.attributes();
    for (const QXmlStreamAttribute &a : attributes) {
        const int f = fieldIndex(a.name());
        if (f < 0)
            continue; // RowState and the like
        values[size_t(f)] = a.value();
        present[size_t(f)] = true;
    }

    const auto &fields = importRecordFields();
    RecordBuilder record;
    for (int f = 0; f < FieldCount; ++f) {
        if (!present[size_t(f)])
            continue;
        const QStringView value = values[size_t(f)];
        if (fields[size_t(f)].type == FieldType::Text) {
            m_text.resize(m_utf8.requiredSpace(value.size()));
            const char *end = m_utf8.appendToBuffer(m_text.data(), value);
            if (end - m_text.constData() > MaxValueBytes)
                fail(valueTooLong(m_rows.size(), f));
            record.setTextUtf8(f, QByteArrayView(m_text.constData(), end));
        } else if (!value.isEmpty()) {
            // Any character outside ASCII becomes bytes no number has.
            const std::optional<double> number = parseNumber(value.toUtf8());
            if (!number) {
                fail(QStringLiteral("%1 ima vrijednost %2, a to nije broj.")
                         .arg(rowField(m_rows.size(), f), quoted(value)));
            }
            record.setNumber(f, *number);
        }
    }
    m_rows.push_back(record.take());
}

std::vector<Record> PacketReader::read()
{
    checkSize(m_bytes, m_source);
    chooseEncoding();
    m_breach = firstBoundBreach(m_bytes, m_start);
    m_limit = m_breach ? m_breach->offset : m_bytes.size();
    if (m_breach)
        m_breachAt = positionOf(m_bytes, m_start, m_breach->offset, m_encoding == Encoding::Utf8);

    m_xml.setNamespaceProcessing(false);
    // Every slice is handed over as UTF-8 or as decoded text; a string
    // locks the reader to UTF-8, so that the declared encoding does not
    // make it decode the slices again.
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
        if (m_rows.size() == size_t(MaxRows))
            throw Exception(invalidFile(m_source, tooManyRows()));
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

} // namespace

std::vector<Record> readXml(const QByteArray &bytes, const QString &source, bool giveBackRead)
{
    PacketReader reader(bytes, source, giveBackRead);
    return reader.read();
}

} // namespace store::packet

// The bounds of a data packet, checked on the file's bytes before the XML
// reader sees them. QXmlStreamReader has no limits of its own: it compares
// every attribute of an element with every other one, keeps every open
// element, and holds a comment or a text whole (more than once while it waits
// for the next slice). A lexical pass finds the first place where the file
// leaves the bounds; the XML reader is handed the file only up to there, so
// it still reports any fault that comes earlier, and the bound otherwise.
//
// The pass follows XML's markup closely enough for every well-formed packet
// and is lenient elsewhere. Where the markup itself goes wrong it stops
// looking: the XML reader refuses the file at that point.

#include "store/datapacket_p.h"

#include <array>
#include <cstring>

namespace store::packet {

namespace {

// Bytes that end a name in a tag.
constexpr std::array<bool, 256> makeEndsName()
{
    std::array<bool, 256> ends {};
    for (const char c : { ' ', '\t', '\r', '\n', '=', '/', '>', '<', '?', '"', '\'' })
        ends[static_cast<unsigned char>(c)] = true;
    return ends;
}
constexpr std::array<bool, 256> endsName = makeEndsName();

class BoundsPass
{
public:
    BoundsPass(QByteArrayView bytes, qsizetype from)
        : m_data(bytes.data())
        , m_size(bytes.size())
        , m_i(from)
    {
    }

    std::optional<BoundBreach> run();

private:
    // Each step returns false when it found a breach (in m_breach) or the
    // markup went wrong; true when it moved past what it read.
    bool breach(qsizetype offset, const QString &reason)
    {
        m_breach = BoundBreach { offset, reason };
        return false;
    }
    bool text();
    bool delimited(qsizetype contentStart, QByteArrayView close, const QString &tooLong);
    bool startTag();
    bool endTag();
    // Reads a run that may hold at most MaxTextBytes; false on a breach.
    bool span(qsizetype start, qsizetype end, const QString &tooLong)
    {
        if (end - start > MaxTextBytes)
            return breach(start + MaxTextBytes, tooLong);
        m_i = end;
        return true;
    }
    qsizetype spaceEnd(qsizetype i) const
    {
        while (i < m_size && isXmlSpace(m_data[i]))
            ++i;
        return i;
    }
    qsizetype nameEnd(qsizetype i) const
    {
        while (i < m_size && !endsName[static_cast<unsigned char>(m_data[i])])
            ++i;
        return i;
    }
    static QString nameTooLong()
    {
        return QStringLiteral("ime elementa ili atributa dulje je od 1 MB.");
    }
    static QString spaceTooLong()
    {
        return QStringLiteral("razmak unutar oznake dulji je od 1 MB.");
    }
    bool startsWith(qsizetype i, QByteArrayView what) const
    {
        return m_size - i >= what.size() && std::memcmp(m_data + i, what.data(), what.size()) == 0;
    }

    const char *const m_data;
    const qsizetype m_size;
    qsizetype m_i;
    int m_depth = 0;
    std::optional<BoundBreach> m_breach;
};

std::optional<BoundBreach> BoundsPass::run()
{
    while (m_i < m_size) {
        bool ok;
        if (m_data[m_i] != '<')
            ok = text();
        else if (startsWith(m_i, "<!--"))
            ok = delimited(m_i + 4, "-->", QStringLiteral("komentar je dulji od 1 MB."));
        else if (startsWith(m_i, "<![CDATA["))
            ok = delimited(m_i + 9, "]]>", QStringLiteral("odjeljak CDATA dulji je od 1 MB."));
        else if (startsWith(m_i, "<!DOCTYPE"))
            // Refused whatever it holds; the XML reader would first take in
            // all of its declarations.
            ok = breach(m_i,
                QStringLiteral("sadrži definiciju tipa dokumenta (DOCTYPE), koju program ne "
                               "prihvaća."));
        else if (startsWith(m_i, "<!"))
            ok = false;
        else if (startsWith(m_i, "<?"))
            ok = delimited(
                m_i + 2, "?>", QStringLiteral("instrukcija za obradu (<?…?>) dulja je od 1 MB."));
        else if (startsWith(m_i, "</"))
            ok = endTag();
        else
            ok = startTag();
        if (!ok)
            return m_breach;
    }
    return std::nullopt;
}

bool BoundsPass::text()
{
    const void *lt = std::memchr(m_data + m_i, '<', size_t(m_size - m_i));
    const qsizetype end = lt ? static_cast<const char *>(lt) - m_data : m_size;
    return span(m_i, end, QStringLiteral("tekst između elemenata dulji je od 1 MB."));
}

bool BoundsPass::delimited(qsizetype contentStart, QByteArrayView close, const QString &tooLong)
{
    // Looked for no further than the bound allows.
    const qsizetype searchEnd = std::min(m_size, contentStart + MaxTextBytes + close.size());
    const QByteArrayView window(m_data + contentStart, searchEnd - contentStart);
    const qsizetype at = window.indexOf(close);
    if (at < 0) {
        if (m_size - contentStart > MaxTextBytes)
            return breach(contentStart + MaxTextBytes, tooLong);
        return false; // not closed before the end of the file
    }
    m_i = contentStart + at + close.size();
    return true;
}

bool BoundsPass::startTag()
{
    if (++m_depth > MaxDepth) {
        return breach(
            m_i, QStringLiteral("elementi su ugniježđeni dublje od %1 razine.").arg(MaxDepth));
    }
    const qsizetype nameStart = m_i + 1;
    if (!span(nameStart, nameEnd(nameStart), nameTooLong()))
        return false;
    const QByteArrayView element(m_data + nameStart, m_i - nameStart);
    int attributes = 0;
    for (;;) {
        if (!span(m_i, spaceEnd(m_i), spaceTooLong()))
            return false;
        if (startsWith(m_i, ">")) {
            ++m_i;
            return true;
        }
        if (startsWith(m_i, "/>")) {
            m_i += 2;
            --m_depth;
            return true;
        }
        const qsizetype attributeStart = m_i;
        if (++attributes > MaxAttributes) {
            return breach(attributeStart,
                QStringLiteral("element %1 ima više od %2 atributa.")
                    .arg(quoted(QString::fromUtf8(element)), QString::number(MaxAttributes)));
        }
        if (!span(m_i, nameEnd(m_i), nameTooLong()))
            return false;
        const QByteArrayView attribute(m_data + attributeStart, m_i - attributeStart);
        if (attribute.isEmpty())
            return false; // no name where one belongs
        if (!span(m_i, spaceEnd(m_i), spaceTooLong()) || !startsWith(m_i, "="))
            return false;
        ++m_i;
        if (!span(m_i, spaceEnd(m_i), spaceTooLong()))
            return false;
        if (m_i == m_size || (m_data[m_i] != '"' && m_data[m_i] != '\''))
            return false;
        const char quote = m_data[m_i++];
        const void *close = std::memchr(m_data + m_i, quote, size_t(m_size - m_i));
        const qsizetype valueEnd = close ? static_cast<const char *>(close) - m_data : m_size;
        if (valueEnd - m_i > MaxTextBytes) {
            return breach(m_i + MaxTextBytes,
                QStringLiteral("vrijednost atributa %1 dulja je od 1 MB.")
                    .arg(quoted(QString::fromUtf8(attribute))));
        }
        if (!close)
            return false;
        m_i = valueEnd + 1;
    }
}

bool BoundsPass::endTag()
{
    const qsizetype nameStart = m_i + 2;
    if (!span(nameStart, nameEnd(nameStart), nameTooLong()))
        return false;
    if (!span(m_i, spaceEnd(m_i), spaceTooLong()))
        return false;
    if (!startsWith(m_i, ">") || m_depth == 0)
        return false;
    ++m_i;
    --m_depth;
    return true;
}

} // namespace

std::optional<BoundBreach> firstBoundBreach(QByteArrayView bytes, qsizetype from)
{
    return BoundsPass(bytes, from).run();
}

} // namespace store::packet

#include "store/search.h"

#include "store/clientdataset.h"
#include "store/schema.h"
#include "store/utf8.h"

#include <QChar>
#include <QtAlgorithms>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <string_view>
#include <vector>

namespace store {

namespace {

// ------------------------------------------------------------- folding
//
// Both the text looked for and every field are reduced to a folded form
// (UTF-8) and compared byte for byte: a character loses its diacritics (its
// decomposition without the marks), takes its case-folded form, and a few
// letters that no decomposition reaches are spelled as they are without
// diacritics. The folded form of valid UTF-8 is valid UTF-8, so a match
// always begins and ends on whole characters.

// Letters with no decomposition to a base letter.
const char *spelledWithoutDiacritics(char32_t c)
{
    switch (c) {
    case 0x0110: // Đ
    case 0x0111: // đ
        return "dj";
    case 0x00DF: // ß
    case 0x1E9E: // ẞ
        return "ss";
    case 0x00C6: // Æ
    case 0x00E6: // æ
        return "ae";
    case 0x0152: // Œ
    case 0x0153: // œ
        return "oe";
    case 0x00D8: // Ø
    case 0x00F8: // ø
        return "o";
    case 0x0141: // Ł
    case 0x0142: // ł
        return "l";
    case 0x0131: // ı
        return "i";
    default:
        return nullptr;
    }
}

// The general rule, for any character; `depth` stops a runaway chain.
void foldSlow(char32_t c, std::string &out, int depth = 0)
{
    if (c == 0)
        return; // nothing a box takes; keeps the folded forms free of NUL
    if (const char *spelled = spelledWithoutDiacritics(c)) {
        out += spelled;
        return;
    }
    if (depth < 8) {
        const QString decomposed = QChar::decomposition(c);
        if (!decomposed.isEmpty()) {
            for (qsizetype i = 0; i < decomposed.size(); ++i) {
                char32_t d = decomposed[i].unicode();
                if (QChar::isHighSurrogate(d) && i + 1 < decomposed.size()
                    && decomposed[i + 1].isLowSurrogate()) {
                    d = QChar::surrogateToUcs4(
                        decomposed[i].unicode(), decomposed[i + 1].unicode());
                    ++i;
                }
                foldSlow(d, out, depth + 1);
            }
            return;
        }
        switch (QChar::category(c)) {
        case QChar::Mark_NonSpacing:
        case QChar::Mark_SpacingCombining:
        case QChar::Mark_Enclosing:
            return;
        default:
            break;
        }
        const char32_t folded = QChar::toCaseFolded(c);
        if (folded != c) {
            foldSlow(folded, out, depth + 1);
            return;
        }
    }
    appendUtf8(out, c);
}

// The folded forms of the characters a Croatian register is made of (ASCII
// and the Latin blocks up to U+024F), worked out once.
class FoldTable
{
public:
    static constexpr char32_t Size = 0x250;

    FoldTable()
    {
        std::string folded;
        for (char32_t c = 0; c < Size; ++c) {
            folded.clear();
            foldSlow(c, folded);
            Entry &e = m_entries[c];
            if (folded.size() <= e.bytes.size()) {
                e.length = quint8(folded.size());
                std::copy(folded.begin(), folded.end(), e.bytes.begin());
            } else {
                e.length = Long;
            }
        }
    }

    static const FoldTable &instance()
    {
        static const FoldTable table;
        return table;
    }

    void append(char32_t c, std::string &out) const
    {
        if (c < Size) {
            const Entry &e = m_entries[c];
            if (e.length != Long) {
                out.append(e.bytes.data(), e.length);
                return;
            }
        }
        foldSlow(c, out);
    }

    char ascii(unsigned char b) const { return m_entries[b].bytes[0]; }

    struct Entry
    {
        std::array<char, 4> bytes {};
        quint8 length = 0;
    };
    // The worked-out form of `c`, or nullptr when it must be folded the slow way.
    const Entry *entry(char32_t c) const
    {
        return c < Size && m_entries[c].length != Long ? &m_entries[c] : nullptr;
    }

private:
    static constexpr quint8 Long = 0xFF;
    std::array<Entry, Size> m_entries;
};

char32_t decodeAt(QStringView text, qsizetype &i)
{
    const char16_t u = text[i].unicode();
    ++i;
    if (QChar::isHighSurrogate(u) && i < text.size() && text[i].isLowSurrogate())
        return QChar::surrogateToUcs4(u, text[i++].unicode());
    return u;
}

void foldString(QStringView text, std::string &out)
{
    const FoldTable &table = FoldTable::instance();
    for (qsizetype i = 0; i < text.size();)
        table.append(decodeAt(text, i), out);
}

// The character starting at `p` and its length in bytes; a byte that
// starts no well-formed sequence is read alone, as U+FFFD.
char32_t characterAt(const unsigned char *p, const unsigned char *end, int &length)
{
    char32_t c = 0;
    length = decodeUtf8(p, end, c);
    if (length > 0)
        return c;
    length = 1;
    return 0xFFFD;
}

// Characters any number can be shown with in the user's locale.
std::string numberAlphabet()
{
    std::string folded;
    for (const double sample : { -1234567.5, 890.5, -1.5e+100, 1.5e-100 })
        foldString(floatToText(sample, 10), folded);
    return folded;
}

// Looks for the text in one record after another, folding each into one
// buffer: the fields in the table's order, each ended by a NUL, which no
// folded text holds, so no match runs from one field into the next.
class RecordScanner
{
public:
    explicit RecordScanner(const SearchText &text)
        : m_text(text)
        , m_table(FoldTable::instance())
        , m_digitCores(text.digitCores())
    {
        m_buffer.resize(1024);
    }

    std::optional<int> firstField(const Record &record)
    {
        const auto &fields = importRecordFields();
        m_used = 0;
        const QByteArrayView all = record.allTextUtf8();
        const auto *const limit = reinterpret_cast<const unsigned char *>(all.data() + all.size());
        for (int f = 0; f < FieldCount; ++f) {
            m_start[size_t(f)] = m_used;
            if (textSlot(f) >= 0) {
                foldUtf8(record.textUtf8(f), limit);
            } else if (m_text.mayOccurInNumbers()) {
                const auto value = record.number(f);
                if (value && mayShow(*value)) {
                    m_scratch.clear();
                    foldString(floatToText(*value, fields[size_t(f)].precision), m_scratch);
                    append(m_scratch.data(), m_scratch.size());
                }
            }
            append("", 1);
        }
        const size_t at = std::string_view(m_buffer.data(), m_used).find(m_text.folded());
        if (at == std::string_view::npos)
            return std::nullopt;
        const auto after = std::upper_bound(m_start.begin(), m_start.end(), at);
        return int(after - m_start.begin()) - 1;
    }

private:
    void reserve(size_t more)
    {
        if (m_used + more > m_buffer.size())
            m_buffer.resize(std::max(m_buffer.size() * 2, m_used + more));
    }

    void append(const char *bytes, size_t length)
    {
        reserve(length);
        std::copy(bytes, bytes + length, m_buffer.data() + m_used);
        m_used += length;
    }

    // The hot loop: every text field of every record passes through here.
    // A character below U+0250 folds to at most twice its UTF-8 length; a
    // worked-out form is copied as four bytes, of which `length` count.
    void foldUtf8(QByteArrayView utf8, const unsigned char *limit)
    {
        reserve(size_t(utf8.size()) * 2 + 8);
        const auto *p = reinterpret_cast<const unsigned char *>(utf8.data());
        const auto *const end = p + utf8.size();
        char *out = m_buffer.data() + m_used;
        while (p < end) {
            if (limit - p >= 8) {
                // Up to eight ASCII characters at once: A-Z to a-z, the rest
                // as is; what lies past the field is written and not counted.
                quint64 word;
                std::memcpy(&word, p, 8);
                constexpr quint64 High = 0x8080808080808080ull;
                // Bytes in memory order; before the first non-ASCII byte no
                // carry of the additions below crosses a byte.
                const quint64 high = qFromLittleEndian(word) & High;
                const int ascii
                    = std::min<int>(high ? qCountTrailingZeroBits(high) / 8 : 8, int(end - p));
                if (ascii > 0) {
                    word = qFromLittleEndian(word);
                    const quint64 fromA = word + 0x3F3F3F3F3F3F3F3Full; // high bit: >= 'A'
                    const quint64 pastZ = word + 0x2525252525252525ull; // high bit: > 'Z'
                    word = qToLittleEndian(word | (((fromA & ~pastZ) & High) >> 2));
                    std::memcpy(out, &word, 8);
                    out += ascii;
                    p += ascii;
                    continue;
                }
            }
            const unsigned char b = *p;
            if (b < 0x80) {
                *out++ = m_table.ascii(b);
                ++p;
                continue;
            }
            int length = 1;
            const char32_t c = characterAt(p, end, length);
            p += length;
            if (const auto *folded = m_table.entry(c)) {
                std::memcpy(out, folded->bytes.data(), 4);
                out += folded->length;
                continue;
            }
            m_used = size_t(out - m_buffer.data());
            m_scratch.clear();
            foldSlow(c, m_scratch);
            append(m_scratch.data(), m_scratch.size());
            reserve(size_t(end - p) * 2 + 8);
            out = m_buffer.data() + m_used;
        }
        m_used = size_t(out - m_buffer.data());
    }

    // Whether `value`, as a box shows it, can hold the text's digits. Its
    // shortest exact form is cheap to have; the shown form (Qt's, in the
    // user's locale) is not, and is made only for numbers that pass here.
    // With at most ten significant digits, the shortest form's digits are
    // those shown, padded with zeros out to the decimal point, and the
    // exponent's digits, if one is shown, are its exponent's: so a run of
    // digits shown, less its outer zeros, lies within either.
    bool mayShow(double value) const
    {
        if (m_digitCores.empty())
            return true;
        char chars[64];
        const auto result
            = std::to_chars(chars, chars + sizeof chars, value, std::chars_format::scientific);
        if (result.ec != std::errc())
            return true;
        const std::string_view text(chars, size_t(result.ptr - chars));
        char digits[10];
        size_t count = 0;
        size_t i = 0;
        for (; i < text.size() && text[i] != 'e'; ++i) {
            if (text[i] >= '0' && text[i] <= '9') {
                if (count == sizeof digits)
                    return true; // shown rounded: its digits are not these
                digits[count++] = text[i];
            }
        }
        if (i == text.size())
            return true; // not finite
        std::string_view exponent = text.substr(i + 1);
        if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-'))
            exponent.remove_prefix(1);
        const std::string_view mantissa(digits, count);
        for (const std::string &core : m_digitCores) {
            if (mantissa.find(core) == std::string_view::npos
                && exponent.find(core) == std::string_view::npos)
                return false;
        }
        return true;
    }

    const SearchText &m_text;
    const FoldTable &m_table;
    const std::vector<std::string> &m_digitCores;
    std::string m_buffer; // used up to m_used
    size_t m_used = 0;
    std::string m_scratch;
    std::array<size_t, FieldCount> m_start {};
};

} // namespace

SearchText::SearchText(QStringView text)
{
    foldString(text, m_folded);
    const std::string alphabet = numberAlphabet();
    m_mayOccurInNumbers = !m_folded.empty()
        && std::all_of(m_folded.begin(), m_folded.end(),
            [&](char c) { return alphabet.find(c) != std::string::npos; });
    std::string run;
    for (const char c : m_folded + '\0') {
        if (c >= '0' && c <= '9') {
            run.push_back(c);
            continue;
        }
        const size_t first = run.find_first_not_of('0');
        if (first != std::string::npos)
            m_digitCores.push_back(run.substr(first, run.find_last_not_of('0') + 1 - first));
        run.clear();
    }
}

std::optional<TextSpan> SearchText::indexIn(QStringView haystack) const
{
    if (isEmpty())
        return std::nullopt;
    // The folded haystack, and for each of its characters where it came from.
    struct Piece
    {
        size_t folded; // its first byte in the folded text
        qsizetype start; // its UTF-16 positions in the haystack
        qsizetype end;
    };
    std::string folded;
    std::vector<Piece> pieces;
    const FoldTable &table = FoldTable::instance();
    for (qsizetype i = 0; i < haystack.size();) {
        const qsizetype start = i;
        const char32_t c = decodeAt(haystack, i);
        pieces.push_back({ folded.size(), start, i });
        table.append(c, folded);
    }
    const size_t at = std::string_view(folded).find(m_folded);
    if (at == std::string_view::npos)
        return std::nullopt;
    const size_t last = at + m_folded.size() - 1;
    // The characters whose folded forms hold the first and the last byte;
    // marks that fold to nothing after the last go with it.
    const auto holding = [&](size_t byte) {
        return std::upper_bound(pieces.begin(), pieces.end(), byte, [](size_t b, const Piece &p) {
            return b < p.folded;
        }) - 1;
    };
    const auto first = holding(at);
    auto end = holding(last);
    while (end + 1 != pieces.end()
        && (end + 2 == pieces.end() ? folded.size() : (end + 2)->folded) == (end + 1)->folded)
        ++end;
    return TextSpan { first->start, end->end - first->start };
}

void appendFolded(QStringView text, std::string &out) { foldString(text, out); }

void appendFoldedUtf8(QByteArrayView utf8, std::string &out)
{
    const FoldTable &table = FoldTable::instance();
    const auto *p = reinterpret_cast<const unsigned char *>(utf8.data());
    const auto *const end = p + utf8.size();
    while (p < end) {
        if (*p < 0x80) {
            out.push_back(table.ascii(*p++));
            continue;
        }
        int length = 1;
        const char32_t c = characterAt(p, end, length);
        p += length;
        table.append(c, out);
    }
}

QString displayedText(const Record &record, int field)
{
    if (textSlot(field) >= 0)
        return record.text(field);
    const auto value = record.number(field);
    return value ? floatToText(*value, importRecordFields()[size_t(field)].precision) : QString();
}

std::optional<SearchHit> findRecord(
    const ClientDataSet &table, const SearchText &text, SearchDirection direction)
{
    const int rows = table.rowCount();
    if (text.isEmpty() || rows == 0)
        return std::nullopt;
    int current = table.currentRow();
    if (current >= rows)
        current = -1;
    const bool forward = direction == SearchDirection::Forward;
    RecordScanner scanner(text);
    for (int step = 1; step <= rows; ++step) {
        int row;
        if (current < 0)
            row = forward ? step - 1 : rows - step;
        else
            row = forward ? (current + step) % rows : (current - step + rows) % rows;
        const Record &record = table.rowRecord(row);
        if (const auto field = scanner.firstField(record)) {
            const auto span = text.indexIn(displayedText(record, *field));
            return SearchHit { row, *field, span.value_or(TextSpan {}) };
        }
    }
    return std::nullopt;
}

} // namespace store

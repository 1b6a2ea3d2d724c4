#pragma once

#include "store/record.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <string>
#include <vector>

namespace store {

class ClientDataSet;

// A piece of a field's displayed text, in UTF-16 positions.
struct TextSpan
{
    qsizetype start = 0;
    qsizetype length = 0;
};

// Text to look for, prepared once for a whole register. Neither letter case
// nor diacritics count, so "saric" finds "Šarić" and "ŠARIĆ" finds "saric".
// "đ" reads as "dj", the way it is written without diacritics: "dj" finds
// "đ" and "đ" finds "dj". It does not stand for a plain "d": "dakovo" does
// not find "Đakovo" (though "d", a prefix of "dj", finds "đ").
class SearchText
{
public:
    explicit SearchText(QStringView text);

    // Nothing to look for: empty, or only marks that do not count.
    bool isEmpty() const { return m_folded.empty(); }

    // Where the text first occurs in `haystack`, or nothing.
    std::optional<TextSpan> indexIn(QStringView haystack) const;

    // Whether the text can occur in a number as the boxes show it at all:
    // only if it is made of digits, signs, the decimal separator and the
    // exponent letter of the user's locale.
    bool mayOccurInNumbers() const { return m_mayOccurInNumbers; }

    // The folded form (UTF-8) that is looked for.
    const std::string &folded() const { return m_folded; }
    // Its runs of digits 0-9 without their outer zeros (and none that is
    // only zeros): what a number must show for the text to occur in it.
    const std::vector<std::string> &digitCores() const { return m_digitCores; }

private:
    std::string m_folded;
    std::vector<std::string> m_digitCores;
    bool m_mayOccurInNumbers = false;
};

// Appends the form in which text is compared to `out`: the folding
// SearchText applies, letter case and diacritics aside. From UTF-16 text,
// or from UTF-8 as a record keeps it (a stray byte reads as U+FFFD).
void appendFolded(QStringView text, std::string &out);
void appendFoldedUtf8(QByteArrayView utf8, std::string &out);

// What a field shows in the grid and in its box: a text field its text, a
// number field its value with the field's display precision, in the user's
// locale.
QString displayedText(const Record &record, int field);

enum class SearchDirection { Forward, Backward };

struct SearchHit
{
    int row = -1; // in ClientDataSet::rowCount() terms
    int field = -1; // the first field, in the table's order, that holds the text
    TextSpan span; // where, in that field's displayedText()
};

// The next record that holds `text` in the displayed text of any of its
// fields: forward, from the record after the current one on, past the last
// record round to the first; backward, from the one before it back, past
// the first round to the last. The current record comes last. A record
// being edited or inserted is searched as it stands, unposted values and
// all. Nothing when no record holds the text, or the text is empty.
std::optional<SearchHit> findRecord(
    const ClientDataSet &table, const SearchText &text, SearchDirection direction);

} // namespace store

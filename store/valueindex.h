#pragma once

#include "store/record.h"

#include <QObject>
#include <QStringList>
#include <QStringView>

#include <array>
#include <string>
#include <vector>

namespace store {

class ClientDataSet;
struct TableChange;

// The values the text fields hold in the posted records of a table, to be
// offered while a box is typed in. For each text field it keeps every
// distinct value once, with the number of records that hold it, in the
// order in which the values were last entered: at a load, a value counts
// as entered by the last record that holds it (the register keeps its
// records in the order they were entered); after that, a posted record
// enters the values that it changed. A value no record holds any more is
// not offered.
//
// It follows the table's changes itself. A field's values are gathered the
// first time that field is asked for; until then only the table's record
// handles are copied, one pointer each, which keeps a start-up cheap.
class ValueIndex : public QObject
{
    Q_OBJECT
public:
    explicit ValueIndex(const ClientDataSet *table, QObject *parent = nullptr);
    ~ValueIndex() override;

    // Up to `limit` values of `field` that begin with `typed`, neither
    // letter case nor diacritics counting (as the find compares), the most
    // recently entered first. None for a number field or when `typed`
    // holds nothing to compare.
    QStringList startingWith(int field, QStringView typed, int limit) const;

    // Gathers every text field's values now, as the first look-up in each
    // field would.
    void buildAll() const;

private:
    struct Entry
    {
        quint32 textBegin = 0;
        quint32 textSize = 0;
        quint32 foldedBegin = 0;
        quint32 foldedSize = 0;
        quint32 hash = 0;
        qint32 records = 0; // how many posted records hold it
        qint32 newer = -1; // the entry entered after this one, or -1
        qint32 older = -1;
    };
    struct FieldValues
    {
        bool built = false;
        std::string bytes; // every value's UTF-8, then its folded form
        std::vector<Entry> entries;
        std::vector<qint32> buckets; // open addressing: entry + 1, 0 for none
        qint32 newest = -1;
        qint32 oldest = -1;
    };

    void follow(const TableChange &change);
    void build(int field) const;
    void forget();
    // A record came or went: the counts of its values follow in every
    // field gathered so far.
    void countIn(const Record &record);
    void countOut(const Record &record);

    static qint32 find(const FieldValues &values, QByteArrayView text, quint32 hash);
    static qint32 add(FieldValues &values, QByteArrayView text, quint32 hash, bool newest);
    static void unlink(FieldValues &values, qint32 entry);
    static void linkNewest(FieldValues &values, qint32 entry);
    static void linkOldest(FieldValues &values, qint32 entry);
    // The entry of `text`, made (as the newest or the oldest) if there is none.
    static qint32 entryOf(FieldValues &values, QByteArrayView text, bool newest);

    std::vector<Record> m_rows;
    mutable std::array<FieldValues, TextFieldCount> m_fields;
};

} // namespace store

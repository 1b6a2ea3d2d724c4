#include "store/valueindex.h"

#include "store/clientdataset.h"
#include "store/schema.h"
#include "store/search.h"

#include <QHashFunctions>

#include <algorithm>
#include <cstring>

namespace store {

namespace {

// Eight bytes at a time, from a seed drawn per process (Qt's own), so that
// a data file cannot be made of values that all fall on one bucket. Every
// value of every record passes through here when a field is gathered.
quint32 hashOf(QByteArrayView text)
{
    static const quint64 seed = quint64(QHashSeed::globalSeed()) | 1;
    constexpr quint64 K = 0x9E3779B97F4A7C15ull;
    quint64 h = seed ^ (quint64(text.size()) * K);
    const char *p = text.data();
    qsizetype left = text.size();
    while (left > 0) {
        quint64 word = 0;
        const size_t n = size_t(std::min<qsizetype>(left, 8));
        std::memcpy(&word, p, n);
        h = (h ^ word) * K;
        h ^= h >> 29;
        p += n;
        left -= qsizetype(n);
    }
    h ^= h >> 32;
    h *= 0xD6E8FEB86659FD93ull;
    h ^= h >> 32;
    return quint32(h);
}

QByteArrayView textOf(const std::string &bytes, quint32 begin, quint32 size)
{
    return QByteArrayView(bytes.data() + begin, qsizetype(size));
}

} // namespace

ValueIndex::ValueIndex(const ClientDataSet *table, QObject *parent)
    : QObject(parent)
    , m_rows(table->records())
{
    connect(table, &ClientDataSet::changed, this, &ValueIndex::follow);
}

ValueIndex::~ValueIndex() = default;

void ValueIndex::forget()
{
    for (FieldValues &values : m_fields)
        values = FieldValues();
}

void ValueIndex::follow(const TableChange &change)
{
    switch (change.kind) {
    case TableChange::Reset:
        m_rows = *change.all;
        forget();
        break;
    case TableChange::Posted:
        if (change.row == int(m_rows.size())) {
            m_rows.push_back(*change.record);
            countIn(*change.record);
        } else {
            Record &old = m_rows[size_t(change.row)];
            const Record &now = *change.record;
            for (int f = 0; f < FieldCount; ++f) {
                const int slot = textSlot(f);
                if (slot < 0 || !m_fields[size_t(slot)].built)
                    continue;
                const QByteArrayView was = old.textUtf8(f);
                const QByteArrayView is = now.textUtf8(f);
                if (was == is)
                    continue; // not entered again: the record was changed elsewhere
                FieldValues &values = m_fields[size_t(slot)];
                if (const qint32 e = was.isEmpty() ? -1 : find(values, was, hashOf(was)); e >= 0)
                    --values.entries[size_t(e)].records;
                if (!is.isEmpty()) {
                    const qint32 e = entryOf(values, is, true);
                    ++values.entries[size_t(e)].records;
                    unlink(values, e);
                    linkNewest(values, e);
                }
            }
            old = now;
        }
        break;
    case TableChange::Deleted:
        countOut(m_rows[size_t(change.row)]);
        m_rows.erase(m_rows.begin() + change.row);
        break;
    case TableChange::Inserted: {
        m_rows.insert(m_rows.begin() + change.row, *change.record);
        // Brought back, not entered: its values keep their places.
        for (int f = 0; f < FieldCount; ++f) {
            const int slot = textSlot(f);
            if (slot < 0 || !m_fields[size_t(slot)].built)
                continue;
            const QByteArrayView text = change.record->textUtf8(f);
            if (!text.isEmpty()) {
                FieldValues &values = m_fields[size_t(slot)];
                ++values.entries[size_t(entryOf(values, text, true))].records;
            }
        }
        break;
    }
    case TableChange::Purged: {
        size_t kept = 0;
        size_t next = 0;
        for (size_t i = 0; i < m_rows.size(); ++i) {
            if (next < change.rows.size() && size_t(change.rows[next]) == i) {
                countOut(m_rows[i]);
                ++next;
                continue;
            }
            if (kept != i)
                m_rows[kept] = std::move(m_rows[i]);
            ++kept;
        }
        m_rows.resize(kept);
        break;
    }
    }
}

void ValueIndex::countIn(const Record &record)
{
    for (int f = 0; f < FieldCount; ++f) {
        const int slot = textSlot(f);
        if (slot < 0 || !m_fields[size_t(slot)].built)
            continue;
        const QByteArrayView text = record.textUtf8(f);
        if (text.isEmpty())
            continue;
        FieldValues &values = m_fields[size_t(slot)];
        const qint32 e = entryOf(values, text, true);
        ++values.entries[size_t(e)].records;
        unlink(values, e);
        linkNewest(values, e);
    }
}

void ValueIndex::countOut(const Record &record)
{
    for (int f = 0; f < FieldCount; ++f) {
        const int slot = textSlot(f);
        if (slot < 0 || !m_fields[size_t(slot)].built)
            continue;
        const QByteArrayView text = record.textUtf8(f);
        if (text.isEmpty())
            continue;
        FieldValues &values = m_fields[size_t(slot)];
        const qint32 e = find(values, text, hashOf(text));
        if (e >= 0)
            --values.entries[size_t(e)].records;
    }
}

void ValueIndex::build(int field) const
{
    const int slot = textSlot(field);
    FieldValues &values = m_fields[size_t(slot)];
    values = FieldValues();
    values.built = true;
    // From the last record back: each value is met first where it was
    // entered last, and goes behind those met before it.
    for (auto row = m_rows.rbegin(); row != m_rows.rend(); ++row) {
        const QByteArrayView text = row->textUtf8(field);
        if (!text.isEmpty())
            ++values.entries[size_t(entryOf(values, text, false))].records;
    }
}

void ValueIndex::buildAll() const
{
    for (int f = 0; f < FieldCount; ++f) {
        const int slot = textSlot(f);
        if (slot >= 0 && !m_fields[size_t(slot)].built)
            build(f);
    }
}

QStringList ValueIndex::startingWith(int field, QStringView typed, int limit) const
{
    QStringList found;
    const int slot = field >= 0 && field < FieldCount ? textSlot(field) : -1;
    if (slot < 0 || limit <= 0)
        return found;
    std::string prefix;
    appendFolded(typed, prefix);
    if (prefix.empty())
        return found;
    if (!m_fields[size_t(slot)].built)
        build(field);
    const FieldValues &values = m_fields[size_t(slot)];
    const char *const bytes = values.bytes.data();
    for (qint32 e = values.newest; e >= 0; e = values.entries[size_t(e)].older) {
        const Entry &entry = values.entries[size_t(e)];
        if (entry.records > 0 && entry.foldedSize >= prefix.size()
            && std::memcmp(bytes + entry.foldedBegin, prefix.data(), prefix.size()) == 0) {
            found << QString::fromUtf8(textOf(values.bytes, entry.textBegin, entry.textSize));
            if (found.size() == limit)
                break;
        }
    }
    return found;
}

// ------------------------------------------------------------ the table

qint32 ValueIndex::find(const FieldValues &values, QByteArrayView text, quint32 hash)
{
    if (values.buckets.empty())
        return -1;
    const size_t mask = values.buckets.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const qint32 slot = values.buckets[i];
        if (slot == 0)
            return -1;
        const Entry &entry = values.entries[size_t(slot - 1)];
        if (entry.hash == hash && entry.textSize == quint32(text.size())
            && std::memcmp(values.bytes.data() + entry.textBegin, text.data(), size_t(text.size()))
                == 0)
            return slot - 1;
    }
}

qint32 ValueIndex::add(FieldValues &values, QByteArrayView text, quint32 hash, bool newest)
{
    // Kept at most half full, so a miss ends soon.
    if ((values.entries.size() + 1) * 2 > values.buckets.size()) {
        std::vector<qint32> buckets(std::max<size_t>(64, values.buckets.size() * 2), 0);
        const size_t mask = buckets.size() - 1;
        for (size_t e = 0; e < values.entries.size(); ++e) {
            size_t i = values.entries[e].hash & mask;
            while (buckets[i] != 0)
                i = (i + 1) & mask;
            buckets[i] = qint32(e + 1);
        }
        values.buckets = std::move(buckets);
    }
    Entry entry;
    entry.hash = hash;
    entry.textBegin = quint32(values.bytes.size());
    entry.textSize = quint32(text.size());
    values.bytes.append(text.data(), size_t(text.size()));
    entry.foldedBegin = quint32(values.bytes.size());
    appendFoldedUtf8(text, values.bytes);
    entry.foldedSize = quint32(values.bytes.size() - entry.foldedBegin);
    const qint32 e = qint32(values.entries.size());
    values.entries.push_back(entry);
    const size_t mask = values.buckets.size() - 1;
    size_t i = hash & mask;
    while (values.buckets[i] != 0)
        i = (i + 1) & mask;
    values.buckets[i] = e + 1;
    if (newest)
        linkNewest(values, e);
    else
        linkOldest(values, e);
    return e;
}

qint32 ValueIndex::entryOf(FieldValues &values, QByteArrayView text, bool newest)
{
    const quint32 hash = hashOf(text);
    const qint32 e = find(values, text, hash);
    return e >= 0 ? e : add(values, text, hash, newest);
}

void ValueIndex::unlink(FieldValues &values, qint32 e)
{
    Entry &entry = values.entries[size_t(e)];
    if (entry.newer >= 0)
        values.entries[size_t(entry.newer)].older = entry.older;
    else
        values.newest = entry.older;
    if (entry.older >= 0)
        values.entries[size_t(entry.older)].newer = entry.newer;
    else
        values.oldest = entry.newer;
    entry.newer = entry.older = -1;
}

void ValueIndex::linkNewest(FieldValues &values, qint32 e)
{
    Entry &entry = values.entries[size_t(e)];
    entry.newer = -1;
    entry.older = values.newest;
    if (values.newest >= 0)
        values.entries[size_t(values.newest)].newer = e;
    values.newest = e;
    if (values.oldest < 0)
        values.oldest = e;
}

void ValueIndex::linkOldest(FieldValues &values, qint32 e)
{
    Entry &entry = values.entries[size_t(e)];
    entry.older = -1;
    entry.newer = values.oldest;
    if (values.oldest >= 0)
        values.entries[size_t(values.oldest)].older = e;
    values.oldest = e;
    if (values.newest < 0)
        values.newest = e;
}

} // namespace store

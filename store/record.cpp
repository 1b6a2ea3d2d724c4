#include "store/record.h"

#include <QtAlgorithms>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace store {

// The block behind a record: this header, then the set numbers (8 bytes
// each, in slot order), then the end offset of each text field within the
// text (`endWidth` bytes each), then the text. Every byte of it follows
// from the record's values, so equal records have equal blocks.
struct Record::Data
{
    std::atomic<int> ref;
    quint8 numberSet; // bit per float slot
    quint8 endWidth; // 1, 2 or 4; 0 when every text field is empty
    // Where the ends and the text begin after the header, kept so that
    // reading a field (a search reads every field of every record) needs
    // no counting.
    quint8 endsAt;
    quint8 textAt;

    const char *payload() const { return reinterpret_cast<const char *>(this + 1); }
    char *payload() { return reinterpret_cast<char *>(this + 1); }
    const char *text() const { return payload() + textAt; }
    quint32 end(int slot) const
    {
        const char *at = payload() + endsAt + qsizetype(endWidth) * slot;
        switch (endWidth) {
        case 0:
            return 0;
        case 1:
            return quint8(*at);
        case 2: {
            quint16 v;
            std::memcpy(&v, at, sizeof v);
            return v;
        }
        default: {
            quint32 v;
            std::memcpy(&v, at, sizeof v);
            return v;
        }
        }
    }
    // Bytes after the header.
    qsizetype payloadSize() const { return textAt + end(TextFieldCount - 1); }
};
void Record::release(Data *d) noexcept
{
    static_assert(sizeof(Data) == 8, "the numbers after the header stay aligned");
    if (d && d->ref.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        d->~Data();
        std::free(d);
    }
}

Record::Record(const Record &other) noexcept
    : d(other.d)
{
    if (d)
        d->ref.fetch_add(1, std::memory_order_relaxed);
}

Record &Record::operator=(const Record &other) noexcept
{
    if (other.d)
        other.d->ref.fetch_add(1, std::memory_order_relaxed);
    release(d);
    d = other.d;
    return *this;
}

Record &Record::operator=(Record &&other) noexcept
{
    if (this != &other) {
        release(d);
        d = other.d;
        other.d = nullptr;
    }
    return *this;
}

Record::~Record() { release(d); }

QByteArrayView Record::textUtf8(int field) const
{
    const int slot = textSlot(field);
    Q_ASSERT(slot >= 0);
    if (!d)
        return {};
    const quint32 begin = slot == 0 ? 0 : d->end(slot - 1);
    return QByteArrayView(d->text() + begin, qsizetype(d->end(slot) - begin));
}

QByteArrayView Record::allTextUtf8() const
{
    if (!d)
        return {};
    return QByteArrayView(d->text(), qsizetype(d->end(TextFieldCount - 1)));
}

QString Record::text(int field) const { return QString::fromUtf8(textUtf8(field)); }

void Record::setText(int field, QStringView value) { setTextUtf8(field, value.toUtf8()); }

void Record::setTextUtf8(int field, QByteArrayView utf8)
{
    if (textUtf8(field) == utf8)
        return;
    RecordBuilder builder(*this);
    builder.setTextUtf8(field, utf8);
    *this = builder.take();
}

std::optional<double> Record::number(int field) const
{
    const int slot = floatSlot(field);
    Q_ASSERT(slot >= 0);
    if (!d || !(d->numberSet & (1u << slot)))
        return std::nullopt;
    double value;
    const quint8 before = quint8(d->numberSet & ((1u << slot) - 1));
    std::memcpy(&value, d->payload() + sizeof(double) * qPopulationCount(before), sizeof value);
    return value;
}

void Record::setNumber(int field, std::optional<double> value)
{
    RecordBuilder builder(*this);
    builder.setNumber(field, value);
    *this = builder.take();
}

bool Record::isEmpty(int field) const
{
    if (textSlot(field) >= 0)
        return textUtf8(field).isEmpty();
    return !number(field).has_value();
}

bool operator==(const Record &a, const Record &b)
{
    if (a.d == b.d)
        return true;
    if (!a.d || !b.d || a.d->numberSet != b.d->numberSet || a.d->endWidth != b.d->endWidth)
        return false;
    const qsizetype size = a.d->payloadSize();
    return size == b.d->payloadSize()
        && std::memcmp(a.d->payload(), b.d->payload(), size_t(size)) == 0;
}

RecordBuilder::RecordBuilder(const Record &record)
{
    for (int field = 0; field < FieldCount; ++field) {
        if (textSlot(field) >= 0)
            setTextUtf8(field, record.textUtf8(field));
        else
            setNumber(field, record.number(field));
    }
}

void RecordBuilder::setTextUtf8(int field, QByteArrayView utf8)
{
    const int slot = textSlot(field);
    Q_ASSERT(slot >= 0);
    m_range[size_t(slot)] = Range { quint32(m_text.size()), quint32(utf8.size()) };
    m_text.append(utf8.data(), size_t(utf8.size()));
}

void RecordBuilder::setNumber(int field, std::optional<double> value)
{
    const int slot = floatSlot(field);
    Q_ASSERT(slot >= 0);
    if (value) {
        m_number[size_t(slot)] = *value;
        m_numberSet |= quint8(1u << slot);
    } else {
        m_numberSet &= quint8(~(1u << slot));
    }
}

Record RecordBuilder::take()
{
    quint64 total = 0;
    for (const Range &r : m_range)
        total += r.size;
    Record record;
    if (total > 0 || m_numberSet) {
        Q_ASSERT(total <= std::numeric_limits<quint32>::max());
        const quint8 width = total == 0 ? 0 : total <= 0xFF ? 1 : total <= 0xFFFF ? 2 : 4;
        const int numbers = int(sizeof(double)) * qPopulationCount(m_numberSet);
        const int textAt = numbers + width * TextFieldCount;
        const size_t size = sizeof(Record::Data) + size_t(textAt) + size_t(total);
        void *memory = std::malloc(size);
        if (!memory)
            throw std::bad_alloc();
        auto *d = new (memory)
            Record::Data { { 1 }, m_numberSet, width, quint8(numbers), quint8(textAt) };
        char *out = d->payload();
        for (size_t slot = 0; slot < m_number.size(); ++slot) {
            if (m_numberSet & (1u << slot)) {
                std::memcpy(out, &m_number[slot], sizeof(double));
                out += sizeof(double);
            }
        }
        quint32 end = 0;
        for (const Range &r : m_range) {
            if (width == 0)
                break;
            end += r.size;
            if (width == 1) {
                *out = char(quint8(end));
            } else if (width == 2) {
                const quint16 v = quint16(end);
                std::memcpy(out, &v, sizeof v);
            } else {
                std::memcpy(out, &end, sizeof end);
            }
            out += width;
        }
        for (const Range &r : m_range) {
            std::memcpy(out, m_text.data() + r.begin, r.size);
            out += r.size;
        }
        record.d = d;
    }
    m_text.clear();
    m_range = {};
    m_numberSet = 0;
    return record;
}

} // namespace store

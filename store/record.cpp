#include "store/record.h"

#include <cstring>

namespace store {

QByteArrayView Record::textUtf8(int field) const
{
    const int slot = textSlot(field);
    Q_ASSERT(slot >= 0);
    const quint32 begin = slot == 0 ? 0 : m_end[slot - 1];
    return QByteArrayView(m_text.constData() + begin, qsizetype(m_end[slot] - begin));
}

QString Record::text(int field) const { return QString::fromUtf8(textUtf8(field)); }

void Record::setText(int field, QStringView value) { setTextUtf8(field, value.toUtf8()); }

void Record::setTextUtf8(int field, QByteArrayView utf8)
{
    const int slot = textSlot(field);
    Q_ASSERT(slot >= 0);
    const quint32 begin = slot == 0 ? 0 : m_end[slot - 1];
    const quint32 oldLen = m_end[slot] - begin;
    const qint64 delta = qint64(utf8.size()) - qint64(oldLen);
    m_text.replace(qsizetype(begin), qsizetype(oldLen), utf8.data(), utf8.size());
    for (int s = slot; s < TextFieldCount; ++s)
        m_end[s] = quint32(qint64(m_end[s]) + delta);
}

std::optional<double> Record::number(int field) const
{
    const int slot = floatSlot(field);
    Q_ASSERT(slot >= 0);
    if (!(m_numberSet & (1u << slot)))
        return std::nullopt;
    return m_number[slot];
}

void Record::setNumber(int field, std::optional<double> value)
{
    const int slot = floatSlot(field);
    Q_ASSERT(slot >= 0);
    if (value) {
        m_number[slot] = *value;
        m_numberSet |= quint8(1u << slot);
    } else {
        m_number[slot] = 0;
        m_numberSet &= quint8(~(1u << slot));
    }
}

bool Record::isEmpty(int field) const
{
    if (textSlot(field) >= 0)
        return textUtf8(field).isEmpty();
    return !number(field).has_value();
}

bool operator==(const Record &a, const Record &b)
{
    if (a.m_text != b.m_text || a.m_end != b.m_end || a.m_numberSet != b.m_numberSet)
        return false;
    for (size_t i = 0; i < a.m_number.size(); ++i) {
        if ((a.m_numberSet & (1u << i))
            && std::memcmp(&a.m_number[i], &b.m_number[i], sizeof(double)) != 0)
            return false;
    }
    return true;
}

} // namespace store

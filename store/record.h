#pragma once

#include "store/schema.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>
#include <string>

namespace store {

// One row of the register. The register may hold hundreds of thousands of
// rows read from a file, so a row costs what it holds and little more: one
// pointer, null while every field is empty, to a block that keeps the set
// numbers, the ends of the text fields (one, two or four bytes each, as
// the text's length needs) and the text fields' UTF-8 back to back. Blocks
// are never changed once made: a copy shares the block, a change makes a
// new one.
class Record
{
public:
    Record() = default;
    Record(const Record &other) noexcept;
    Record(Record &&other) noexcept
        : d(other.d)
    {
        other.d = nullptr;
    }
    Record &operator=(const Record &other) noexcept;
    Record &operator=(Record &&other) noexcept;
    ~Record();

    // Text of a text field ("" when empty). Precondition: textSlot(field) >= 0.
    QString text(int field) const;
    // Raw UTF-8 bytes of a text field, without decoding.
    QByteArrayView textUtf8(int field) const;
    // The bytes of all text fields, back to back: every textUtf8() lies
    // within, so a reader may look past one field's end up to this one's.
    QByteArrayView allTextUtf8() const;
    void setText(int field, QStringView value);
    void setTextUtf8(int field, QByteArrayView utf8);

    // Value of a float field, or nothing when null. Precondition: floatSlot(field) >= 0.
    std::optional<double> number(int field) const;
    void setNumber(int field, std::optional<double> value);

    // True when the field holds no value (empty text or null number).
    bool isEmpty(int field) const;

    friend bool operator==(const Record &a, const Record &b);
    friend bool operator!=(const Record &a, const Record &b) { return !(a == b); }

private:
    friend class RecordBuilder;
    struct Data;

    static void release(Data *d) noexcept;

    Data *d = nullptr;
};

// Puts a record together field by field and makes its block once, so that
// a reader filling seventeen fields pays for one allocation, not seventeen.
// Fields may be set in any order and more than once; the last value counts.
class RecordBuilder
{
public:
    RecordBuilder() = default;
    // Starts from the fields of `record`.
    explicit RecordBuilder(const Record &record);

    void setTextUtf8(int field, QByteArrayView utf8);
    void setNumber(int field, std::optional<double> value);

    // The record so far; the builder is empty again afterwards.
    Record take();

private:
    struct Range
    {
        quint32 begin = 0;
        quint32 size = 0;
    };
    std::string m_text;
    std::array<Range, TextFieldCount> m_range {};
    std::array<double, FieldCount - TextFieldCount> m_number {};
    quint8 m_numberSet = 0; // bit per float slot
};

} // namespace store

#pragma once

#include "store/schema.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

namespace store {

// One row of the register. Kept compact because the register holds up to
// tens of thousands of them: the text fields live back to back in one UTF-8
// buffer, the two numbers beside it.
class Record
{
public:
    // Text of a text field ("" when empty). Precondition: textSlot(field) >= 0.
    QString text(int field) const;
    // Raw UTF-8 bytes of a text field, without decoding.
    QByteArrayView textUtf8(int field) const;
    // The bytes of all text fields, back to back: every textUtf8() lies
    // within, so a reader may look past one field's end up to this one's.
    QByteArrayView allTextUtf8() const { return m_text; }
    void setText(int field, QStringView value);
    void setTextUtf8(int field, QByteArrayView utf8);

    // Value of a float field, or nothing when null. Precondition: floatSlot(field) >= 0.
    std::optional<double> number(int field) const;
    void setNumber(int field, std::optional<double> value);

    // True when the field holds no value (empty text or null number).
    bool isEmpty(int field) const;

    // Gives back the room the text buffer kept for growing.
    void squeeze() { m_text.squeeze(); }

    friend bool operator==(const Record &a, const Record &b);
    friend bool operator!=(const Record &a, const Record &b) { return !(a == b); }

private:
    QByteArray m_text;
    std::array<quint32, TextFieldCount> m_end {};
    std::array<double, FieldCount - TextFieldCount> m_number {};
    quint8 m_numberSet = 0; // bit per float slot
};

} // namespace store

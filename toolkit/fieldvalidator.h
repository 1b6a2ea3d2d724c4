#pragma once

#include <QValidator>

class QLineEdit;

namespace toolkit {

// The character filter of the data-aware boxes and grid cell editors. Refuses
// (typed or pasted alike) control characters and anything the program's code
// page, Windows-1250, cannot hold; a number box takes only what can make up
// a number. Upper case turns letters into capitals as they arrive.
//
// A number box keeps "." and "," as typed: how they read is the table's
// rule (store::readNumberText), which reads a point as the decimal
// separator under a decimal comma where that cannot be taken for grouped
// thousands, and refuses the rest. Dropping either would turn "1,5" into 15.
// The numeric keypad's decimal key gives the locale's separator, whichever
// character the keyboard layout assigns to it.
class FieldValidator : public QValidator
{
    Q_OBJECT
public:
    enum class Kind { Text, Number };

    explicit FieldValidator(Kind kind, bool upperCase = false, QObject *parent = nullptr);

    // Makes this the validator of `edit` and has it see the edit's keys.
    void attachTo(QLineEdit *edit);

    Kind kind() const { return m_kind; }
    bool upperCase() const { return m_upperCase; }
    void setUpperCase(bool on) { m_upperCase = on; }

    State validate(QString &input, int &pos) const override;

    // `text` as the box shows it (capitals when upper case is on).
    QString shown(const QString &text) const;

    // The value a box was filled with from the record. Characters of it that
    // would be refused are let through: a record read from a file may hold
    // one, and the box must stay editable around it.
    void setStoredText(const QString &text);

    static bool isAllowedInText(QChar c);
    // Digits, signs, the decimal separator and the exponent letter of the
    // user's locale, which is also the one the table parses numbers with;
    // and "." and ",", which are never dropped from a number.
    static bool isAllowedInNumber(QChar c);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool isAllowed(QChar c) const;

    Kind m_kind;
    bool m_upperCase;
    QString m_tolerated;
};

} // namespace toolkit

#include "fieldvalidator.h"

#include "codepage.h"

#include <QLocale>

namespace toolkit {

namespace {

bool isControl(QChar c)
{
    // C0, DEL and C1; the code page maps its low bytes to C0, so holding a
    // character is not enough.
    return c.category() == QChar::Other_Control;
}

bool isSingleChar(const QString &s, QChar c) { return s.size() == 1 && s.at(0) == c; }

QChar upper(QChar c)
{
    // One character for one: a capital the code page lacks (µ has only a
    // Greek one) keeps the letter as typed.
    const QChar u = c.toUpper();
    return u != c && store::codepage::holds(u) ? u : c;
}

} // namespace

FieldValidator::FieldValidator(Kind kind, bool upperCase, QObject *parent)
    : QValidator(parent)
    , m_kind(kind)
    , m_upperCase(upperCase)
{
}

bool FieldValidator::isAllowedInText(QChar c) { return !isControl(c) && store::codepage::holds(c); }

bool FieldValidator::isAllowedInNumber(QChar c)
{
    if (c.unicode() >= '0' && c.unicode() <= '9')
        return true;
    if (c == u'+' || c == u'-' || c == u'e' || c == u'E')
        return true;
    // The table parses and shows numbers in the default locale (the user's
    // unless a test chose another); its separator and signs, such as the
    // minus sign U+2212 some locales print, must be typeable too.
    const QLocale locale;
    return isSingleChar(locale.decimalPoint(), c) || isSingleChar(locale.negativeSign(), c)
        || isSingleChar(locale.positiveSign(), c)
        || isSingleChar(locale.exponential().toLower(), c.toLower());
}

void FieldValidator::setStoredText(const QString &text)
{
    m_tolerated.clear();
    for (QChar c : text) {
        if (!isAllowed(c) && !m_tolerated.contains(c))
            m_tolerated.append(c);
    }
}

bool FieldValidator::isAllowed(QChar c) const
{
    return m_kind == Kind::Number ? isAllowedInNumber(c) : isAllowedInText(c);
}

QValidator::State FieldValidator::validate(QString &input, int &pos) const
{
    Q_UNUSED(pos);
    for (QChar &c : input) {
        if (!isAllowed(c) && !m_tolerated.contains(c))
            return Invalid;
        if (m_kind == Kind::Text && m_upperCase)
            c = upper(c);
    }
    // Anything made of allowed characters is accepted as it stands: a half
    // typed number is kept in the box and judged when the record is posted.
    return Acceptable;
}

QString FieldValidator::shown(const QString &text) const
{
    if (m_kind == Kind::Number || !m_upperCase)
        return text;
    QString out = text;
    for (QChar &c : out)
        c = upper(c);
    return out;
}

} // namespace toolkit

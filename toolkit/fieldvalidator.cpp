#include "toolkit/fieldvalidator.h"

#include "store/codepage.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
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

void FieldValidator::attachTo(QLineEdit *edit)
{
    edit->setValidator(this);
    edit->installEventFilter(this);
}

bool FieldValidator::isAllowedInText(QChar c) { return !isControl(c) && store::codepage::holds(c); }

bool FieldValidator::isAllowedInNumber(QChar c)
{
    if (c.unicode() >= '0' && c.unicode() <= '9')
        return true;
    if (c == u'+' || c == u'-' || c == u'e' || c == u'E')
        return true;
    // Either may be meant as the decimal separator; dropping one that is not
    // the locale's would make a number ten or a hundred times larger.
    if (c == u'.' || c == u',')
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

bool FieldValidator::eventFilter(QObject *watched, QEvent *event)
{
    if (m_kind == Kind::Number && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const QString separator = QLocale().decimalPoint();
        // X11 names the keypad's decimal key KP_Decimal or KP_Separator and
        // gives it "." or "," by keyboard layout, not by regional settings.
        if (key->modifiers().testFlag(Qt::KeypadModifier)
            && (key->key() == Qt::Key_Period || key->key() == Qt::Key_Comma)
            && key->text() != separator) {
            QKeyEvent decimal(QEvent::KeyPress, key->key(), key->modifiers(), separator,
                key->isAutoRepeat(), key->count());
            QCoreApplication::sendEvent(watched, &decimal);
            event->setAccepted(decimal.isAccepted());
            return true;
        }
    }
    return QValidator::eventFilter(watched, event);
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

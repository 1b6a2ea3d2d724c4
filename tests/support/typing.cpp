#include "tests/support/typing.h"

#include <QTest>

namespace testsupport {

void typeText(QWidget *widget, const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.unicode() < 0x80) {
            // With the key's own code, as a real keyboard gives it.
            QTest::keyClick(widget, char(c.unicode()));
            continue;
        }
        const qsizetype length
            = c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
        const QString character = text.mid(i, length);
        i += length - 1;
        QTest::sendKeyEvent(QTest::Press, widget, Qt::Key_unknown, character, Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, widget, Qt::Key_unknown, character, Qt::NoModifier);
    }
}

} // namespace testsupport

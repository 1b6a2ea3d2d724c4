// The find box on its own: its keys, its buttons, and the names a screen
// reader gives it.
#include "toolkit/findbox.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using toolkit::FindBox;

class TestFindBox : public QObject
{
    Q_OBJECT

private slots:
    void keys_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("next");
        QTest::addColumn<int>("previous");
        QTest::addColumn<bool>("open");
        QTest::newRow("Enter") << "šarić" << int(Qt::Key_Return) << 0 << 1 << 0 << true;
        QTest::newRow("keypad Enter")
            << "x" << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << 1 << 0 << true;
        QTest::newRow("F3") << "x" << int(Qt::Key_F3) << 0 << 1 << 0 << true;
        QTest::newRow("Shift+F3") << "x" << int(Qt::Key_F3) << int(Qt::ShiftModifier) << 0 << 1
                                  << true;
        QTest::newRow("Escape") << "x" << int(Qt::Key_Escape) << 0 << 0 << 0 << false;
        QTest::newRow("Enter, nothing typed") << "" << int(Qt::Key_Return) << 0 << 0 << 0 << true;
        QTest::newRow("F3, nothing typed") << "" << int(Qt::Key_F3) << 0 << 0 << 0 << true;
    }

    void keys()
    {
        QFETCH(QString, text);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, next);
        QFETCH(int, previous);
        QFETCH(bool, open);

        FindBox box;
        box.popUp();
        QVERIFY(QTest::qWaitForWindowActive(&box));
        QCOMPARE(QApplication::focusWidget(), box.field());
        QSignalSpy nextSpy(&box, &FindBox::findNext);
        QSignalSpy previousSpy(&box, &FindBox::findPrevious);
        for (const QChar c : text)
            QTest::sendKeyEvent(
                QTest::Click, box.field(), Qt::Key_unknown, QString(c), Qt::NoModifier);
        QCOMPARE(box.text(), text);
        QCOMPARE(box.findNextButton()->isEnabled(), !text.isEmpty());

        QTest::keyClick(box.field(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(nextSpy.count(), next);
        QCOMPARE(previousSpy.count(), previous);
        QCOMPARE(box.isVisible(), open);
        // Closed, it keeps its text for the next search.
        QCOMPARE(box.text(), text);
    }

    void buttons()
    {
        FindBox box;
        box.popUp();
        box.setText(QStringLiteral("aspirin"));
        QSignalSpy nextSpy(&box, &FindBox::findNext);
        QTest::mouseClick(box.findNextButton(), Qt::LeftButton);
        QCOMPARE(nextSpy.count(), 1);
        QTest::mouseClick(box.closeButton(), Qt::LeftButton);
        QVERIFY(!box.isVisible());
        QCOMPARE(nextSpy.count(), 1);
    }

    // Enter presses the button that has the focus; in the field it means
    // "Traži dalje".
    void enterOnTheFocusedButton()
    {
        FindBox box;
        box.popUp();
        QVERIFY(QTest::qWaitForWindowActive(&box));
        box.setText(QStringLiteral("aspirin"));
        QSignalSpy nextSpy(&box, &FindBox::findNext);
        box.closeButton()->setFocus(Qt::TabFocusReason);
        QTest::keyClick(box.closeButton(), Qt::Key_Return);
        QVERIFY(!box.isVisible());
        QCOMPARE(nextSpy.count(), 0);

        box.popUp();
        QVERIFY(QTest::qWaitForWindowActive(&box));
        box.closeButton()->setFocus(Qt::TabFocusReason);
        box.field()->setFocus(Qt::TabFocusReason);
        QTest::keyClick(box.field(), Qt::Key_Return);
        QCOMPARE(nextSpy.count(), 1);
        QVERIFY(box.isVisible());
    }

    void popUpSelectsTheText()
    {
        FindBox box;
        box.setText(QStringLiteral("aspirin"));
        box.popUp();
        QVERIFY(QTest::qWaitForWindowActive(&box));
        QCOMPARE(box.field()->selectedText(), QStringLiteral("aspirin"));
        // Typing replaces it.
        QTest::keyClicks(box.field(), "brufen");
        QCOMPARE(box.text(), QStringLiteral("brufen"));
    }

    void captionsAndNames()
    {
        FindBox box;
        box.popUp();
        QCOMPARE(box.windowTitle(), QStringLiteral("Traži"));
        QCOMPARE(box.findNextButton()->text(), QStringLiteral("Traži dalje"));
        QCOMPARE(box.closeButton()->text(), QStringLiteral("Zatvori"));
        QVERIFY(!box.isModal());

        const auto name = [](QObject *o) {
            QAccessibleInterface *a = QAccessible::queryAccessibleInterface(o);
            return a ? a->text(QAccessible::Name) : QStringLiteral("<no interface>");
        };
        QCOMPARE(name(&box), QStringLiteral("Traži"));
        QCOMPARE(name(box.field()), QStringLiteral("Traženi tekst:"));
        QCOMPARE(name(box.findNextButton()), QStringLiteral("Traži dalje"));
        QCOMPARE(name(box.closeButton()), QStringLiteral("Zatvori"));
        QAccessibleInterface *field = QAccessible::queryAccessibleInterface(box.field());
        QVERIFY(field);
        QCOMPARE(field->role(), QAccessible::EditableText);
    }
};

QTEST_MAIN(TestFindBox)
#include "tst_findbox.moc"

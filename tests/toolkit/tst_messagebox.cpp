#include "tests/support/modalpoller.h"
#include "tests/support/scriptedmessageboxes.h"
#include "toolkit/handlers.h"
#include "toolkit/messagebox.h"

#include "store/exception.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <stdexcept>

using Answer = toolkit::MessageBoxAnswer;
using Style = toolkit::MessageBoxStyle;
using testsupport::ScriptedMessageBoxes;
using toolkit::MessageBoxCall;

namespace {

// Answers the next real message box by pressing the button captioned
// `button` (or with Escape when empty), and notes what the box showed.
class BoxAnswerer
{
public:
    explicit BoxAnswerer(QString button)
        : m_button(std::move(button))
        , m_poller([this](QWidget *box) { return tryAnswer(box); })
    {
    }

    QString title;
    QString text;
    QStringList buttons;
    QString defaultButton;
    bool modal = false;
    bool answered = false;

private:
    bool tryAnswer(QWidget *widget)
    {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (!box)
            return false;
        title = box->windowTitle();
        text = box->text();
        modal = box->isModal();
        for (QAbstractButton *b : box->buttons())
            buttons << b->text();
        buttons.sort();
        if (box->defaultButton())
            defaultButton = box->defaultButton()->text();
        answered = true;
        if (m_button.isEmpty()) {
            QTest::keyClick(box, Qt::Key_Escape);
            return true;
        }
        for (QAbstractButton *b : box->buttons()) {
            if (QString(b->text()).remove(u'&') == m_button) {
                b->click();
                return true;
            }
        }
        return true;
    }

    QString m_button;
    testsupport::ModalPoller m_poller;
};

} // namespace

class TestMessageBox : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void realBoxes_data();
    void realBoxes();
    void emptyCaptionIsApplicationName();
    void textIsNeverMarkup();
    void handlerReplacesBoxes();
    void scriptedBoxesRecordAndAnswer();
    void unansweredQuestionIsUnexpected();
    void scriptedBoxesNestAndRestore();
    void runHandlerShowsWhatEscapes_data();
    void runHandlerShowsWhatEscapes();
    void enterTakesTheDefault_data();
    void enterTakesTheDefault();
    void everyAnswerHasItsKey_data();
    void everyAnswerHasItsKey();
    void unattendedAnswersWithoutBoxes();
    void pollerGivesUpAtItsDeadline();
};

void TestMessageBox::initTestCase()
{
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Lijekovi"));
}

void TestMessageBox::realBoxes_data()
{
    QTest::addColumn<Style>("style");
    QTest::addColumn<QString>("press");
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<QString>("defaultButton");
    // Each caption marks its access key.
    const QStringList yesNo { QStringLiteral("&Da"), QStringLiteral("&Ne") };
    QTest::newRow("OK") << Style::Ok << "U redu" << Answer::Ok
                        << QStringList { QStringLiteral("&U redu") } << "&U redu";
    QTest::newRow("OK by Escape") << Style::Ok << "" << Answer::Ok
                                  << QStringList { QStringLiteral("&U redu") } << "&U redu";
    QTest::newRow("Yes") << Style::YesNo << "Da" << Answer::Yes << yesNo << "&Da";
    QTest::newRow("No") << Style::YesNo << "Ne" << Answer::No << yesNo << "&Da";
    QTest::newRow("No by Escape") << Style::YesNo << "" << Answer::No << yesNo << "&Da";
    const Style noByDefault = Style::YesNoDefaultNo;
    QTest::newRow("default No, Yes") << noByDefault << "Da" << Answer::Yes << yesNo << "&Ne";
    QTest::newRow("default No, No") << noByDefault << "Ne" << Answer::No << yesNo << "&Ne";
    QTest::newRow("default No, Escape") << noByDefault << "" << Answer::No << yesNo << "&Ne";
}

void TestMessageBox::realBoxes()
{
    QFETCH(Style, style);
    QFETCH(QString, press);
    QFETCH(Answer, answer);
    QFETCH(QStringList, buttons);
    QFETCH(QString, defaultButton);
    QWidget window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    BoxAnswerer answerer(press);
    QCOMPARE(toolkit::messageBox(QStringLiteral("Praznim baze?"), QStringLiteral("Pažnja"), style),
        answer);
    QVERIFY(answerer.answered);
    QCOMPARE(answerer.title, QStringLiteral("Pažnja"));
    QCOMPARE(answerer.text, QStringLiteral("Praznim baze?"));
    QCOMPARE(answerer.buttons, buttons);
    QCOMPARE(answerer.defaultButton, defaultButton);
    QVERIFY(answerer.modal);
}

void TestMessageBox::emptyCaptionIsApplicationName()
{
    BoxAnswerer answerer(QStringLiteral("U redu"));
    QCOMPARE(toolkit::messageBox(QStringLiteral("Baze prazne!"), QString(), Style::Ok), Answer::Ok);
    QCOMPARE(answerer.title, QStringLiteral("Lijekovi"));
}

void TestMessageBox::textIsNeverMarkup()
{
    BoxAnswerer answerer(QStringLiteral("U redu"));
    toolkit::messageBox(QStringLiteral("<b>Pacijent</b> & <i>co</i>"), QString(), Style::Ok);
    QCOMPARE(answerer.text, QStringLiteral("<b>Pacijent</b> & <i>co</i>"));
    QVERIFY(answerer.answered);
}

void TestMessageBox::handlerReplacesBoxes()
{
    QList<MessageBoxCall> calls;
    toolkit::setMessageBoxHandler([&](const MessageBoxCall &call) {
        calls << call;
        return Answer::Yes;
    });
    QCOMPARE(
        toolkit::messageBox(QStringLiteral("Pitanje?"), QStringLiteral("Pažnja"), Style::YesNo),
        Answer::Yes);
    QVERIFY(!QApplication::activeModalWidget());
    toolkit::setMessageBoxHandler({});
    QCOMPARE(calls,
        QList<MessageBoxCall>(
            { { QStringLiteral("Pitanje?"), QStringLiteral("Pažnja"), Style::YesNo } }));

    // Real boxes are back.
    BoxAnswerer answerer(QStringLiteral("Ne"));
    QCOMPARE(toolkit::messageBox(QStringLiteral("Pitanje?"), QString(), Style::YesNo), Answer::No);
    QVERIFY(answerer.answered);
    QCOMPARE(calls.size(), 1);
}

void TestMessageBox::scriptedBoxesRecordAndAnswer()
{
    ScriptedMessageBoxes boxes;
    boxes.answer(Answer::Yes);
    boxes.answer(Answer::No);
    QCOMPARE(toolkit::messageBox(QStringLiteral("Spremljeno."), QString(), Style::Ok), Answer::Ok);
    QCOMPARE(toolkit::messageBox(
                 QStringLiteral("Praznim baze?"), QStringLiteral("Pažnja"), Style::YesNo),
        Answer::Yes);
    QCOMPARE(toolkit::messageBox(
                 QStringLiteral("Jeste li SIGURNI?"), QStringLiteral("Pažnja"), Style::YesNo),
        Answer::No);
    QCOMPARE(boxes.calls(),
        QList<MessageBoxCall>({ { QStringLiteral("Spremljeno."), QString(), Style::Ok },
            { QStringLiteral("Praznim baze?"), QStringLiteral("Pažnja"), Style::YesNo },
            { QStringLiteral("Jeste li SIGURNI?"), QStringLiteral("Pažnja"), Style::YesNo } }));
    QCOMPARE(boxes.texts(),
        QStringList({ QStringLiteral("Spremljeno."), QStringLiteral("Praznim baze?"),
            QStringLiteral("Jeste li SIGURNI?") }));
    QVERIFY(boxes.unexpected.isEmpty());
    QCOMPARE(boxes.unusedAnswers(), 0);
}

void TestMessageBox::unansweredQuestionIsUnexpected()
{
    ScriptedMessageBoxes boxes;
    QCOMPARE(
        toolkit::messageBox(QStringLiteral("Izbrisati?"), QString(), Style::YesNo), Answer::No);
    QCOMPARE(boxes.unexpected,
        QList<MessageBoxCall>({ { QStringLiteral("Izbrisati?"), QString(), Style::YesNo } }));
    boxes.answer(Answer::Yes);
    QCOMPARE(boxes.unusedAnswers(), 1);
}

void TestMessageBox::scriptedBoxesNestAndRestore()
{
    ScriptedMessageBoxes outer;
    {
        ScriptedMessageBoxes inner;
        toolkit::messageBox(QStringLiteral("unutra"), QString(), Style::Ok);
        QCOMPARE(inner.calls().size(), 1);
    }
    toolkit::messageBox(QStringLiteral("vani"), QString(), Style::Ok);
    QCOMPARE(outer.texts(), QStringList { QStringLiteral("vani") });
}

void TestMessageBox::runHandlerShowsWhatEscapes_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::newRow("store::Exception") << 0 << "Datoteka Baza.xml nije ispravna.";
    QTest::newRow("std::exception")
        << 1 << "Dogodila se neočekivana pogreška.\n\nTehnički opis: bad thing";
    QTest::newRow("anything else") << 2 << "Dogodila se neočekivana pogreška.";
    QTest::newRow("nothing") << 3 << "";
}

void TestMessageBox::runHandlerShowsWhatEscapes()
{
    QFETCH(int, kind);
    QFETCH(QString, text);
    ScriptedMessageBoxes boxes;
    bool after = false;
    toolkit::runHandler([&] {
        switch (kind) {
        case 0:
            throw store::Exception(text);
        case 1:
            throw std::runtime_error("bad thing");
        case 2:
            throw 42;
        default:
            break;
        }
        after = true;
    });
    if (text.isEmpty()) {
        QVERIFY(after);
        QVERIFY(boxes.calls().isEmpty());
    } else {
        QCOMPARE(boxes.calls(),
            QList<MessageBoxCall>({ { text, QStringLiteral("Greška"), Style::Ok } }));
    }

    boxes.clear();
    toolkit::showException(store::Exception(QStringLiteral("Poruka")));
    QCOMPARE(boxes.texts(), QStringList { QStringLiteral("Poruka") });
}

// A box the test's poller does not recognise must not hang the suite: at
// the deadline the poller gives up and closes it, and says so.
void TestMessageBox::pollerGivesUpAtItsDeadline()
{
    QElapsedTimer took;
    took.start();
    testsupport::ModalPoller waitsForAnother([](QWidget *) { return false; }, 300);
    QCOMPARE(
        toolkit::messageBox(QStringLiteral("Nitko ne odgovara"), QString(), Style::YesNoDefaultNo),
        Answer::No);
    QVERIFY(waitsForAnother.expired());
    QVERIFY(!waitsForAnother.done());
    QVERIFY(waitsForAnother.handled() > 0);
    QVERIFY(took.elapsed() < 10000);
    QVERIFY(!QApplication::activeModalWidget());
}

QTEST_MAIN(TestMessageBox)
#include "tst_messagebox.moc"

void TestMessageBox::everyAnswerHasItsKey_data()
{
    QTest::addColumn<Style>("style");
    // Keys pressed one after another on the box, each "key" or "alt+key".
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<Answer>("answer");
    const Style yesNo = Style::YesNo;
    const Style noByDefault = Style::YesNoDefaultNo;
    QTest::newRow("D") << yesNo << QStringList { "d" } << Answer::Yes;
    QTest::newRow("N") << yesNo << QStringList { "n" } << Answer::No;
    QTest::newRow("Alt+D") << noByDefault << QStringList { "alt+d" } << Answer::Yes;
    QTest::newRow("Alt+N") << yesNo << QStringList { "alt+n" } << Answer::No;
    QTest::newRow("D, default No") << noByDefault << QStringList { "d" } << Answer::Yes;
    QTest::newRow("U") << Style::Ok << QStringList { "u" } << Answer::Ok;
    QTest::newRow("Alt+U") << Style::Ok << QStringList { "alt+u" } << Answer::Ok;
    // Enter presses the button that has the focus, wherever Tab took it.
    QTest::newRow("Tab, Enter") << yesNo << QStringList { "tab", "return" } << Answer::No;
    QTest::newRow("Tab, Enter, default No")
        << noByDefault << QStringList { "tab", "return" } << Answer::Yes;
    QTest::newRow("Tab, keypad Enter, default No")
        << noByDefault << QStringList { "tab", "enter" } << Answer::Yes;
    QTest::newRow("Tab, Space, default No")
        << noByDefault << QStringList { "tab", "space" } << Answer::Yes;
    QTest::newRow("Tab twice, Enter")
        << yesNo << QStringList { "tab", "tab", "return" } << Answer::Yes;
}

// Real keys on the real box, sent where the keyboard is, as a user's are.
void TestMessageBox::everyAnswerHasItsKey()
{
    QFETCH(Style, style);
    QFETCH(QStringList, keys);
    QFETCH(Answer, answer);
    QWidget window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    bool pressed = false;
    testsupport::ModalPoller press([&](QWidget *box) {
        if (!qobject_cast<QMessageBox *>(box) || !QTest::qWaitForWindowActive(box))
            return false;
        // Access keys are the active window's shortcuts: the box must have
        // the window system's focus, not only Qt's, before a key comes.
        if (!QTest::qWaitFor(
                [box] { return QGuiApplication::focusWindow() == box->windowHandle(); }))
            return false;
        for (const QString &key : keys) {
            QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : box;
            const Qt::KeyboardModifiers alt
                = key.startsWith(QLatin1String("alt+")) ? Qt::AltModifier : Qt::NoModifier;
            const QString name = alt ? key.mid(4) : key;
            if (name == QLatin1String("tab"))
                QTest::keyClick(target, Qt::Key_Tab);
            else if (name == QLatin1String("return"))
                QTest::keyClick(target, Qt::Key_Return);
            else if (name == QLatin1String("enter"))
                QTest::keyClick(target, Qt::Key_Enter, Qt::KeypadModifier);
            else if (name == QLatin1String("space"))
                QTest::keyClick(target, Qt::Key_Space);
            else
                QTest::keyClick(target, name.at(0).toLatin1(), alt);
        }
        pressed = true;
        // Keys that answered nothing must fail the row, not hang the suite.
        if (!QTest::qWaitFor([box] { return !box->isVisible(); }, 5000))
            QMetaObject::invokeMethod(box, "reject", Qt::QueuedConnection);
        return true;
    });
    QCOMPARE(
        toolkit::messageBox(QStringLiteral("Pitanje?"), QStringLiteral("Pažnja!"), style), answer);
    QVERIFY(pressed);
    QVERIFY(!press.expired());
}

void TestMessageBox::enterTakesTheDefault_data()
{
    QTest::addColumn<Style>("style");
    QTest::addColumn<Answer>("answer");
    QTest::newRow("Yes/No") << Style::YesNo << Answer::Yes;
    QTest::newRow("Yes/No, default No") << Style::YesNoDefaultNo << Answer::No;
}

// What Enter does decides what a reflex does; press it on the real box.
void TestMessageBox::enterTakesTheDefault()
{
    QFETCH(Style, style);
    QFETCH(Answer, answer);
    QWidget window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    testsupport::ModalPoller enter([](QWidget *box) {
        QTest::keyClick(box, Qt::Key_Return);
        return true;
    });
    QCOMPARE(toolkit::messageBox(QStringLiteral("Zatvoriti?"), QStringLiteral("Pažnja!"), style),
        answer);
    QVERIFY(enter.done());
}

void TestMessageBox::unattendedAnswersWithoutBoxes()
{
    // A scripted handler must not be consulted either: nobody is there.
    ScriptedMessageBoxes boxes;
    boxes.answer(Answer::Yes);
    toolkit::setUnattended(true);
    const Answer question
        = toolkit::messageBox(QStringLiteral("Praznim baze?"), QString(), Style::YesNo);
    const Answer notice = toolkit::messageBox(QStringLiteral("Baze prezne!"), QString(), Style::Ok);
    toolkit::setUnattended(false);
    QCOMPARE(question, Answer::No);
    QCOMPARE(notice, Answer::Ok);
    QVERIFY(boxes.calls().isEmpty());
    QCOMPARE(
        toolkit::messageBox(QStringLiteral("Praznim baze?"), QString(), Style::YesNo), Answer::Yes);
}

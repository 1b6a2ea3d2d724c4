#include "handlers.h"
#include "messagebox.h"
#include "modalpoller.h"
#include "scriptedmessageboxes.h"

#include "exception.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <stdexcept>

using toolkit::MessageBoxCall;
using testsupport::ScriptedMessageBoxes;

namespace {

// Answers the next real message box by pressing the button captioned
// `button` (or with Escape when empty), and notes what the box showed.
class BoxAnswerer
{
public:
    explicit BoxAnswerer(QString button)
        : m_button(std::move(button))
        , m_poller([this](QWidget *modal) { return tryAnswer(modal); })
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
            if (b->text() == m_button) {
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
    void unattendedAnswersWithoutBoxes();
    void pollerGivesUpAtItsDeadline();
};

void TestMessageBox::initTestCase()
{
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Lijekovi"));
}

void TestMessageBox::realBoxes_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<QString>("press");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<QString>("defaultButton");
    const QStringList yesNo { QStringLiteral("Da"), QStringLiteral("Ne") };
    QTest::newRow("OK") << 0 << "U redu" << 1 << QStringList { QStringLiteral("U redu") }
                        << "U redu";
    QTest::newRow("OK by Escape") << 0 << "" << 1 << QStringList { QStringLiteral("U redu") }
                                  << "U redu";
    QTest::newRow("Yes") << 4 << "Da" << 6 << yesNo << "Da";
    QTest::newRow("No") << 4 << "Ne" << 7 << yesNo << "Da";
    QTest::newRow("No by Escape") << 4 << "" << 7 << yesNo << "Da";
    const int noByDefault = toolkit::MbYesNo | toolkit::MbDefButton2;
    QTest::newRow("default No, Yes") << noByDefault << "Da" << 6 << yesNo << "Ne";
    QTest::newRow("default No, No") << noByDefault << "Ne" << 7 << yesNo << "Ne";
    QTest::newRow("default No, Escape") << noByDefault << "" << 7 << yesNo << "Ne";
}

void TestMessageBox::realBoxes()
{
    QFETCH(int, style);
    QFETCH(QString, press);
    QFETCH(int, answer);
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
    QCOMPARE(toolkit::messageBox(QStringLiteral("Baze prazne!"), QString(), toolkit::MbOk),
        toolkit::IdOk);
    QCOMPARE(answerer.title, QStringLiteral("Lijekovi"));
}

void TestMessageBox::textIsNeverMarkup()
{
    BoxAnswerer answerer(QStringLiteral("U redu"));
    toolkit::messageBox(QStringLiteral("<b>Pacijent</b> & <i>co</i>"), QString(), toolkit::MbOk);
    QCOMPARE(answerer.text, QStringLiteral("<b>Pacijent</b> & <i>co</i>"));
    QVERIFY(answerer.answered);
}

void TestMessageBox::handlerReplacesBoxes()
{
    QList<MessageBoxCall> calls;
    toolkit::setMessageBoxHandler([&](const MessageBoxCall &call) {
        calls << call;
        return toolkit::IdYes;
    });
    QCOMPARE(toolkit::messageBox(QStringLiteral("Pitanje?"), QStringLiteral("Pažnja"), 4), 6);
    QVERIFY(!QApplication::activeModalWidget());
    toolkit::setMessageBoxHandler({});
    QCOMPARE(calls,
        QList<MessageBoxCall>({ { QStringLiteral("Pitanje?"), QStringLiteral("Pažnja"), 4 } }));

    // Real boxes are back.
    BoxAnswerer answerer(QStringLiteral("Ne"));
    QCOMPARE(toolkit::messageBox(QStringLiteral("Pitanje?"), QString(), 4), 7);
    QVERIFY(answerer.answered);
    QCOMPARE(calls.size(), 1);
}

void TestMessageBox::scriptedBoxesRecordAndAnswer()
{
    ScriptedMessageBoxes boxes;
    boxes.answer(toolkit::IdYes);
    boxes.answer(toolkit::IdNo);
    QCOMPARE(toolkit::messageBox(QStringLiteral("Spremljeno."), QString(), 0), 1);
    QCOMPARE(toolkit::messageBox(QStringLiteral("Praznim baze?"), QStringLiteral("Pažnja"), 4), 6);
    QCOMPARE(
        toolkit::messageBox(QStringLiteral("Jeste li SIGURNI?"), QStringLiteral("Pažnja"), 4), 7);
    QCOMPARE(boxes.calls(),
        QList<MessageBoxCall>({ { QStringLiteral("Spremljeno."), QString(), 0 },
            { QStringLiteral("Praznim baze?"), QStringLiteral("Pažnja"), 4 },
            { QStringLiteral("Jeste li SIGURNI?"), QStringLiteral("Pažnja"), 4 } }));
    QCOMPARE(boxes.texts(),
        QStringList({ QStringLiteral("Spremljeno."), QStringLiteral("Praznim baze?"),
            QStringLiteral("Jeste li SIGURNI?") }));
    QVERIFY(boxes.unexpected.isEmpty());
    QCOMPARE(boxes.unusedAnswers(), 0);
}

void TestMessageBox::unansweredQuestionIsUnexpected()
{
    ScriptedMessageBoxes boxes;
    QCOMPARE(toolkit::messageBox(QStringLiteral("Izbrisati?"), QString(), 4), toolkit::IdNo);
    QCOMPARE(boxes.unexpected,
        QList<MessageBoxCall>({ { QStringLiteral("Izbrisati?"), QString(), 4 } }));
    boxes.answer(toolkit::IdYes);
    QCOMPARE(boxes.unusedAnswers(), 1);
}

void TestMessageBox::scriptedBoxesNestAndRestore()
{
    ScriptedMessageBoxes outer;
    {
        ScriptedMessageBoxes inner;
        toolkit::messageBox(QStringLiteral("unutra"), QString(), 0);
        QCOMPARE(inner.calls().size(), 1);
    }
    toolkit::messageBox(QStringLiteral("vani"), QString(), 0);
    QCOMPARE(outer.texts(), QStringList { QStringLiteral("vani") });
}

void TestMessageBox::runHandlerShowsWhatEscapes_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::newRow("store::Exception") << 0 << "Datoteka Baza.xml nije ispravna.";
    QTest::newRow("std::exception") << 1 << "bad thing";
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
            QList<MessageBoxCall>({ { text, QStringLiteral("Greška"), toolkit::MbOk } }));
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
    QCOMPARE(toolkit::messageBox(QStringLiteral("Nitko ne odgovara"), QString(),
                 toolkit::MbYesNo | toolkit::MbDefButton2),
        toolkit::IdNo);
    QVERIFY(waitsForAnother.expired());
    QVERIFY(!waitsForAnother.done());
    QVERIFY(waitsForAnother.handled() > 0);
    QVERIFY(took.elapsed() < 10000);
    QVERIFY(!QApplication::activeModalWidget());
}

QTEST_MAIN(TestMessageBox)
#include "tst_messagebox.moc"

void TestMessageBox::enterTakesTheDefault_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("answer");
    QTest::newRow("Yes/No") << toolkit::MbYesNo << toolkit::IdYes;
    QTest::newRow("Yes/No, default No") << (toolkit::MbYesNo | toolkit::MbDefButton2)
                                        << toolkit::IdNo;
}

// What Enter does decides what a reflex does; press it on the real box.
void TestMessageBox::enterTakesTheDefault()
{
    QFETCH(int, style);
    QFETCH(int, answer);
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
    boxes.answer(toolkit::IdYes);
    toolkit::setUnattended(true);
    const int question = toolkit::messageBox(QStringLiteral("Praznim baze?"), QString(), 4);
    const int notice = toolkit::messageBox(QStringLiteral("Baze prezne!"), QString(), 0);
    toolkit::setUnattended(false);
    QCOMPARE(question, toolkit::IdNo);
    QCOMPARE(notice, toolkit::IdOk);
    QVERIFY(boxes.calls().isEmpty());
    QCOMPARE(toolkit::messageBox(QStringLiteral("Praznim baze?"), QString(), 4), toolkit::IdYes);
}

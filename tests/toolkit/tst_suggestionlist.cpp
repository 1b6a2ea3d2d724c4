#include "tests/support/typing.h"
#include "tests/toolkit/tablefixture.h"
#include "toolkit/datasource.h"
#include "toolkit/dbedit.h"
#include "toolkit/suggestionlist.h"

#include <QApplication>
#include <QListWidget>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

using store::ClientDataSet;
using testsupport::typeText;
using toolkit::DataSource;
using toolkit::DBEdit;
using toolkit::SuggestionList;

namespace {

// Values offered whatever the field: those beginning with the typed text,
// letter case aside.
const QStringList Offered = { "Zagreb", "Zadar", "Zabok", "Šibenik", "n03ax14", "EURO", "Zagorje",
    "Zaprešić", "Zaton", "Zavidovići", "Zlarin", "Zaostrog" };

QStringList offer(const QString &typed)
{
    QStringList out;
    for (const QString &value : Offered) {
        if (value.startsWith(typed, Qt::CaseInsensitive))
            out << value;
    }
    return out;
}

} // namespace

// Three boxes in a row over one record: Mjesto, ATK (capitals), Valuta
// (three characters), each with a list.
class Form
{
public:
    Form()
        : table(makeTable(2))
    {
        source.setDataSet(table.get());
        auto *layout = new QVBoxLayout(&window);
        for (const char *name : { "Mjesto", "ATK", "Valuta" }) {
            auto *edit = new DBEdit(&window);
            edit->setObjectName(QString::fromLatin1(name));
            edit->setDataSource(&source);
            edit->setDataField(QString::fromLatin1(name));
            if (QByteArrayView(name) == "ATK")
                edit->setCharCase(DBEdit::Upper);
            layout->addWidget(edit);
            new SuggestionList(edit, offer);
        }
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        mjesto()->setFocus();
    }
    DBEdit *edit(const char *name) { return window.findChild<DBEdit *>(QString::fromLatin1(name)); }
    DBEdit *mjesto() { return edit("Mjesto"); }
    SuggestionList *list(const char *name = "Mjesto") { return SuggestionList::of(edit(name)); }

    std::unique_ptr<ClientDataSet> table;
    DataSource source;
    QWidget window;
};

class TestSuggestionList : public QObject
{
    Q_OBJECT

private slots:
    void keys_data();
    void keys();
    void noListWithNothingToChoose();
    void takenValueFollowsTheBoxRules_data();
    void takenValueFollowsTheBoxRules();
    void aTakenValueIsUndoneAsTyping();
    void clickTakesAValue();
    void closesWhenTheBoxStopsBeingTypedIn();
    void standsUnderTheBoxOutsideTheWindow();
};

void TestSuggestionList::keys_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("listShown");
    QTest::addColumn<QString>("focus");

    using K = QList<int>;
    QTest::newRow("typing only shows the list") << "za" << K {} << "za" << true << "Mjesto";
    QTest::newRow("Down, Enter takes the first")
        << "za" << K { Qt::Key_Down, Qt::Key_Return } << "Zagreb" << false << "Mjesto";
    QTest::newRow("Down, Down, Enter takes the second")
        << "za" << K { Qt::Key_Down, Qt::Key_Down, Qt::Key_Enter } << "Zadar" << false << "Mjesto";
    QTest::newRow("Down, Tab takes and goes on")
        << "za" << K { Qt::Key_Down, Qt::Key_Tab } << "Zagreb" << false << "ATK";
    QTest::newRow("Tab alone goes on, text as typed")
        << "za" << K { Qt::Key_Tab } << "za" << false << "ATK";
    QTest::newRow("Enter alone closes, text as typed")
        << "za" << K { Qt::Key_Return } << "za" << false << "Mjesto";
    QTest::newRow("Escape closes, text as typed")
        << "za" << K { Qt::Key_Down, Qt::Key_Escape } << "za" << false << "Mjesto";
    QTest::newRow("Escape, then Enter takes nothing")
        << "za" << K { Qt::Key_Down, Qt::Key_Escape, Qt::Key_Return } << "za" << false << "Mjesto";
    QTest::newRow("typing on, text as typed")
        << "za" << K { Qt::Key_Down, Qt::Key_D } << "zad" << true << "Mjesto";
    QTest::newRow("Up from the first row highlights none")
        << "za" << K { Qt::Key_Down, Qt::Key_Up, Qt::Key_Return } << "za" << false << "Mjesto";
    QTest::newRow("Down stops at the last of eight")
        << "za" << K(12, Qt::Key_Down) + K { Qt::Key_Return } << "Zaostrog" << false << "Mjesto";
    QTest::newRow("Shift+Tab goes back, takes nothing")
        << "za" << K { Qt::Key_Down, Qt::Key_Backtab } << "za" << false << "";
}

void TestSuggestionList::keys()
{
    QFETCH(QString, typed);
    QFETCH(QList<int>, keys);
    QFETCH(QString, text);
    QFETCH(bool, listShown);
    QFETCH(QString, focus);
    Form form;
    typeText(form.mjesto(), typed);
    QVERIFY(form.list()->isShown());
    QCOMPARE(form.list()->highlighted(), -1);
    for (int key : keys) {
        QWidget *focused = QApplication::focusWidget();
        if (key == Qt::Key_Backtab)
            QTest::keyClick(focused, Qt::Key_Backtab, Qt::ShiftModifier);
        else if (key == Qt::Key_D)
            QTest::keyClick(focused, 'd');
        else
            QTest::keyClick(focused, Qt::Key(key));
    }
    QCOMPARE(form.mjesto()->text(), text);
    // What the box shows is what the record holds.
    QCOMPARE(fieldText(*form.table, "Mjesto"), text);
    QCOMPARE(form.list()->isShown(), listShown);
    if (!focus.isEmpty())
        QCOMPARE(QApplication::focusWidget(), form.edit(qPrintable(focus)));
    else
        QVERIFY(QApplication::focusWidget() != form.mjesto());
    if (listShown)
        QCOMPARE(form.list()->values(), offer(text).mid(0, SuggestionList::MaxRows));
}

void TestSuggestionList::noListWithNothingToChoose()
{
    Form form;
    typeText(form.mjesto(), "x");
    QVERIFY(!form.list()->isShown()); // nothing begins so
    QTest::keyClick(form.mjesto(), Qt::Key_Backspace);
    typeText(form.mjesto(), "Zadar");
    QVERIFY(!form.list()->isShown()); // the only match is what is typed
    QTest::keyClick(form.mjesto(), Qt::Key_Backspace);
    QVERIFY(form.list()->isShown());
    QCOMPARE(form.list()->values(), QStringList { "Zadar" });
    form.mjesto()->selectAll();
    QTest::keyClick(form.mjesto(), Qt::Key_Backspace);
    QVERIFY(!form.list()->isShown()); // an empty box
    // Up and Down without a list are the box's, and change nothing.
    typeText(form.mjesto(), "q");
    QTest::keyClick(form.mjesto(), Qt::Key_Down);
    QCOMPARE(form.mjesto()->text(), QStringLiteral("q"));
}

void TestSuggestionList::takenValueFollowsTheBoxRules_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");
    QTest::newRow("capitals in ATK") << "ATK"
                                     << "n0"
                                     << "N03AX14";
    QTest::newRow("three characters in Valuta") << "Valuta"
                                                << "eu"
                                                << "EUR";
    QTest::newRow("letters as they are elsewhere") << "Mjesto"
                                                   << "ši"
                                                   << "Šibenik";
}

void TestSuggestionList::takenValueFollowsTheBoxRules()
{
    QFETCH(QString, box);
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    Form form;
    DBEdit *edit = form.edit(qPrintable(box));
    edit->setFocus();
    QSignalSpy taken(form.list(qPrintable(box)), &SuggestionList::taken);
    typeText(edit, typed);
    QVERIFY(form.list(qPrintable(box))->isShown());
    QTest::keyClick(edit, Qt::Key_Down);
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(edit->text(), stored);
    QCOMPARE(fieldText(*form.table, qPrintable(box)), stored);
    QCOMPARE(taken.size(), 1);
}

// Taken as typed: the record is being edited, and the box's undo goes back
// to what was typed, the record with it.
void TestSuggestionList::aTakenValueIsUndoneAsTyping()
{
    Form form;
    QCOMPARE(form.table->state(), ClientDataSet::Browse);
    typeText(form.mjesto(), "za");
    QTest::keyClick(form.mjesto(), Qt::Key_Down);
    QTest::keyClick(form.mjesto(), Qt::Key_Return);
    QCOMPARE(form.table->state(), ClientDataSet::Edit);
    QCOMPARE(fieldText(*form.table, "Mjesto"), QStringLiteral("Zagreb"));
    QVERIFY(form.mjesto()->isUndoAvailable());
    QTest::keyClick(form.mjesto(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(form.mjesto()->text(), QStringLiteral("za"));
    QCOMPARE(fieldText(*form.table, "Mjesto"), QStringLiteral("za"));
}

void TestSuggestionList::clickTakesAValue()
{
    Form form;
    typeText(form.mjesto(), "za");
    QListWidget *view = form.list()->view();
    QVERIFY(view->isVisible());
    const QRect second = view->visualItemRect(view->item(1));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, second.center());
    QCOMPARE(form.mjesto()->text(), QStringLiteral("Zadar"));
    QCOMPARE(fieldText(*form.table, "Mjesto"), QStringLiteral("Zadar"));
    QVERIFY(!view->isVisible());
    QCOMPARE(QApplication::focusWidget(), form.mjesto());
}

void TestSuggestionList::closesWhenTheBoxStopsBeingTypedIn()
{
    Form form;
    // Another record shown.
    typeText(form.mjesto(), "za");
    QVERIFY(form.list()->isShown());
    form.table->next();
    QVERIFY(!form.list()->isShown());
    QCOMPARE(form.mjesto()->text(), fieldText(*form.table, "Mjesto"));
    // The focus gone to another box.
    typeText(form.mjesto(), "za");
    QVERIFY(form.list()->isShown());
    form.edit("ATK")->setFocus();
    QVERIFY(!form.list()->isShown());
    // The window moved.
    form.mjesto()->setFocus();
    typeText(form.mjesto(), "b");
    QVERIFY(form.list()->isShown());
    form.window.move(form.window.pos() + QPoint(10, 10));
    QTRY_VERIFY(!form.list()->isShown());
}

void TestSuggestionList::standsUnderTheBoxOutsideTheWindow()
{
    Form form;
    const QRect before = form.mjesto()->geometry();
    typeText(form.mjesto(), "za");
    QListWidget *view = form.list()->view();
    QVERIFY(view->isWindow());
    QVERIFY(!form.window.isAncestorOf(view));
    QCOMPARE(view->count(), SuggestionList::MaxRows);
    const QRect box(form.mjesto()->mapToGlobal(QPoint(0, 0)), form.mjesto()->size());
    QCOMPARE(view->geometry().topLeft(), box.bottomLeft() + QPoint(0, 1));
    QCOMPARE(view->width(), box.width());
    // Every row shown whole.
    QVERIFY(view->visualItemRect(view->item(7)).bottom() < view->viewport()->height());
    QCOMPARE(form.mjesto()->geometry(), before);
    QCOMPARE(QApplication::focusWidget(), form.mjesto());
}

QTEST_MAIN(TestSuggestionList)
#include "tst_suggestionlist.moc"

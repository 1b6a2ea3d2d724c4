#include "tests/support/modalpoller.h"
#include "tests/support/scriptedmessageboxes.h"
#include "tests/toolkit/tablefixture.h"
#include "toolkit/datasource.h"
#include "toolkit/dbedit.h"
#include "toolkit/dbgrid.h"
#include "toolkit/exitwatcher.h"
#include "toolkit/messagebox.h"

#include "store/exception.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

using toolkit::DataSource;
using toolkit::DBEdit;
using toolkit::DBGrid;

namespace {

// A window of two boxes, a grid and a plain box, in that tab order.
struct Window
{
    Window()
        : table(makeTable(3))
    {
        source.setDataSet(table.get());
        auto *layout = new QVBoxLayout(&window);
        first = new DBEdit(&window);
        second = new DBEdit(&window);
        grid = new DBGrid(&window);
        plain = new QLineEdit(&window);
        first->setDataSource(&source);
        first->setDataField(QStringLiteral("Naziv"));
        second->setDataSource(&source);
        second->setDataField(QStringLiteral("Tar_br"));
        grid->setDataSource(&source);
        grid->setColumns({ { QStringLiteral("Naziv"), QStringLiteral("Naziv") },
            { QStringLiteral("Valuta"), QStringLiteral("Valuta") } });
        for (QWidget *w : { static_cast<QWidget *>(first), static_cast<QWidget *>(second),
                 static_cast<QWidget *>(grid), static_cast<QWidget *>(plain) })
            layout->addWidget(w);
        window.show();
        window.activateWindow();
    }

    std::unique_ptr<store::ClientDataSet> table;
    DataSource source;
    QWidget window;
    DBEdit *first;
    DBEdit *second;
    DBGrid *grid;
    QLineEdit *plain;
};

QLineEdit *openCellEditor(DBGrid *grid)
{
    grid->setFocus();
    grid->setCurrentIndex(grid->model()->index(0, 0));
    QTest::keyClick(grid, Qt::Key_F2);
    auto *editor = qobject_cast<QLineEdit *>(QApplication::focusWidget());
    return editor && grid->isAncestorOf(editor) ? editor : nullptr;
}

} // namespace

class TestExit : public QObject
{
    Q_OBJECT
private slots:
    void leavingABox_data();
    void leavingABox();
    void leavingTheGrid();
    void movingInsideTheGridIsNotLeaving();
    void windowDeactivationIsNotLeaving();
    void modalBoxIsNotLeaving();
    void handlerMovingFocusWinsOverTab();
    void failingHandlerIsReported();
    void quietMoveIsNotLeaving();
};

void TestExit::leavingABox_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Tab") << "tab";
    QTest::newRow("Shift+Tab") << "backtab";
    QTest::newRow("click") << "click";
    QTest::newRow("setFocus") << "setFocus";
}

void TestExit::leavingABox()
{
    QFETCH(QString, how);
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(&w.window));
    w.second->setFocus();
    QSignalSpy first(w.first, &DBEdit::exited);
    QSignalSpy second(w.second, &DBEdit::exited);

    if (how == u"tab")
        QTest::keyClick(w.second, Qt::Key_Tab);
    else if (how == u"backtab")
        QTest::keyClick(w.second, Qt::Key_Backtab, Qt::ShiftModifier);
    else if (how == u"click")
        QTest::mouseClick(w.plain, Qt::LeftButton);
    else
        w.first->setFocus();

    QVERIFY(!w.second->hasFocus());
    QCOMPARE(second.count(), 1);
    QCOMPARE(first.count(), 0);
}

void TestExit::leavingTheGrid()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(&w.window));
    QSignalSpy exited(w.grid, &DBGrid::exited);
    w.grid->setFocus();
    QTest::keyClick(w.grid, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), w.plain);
    QCOMPARE(exited.count(), 1);
    w.grid->setFocus();
    QTest::keyClick(w.grid, Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), w.second);
    QCOMPARE(exited.count(), 2);

    // From the cell editor straight out of the window's grid.
    QLineEdit *editor = openCellEditor(w.grid);
    QVERIFY(editor);
    QTest::mouseClick(w.first, Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), w.first);
    QCOMPARE(exited.count(), 3);
}

void TestExit::movingInsideTheGridIsNotLeaving()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(&w.window));
    QSignalSpy exited(w.grid, &DBGrid::exited);
    QLineEdit *editor = openCellEditor(w.grid);
    QVERIFY(editor);
    // Tab in a cell editor moves to the next cell.
    QTest::keyClick(editor, Qt::Key_Tab);
    QTest::qWait(0);
    QVERIFY(
        w.grid->isAncestorOf(QApplication::focusWidget()) || QApplication::focusWidget() == w.grid);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QCOMPARE(QApplication::focusWidget(), w.grid);
    QCOMPARE(exited.count(), 0);
}

void TestExit::windowDeactivationIsNotLeaving()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(&w.window));
    w.first->setFocus();
    QSignalSpy exited(w.first, &DBEdit::exited);

    QWidget other;
    auto *otherBox = new QLineEdit(&other);
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    otherBox->setFocus();
    QCOMPARE(QApplication::focusWidget(), otherBox);

    w.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w.window));
    QCOMPARE(QApplication::focusWidget(), w.first);
    QCOMPARE(exited.count(), 0);

    // Going to another program entirely: the focus goes nowhere.
    QApplication::setActiveWindow(nullptr);
    QCOMPARE(QApplication::focusWidget(), nullptr);
    QApplication::setActiveWindow(&w.window);
    QCOMPARE(QApplication::focusWidget(), w.first);
    QCOMPARE(exited.count(), 0);

    // Leaving for real still counts afterwards.
    w.second->setFocus();
    QCOMPARE(exited.count(), 1);
}

void TestExit::modalBoxIsNotLeaving()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(&w.window));
    w.first->setFocus();
    QSignalSpy exited(w.first, &DBEdit::exited);

    // Read while the box is open: its widgets are gone once it closes.
    bool focusWasInTheBox = false;
    testsupport::ModalPoller closer([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!box)
            return false;
        const QWidget *focus = QApplication::focusWidget();
        focusWasInTheBox = focus && focus->window() == box && focus->window() != &w.window;
        box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click()
                                     : box->buttons().first()->click();
        return true;
    });
    QCOMPARE(
        toolkit::messageBox(QStringLiteral("Obavijest"), QString(), toolkit::MessageBoxStyle::Ok),
        toolkit::MessageBoxAnswer::Ok);
    QVERIFY(focusWasInTheBox);
    // The window manager gives the window back its activation.
    QApplication::setActiveWindow(&w.window);
    QCOMPARE(QApplication::focusWidget(), w.first);
    QCOMPARE(exited.count(), 0);
}

void TestExit::handlerMovingFocusWinsOverTab()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(&w.window));
    // A form that sends the user back to the first box when one is left.
    connect(w.second, &DBEdit::exited, w.first, [&] { w.first->setFocus(); });
    QSignalSpy exited(w.second, &DBEdit::exited);
    w.second->setFocus();
    QTest::keyClick(w.second, Qt::Key_Tab);
    QCOMPARE(exited.count(), 1);
    QCOMPARE(QApplication::focusWidget(), w.first);
    QTest::qWait(0);
    QCOMPARE(QApplication::focusWidget(), w.first);

    // The same from the grid, whose handler sends the user onwards.
    connect(w.grid, &DBGrid::exited, w.plain, [&] { w.second->setFocus(); });
    w.grid->setFocus();
    QTest::keyClick(w.grid, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), w.second);
}

void TestExit::failingHandlerIsReported()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(&w.window));
    connect(w.first, &DBEdit::exited, w.first,
        [] { throw store::Exception(QStringLiteral("Neispravan unos.")); });
    testsupport::ScriptedMessageBoxes boxes;
    w.first->setFocus();
    QTest::keyClick(w.first, Qt::Key_Tab);
    QCOMPARE(boxes.texts(), QStringList { QStringLiteral("Neispravan unos.") });
    QCOMPARE(QApplication::focusWidget(), w.second);
}

void TestExit::quietMoveIsNotLeaving()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(&w.window));
    QSignalSpy exited(w.second, &DBEdit::exited);
    QSignalSpy gridExited(w.grid, &DBGrid::exited);

    // In the active window, at once.
    w.second->setFocus();
    toolkit::ExitWatcher::moveFocusQuietly(w.first);
    QCOMPARE(QApplication::focusWidget(), w.first);
    w.grid->setFocus();
    toolkit::ExitWatcher::moveFocusQuietly(w.second);
    QCOMPARE(QApplication::focusWidget(), w.second);
    QCOMPARE(exited.count(), 0);
    QCOMPARE(gridExited.count(), 0);

    // While another window is active: the move happens when the window is
    // activated again, and is no leaving then either.
    QWidget other;
    auto *otherBox = new QLineEdit(&other);
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    otherBox->setFocus();
    toolkit::ExitWatcher::moveFocusQuietly(w.first);
    QCOMPARE(w.window.focusWidget(), w.first);
    w.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w.window));
    QCOMPARE(QApplication::focusWidget(), w.first);
    QCOMPARE(exited.count(), 0);

    // The user leaving afterwards still counts.
    w.second->setFocus();
    QTest::keyClick(w.second, Qt::Key_Tab);
    QCOMPARE(exited.count(), 1);
}

QTEST_MAIN(TestExit)
#include "tst_exit.moc"

#include "tests/support/scriptedmessageboxes.h"
#include "tests/toolkit/tablefixture.h"
#include "toolkit/datasource.h"
#include "toolkit/dbgrid.h"

#include "store/exception.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

using store::ClientDataSet;
using toolkit::DataSource;
using toolkit::DBGrid;
using toolkit::DBGridColumn;

namespace {

const QList<DBGridColumn> kColumns = {
    { QStringLiteral("Naziv"), QStringLiteral("Naziv") },
    { QStringLiteral("Kolicina"), QStringLiteral("Količina") },
    { QStringLiteral("Valuta"), QStringLiteral("Valuta") },
};

struct Fixture
{
    explicit Fixture(int records)
        : table(makeTable(records))
    {
        source.setDataSet(table.get());
        grid.setColumns(kColumns);
        grid.setDataSource(&source);
        grid.resize(600, 300);
        grid.show();
        grid.activateWindow();
        grid.setFocus();
        QVERIFY(QTest::qWaitForWindowActive(&grid));
    }

    QModelIndex index(int row, int column) const { return grid.model()->index(row, column); }
    void clickRow(int row)
    {
        const QRect cell = grid.visualRect(index(row, 0));
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cell.center());
    }
    // The open cell editor (closed ones linger until deleted later).
    QLineEdit *editor() const
    {
        for (QLineEdit *e : grid.viewport()->findChildren<QLineEdit *>()) {
            if (e->isVisible())
                return e;
        }
        return nullptr;
    }
    bool rowSelected(int row) const { return grid.selectionModel()->isRowSelected(row, {}); }

    std::unique_ptr<ClientDataSet> table;
    DataSource source;
    DBGrid grid;
};

} // namespace

class TestDBGrid : public QObject
{
    Q_OBJECT
private slots:
    void init() { QLocale::setDefault(QLocale::c()); }
    void cleanup() { QLocale::setDefault(QLocale::system()); }

    void followsTheTableCursor();
    void userMovesTheTableCursor();
    void recordThatCannotBeLeftKeepsTheGridOnIt();
    void cellEditEditsTheRecord();
    void cellEditorFiltersLikeAnEditBox();
    void badNumberInCellIsReportedNotThrown();
    void typedCellTextIsPostedWhenTheRecordIsLeft();
    void cancelDiscardsTypedCellText();
    void defaultColumnWidths();
    void walkingTheTableMovesTheCurrentRowOnly();
};

void TestDBGrid::followsTheTableCursor()
{
    Fixture f(10);
    QCOMPARE(f.grid.currentIndex().row(), 0);
    QVERIFY(f.rowSelected(0));

    f.table->moveTo(7);
    QCOMPARE(f.grid.currentIndex().row(), 7);
    QVERIFY(f.rowSelected(7));
    QVERIFY(!f.rowSelected(0));

    f.table->insert();
    QCOMPARE(f.grid.model()->rowCount(), 11);
    QCOMPARE(f.grid.currentIndex().row(), 10);
    QVERIFY(f.rowSelected(10));
    f.table->cancel();
    QCOMPARE(f.grid.model()->rowCount(), 10);
    QCOMPARE(f.grid.currentIndex().row(), 7);
    QCOMPARE(f.table->currentRow(), 7);

    f.table->deleteRecord();
    QCOMPARE(f.grid.currentIndex().row(), f.table->currentRow());

    f.table->close();
    QVERIFY(!f.grid.currentIndex().isValid());
    f.table->open();
    QVERIFY(!f.grid.currentIndex().isValid());
}

void TestDBGrid::userMovesTheTableCursor()
{
    Fixture f(10);
    QTest::keyClick(&f.grid, Qt::Key_Down);
    QCOMPARE(f.table->currentRow(), 1);
    QTest::keyClick(&f.grid, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(f.table->currentRow(), 9);

    f.clickRow(4);
    QCOMPARE(f.table->currentRow(), 4);
    QCOMPARE(fieldText(*f.table, "Naziv"), QStringLiteral("Lijek 5"));

    // Leaving a new, untouched record drops it, and the grid with it.
    f.table->insert();
    QCOMPARE(f.grid.currentIndex().row(), 10);
    f.clickRow(2);
    QCOMPARE(f.table->currentRow(), 2);
    QCOMPARE(f.table->rowCount(), 10);
    QCOMPARE(f.grid.model()->rowCount(), 10);
    QCOMPARE(f.grid.currentIndex().row(), 2);
}

void TestDBGrid::recordThatCannotBeLeftKeepsTheGridOnIt()
{
    Fixture f(5);
    f.table->beforePost = [] { throw store::Exception(QStringLiteral("Unesite naziv.")); };
    f.table->moveTo(1);
    f.table->edit();
    f.table->fieldByName(QStringLiteral("Naziv"))->setAsString(QString());

    testsupport::ScriptedMessageBoxes boxes;
    f.clickRow(3);
    QCOMPARE(boxes.texts(), QStringList { QStringLiteral("Unesite naziv.") });
    QCOMPARE(f.table->currentRow(), 1);
    QCOMPARE(f.table->state(), ClientDataSet::Edit);
    // The click finishes its own selection work first; the grid then
    // returns to the record the table is still on.
    QTRY_VERIFY(f.rowSelected(1));
    QCOMPARE(f.grid.currentIndex().row(), 1);
    QVERIFY(!f.rowSelected(3));

    QTest::keyClick(&f.grid, Qt::Key_Down);
    QCOMPARE(boxes.calls().size(), 2);
    QCOMPARE(f.table->currentRow(), 1);
    QTRY_VERIFY(f.rowSelected(1));
    QCOMPARE(f.grid.currentIndex().row(), 1);
    QVERIFY(!f.rowSelected(2));
}

void TestDBGrid::cellEditEditsTheRecord()
{
    Fixture f(3);
    f.table->moveTo(1);
    f.grid.setCurrentIndex(f.index(1, 0));
    QTest::keyClick(&f.grid, Qt::Key_F2);
    QLineEdit *editor = f.editor();
    QVERIFY(editor);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("Drugi"));
    QCOMPARE(f.table->state(), ClientDataSet::Edit);
    // The delegate commits on Return from the event loop.
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE(fieldText(*f.table, "Naziv"), QStringLiteral("Drugi"));
    QCOMPARE(f.grid.model()->index(1, 0).data().toString(), QStringLiteral("Drugi"));

    // Typing straight into a number cell replaces it.
    f.grid.setCurrentIndex(f.index(1, 1));
    QTest::keyClick(&f.grid, Qt::Key_2);
    QVERIFY(f.editor());
    QTest::keyClicks(f.editor(), QStringLiteral(".5"));
    QTest::keyClick(f.editor(), Qt::Key_Return);
    QTRY_COMPARE(f.table->fieldByName(QStringLiteral("Kolicina"))->asFloat(), 2.5);

    f.table->post();
    QCOMPARE(f.table->records()[1].text(store::fieldIndex(u"Naziv")), QStringLiteral("Drugi"));
}

void TestDBGrid::cellEditorFiltersLikeAnEditBox()
{
    Fixture f(1);
    f.grid.setCurrentIndex(f.index(0, 2));
    QTest::keyClick(&f.grid, Qt::Key_F2);
    QLineEdit *valuta = f.editor();
    QVERIFY(valuta);
    QCOMPARE(valuta->maxLength(), 3);
    QTest::keyClicks(valuta, QStringLiteral("EURO"));
    QCOMPARE(valuta->text(), QStringLiteral("EUR"));
    QTest::keyClick(valuta, Qt::Key_Escape);

    f.grid.setCurrentIndex(f.index(0, 0));
    QTest::keyClick(&f.grid, Qt::Key_F2);
    QLineEdit *naziv = f.editor();
    QVERIFY(naziv);
    naziv->end(false);
    QInputMethodEvent greek;
    greek.setCommitString(QStringLiteral("Ω"));
    QCoreApplication::sendEvent(naziv, &greek);
    QInputMethodEvent control;
    control.setCommitString(QStringLiteral("\x07"));
    QCoreApplication::sendEvent(naziv, &control);
    QCOMPARE(naziv->text(), QStringLiteral("Lijek 1"));
    QTest::keyClick(naziv, Qt::Key_Escape);

    f.grid.setCurrentIndex(f.index(0, 1));
    QTest::keyClick(&f.grid, Qt::Key_F2);
    QLineEdit *kolicina = f.editor();
    QVERIFY(kolicina);
    kolicina->selectAll();
    QTest::keyClicks(kolicina, QStringLiteral("1x2"));
    QCOMPARE(kolicina->text(), QStringLiteral("12"));
}

void TestDBGrid::badNumberInCellIsReportedNotThrown()
{
    Fixture f(2);
    testsupport::ScriptedMessageBoxes boxes;
    f.grid.setCurrentIndex(f.index(0, 1));
    QTest::keyClick(&f.grid, Qt::Key_F2);
    QVERIFY(f.editor());
    f.editor()->selectAll();
    QTest::keyClicks(f.editor(), QStringLiteral("1e-"));
    QTest::keyClick(f.editor(), Qt::Key_Return);
    QTRY_COMPARE(boxes.texts(),
        QStringList { QStringLiteral("Neispravan broj u polju \"Količina\": \"1e-\".") });
    QCOMPARE(f.table->fieldByName(QStringLiteral("Kolicina"))->asFloat(), 1.0);
}

void TestDBGrid::typedCellTextIsPostedWhenTheRecordIsLeft()
{
    Fixture f(3);
    f.grid.setCurrentIndex(f.index(0, 0));
    QTest::keyClick(&f.grid, Qt::Key_F2);
    QVERIFY(f.editor());
    f.editor()->selectAll();
    QTest::keyClicks(f.editor(), QStringLiteral("Upisano"));
    // The editor is still open when the program moves on (a key handler, a
    // button): the typed text goes with the post, not to the next record.
    f.table->next();
    QCOMPARE(f.table->currentRow(), 1);
    QCOMPARE(f.table->records()[0].text(store::fieldIndex(u"Naziv")), QStringLiteral("Upisano"));
    QCOMPARE(f.table->records()[1].text(store::fieldIndex(u"Naziv")), QStringLiteral("Lijek 2"));
    QVERIFY(!f.editor() || !f.editor()->isVisible());
    QCOMPARE(f.grid.currentIndex().row(), 1);

    // A bad number in an open cell refuses the post like an edit box does.
    f.grid.setCurrentIndex(f.index(1, 1));
    QTest::keyClick(&f.grid, Qt::Key_F2);
    QVERIFY(f.editor());
    f.editor()->selectAll();
    QTest::keyClicks(f.editor(), QStringLiteral("--"));
    QVERIFY_THROWS_EXCEPTION(store::Exception, f.table->post());
    QCOMPARE(f.table->state(), ClientDataSet::Edit);
}

void TestDBGrid::cancelDiscardsTypedCellText()
{
    Fixture f(2);
    f.grid.setCurrentIndex(f.index(0, 0));
    QTest::keyClick(&f.grid, Qt::Key_F2);
    QLineEdit *editor = f.editor();
    QVERIFY(editor);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("Odbaceno"));
    QCOMPARE(f.table->state(), ClientDataSet::Edit);

    f.table->cancel();
    QCOMPARE(f.editor(), nullptr);
    // Nothing of the cancelled text comes back later.
    f.table->next();
    QTest::qWait(0);
    QCOMPARE(f.table->state(), ClientDataSet::Browse);
    QCOMPARE(f.table->records()[0].text(store::fieldIndex(u"Naziv")), QStringLiteral("Lijek 1"));
}

void TestDBGrid::defaultColumnWidths()
{
    DBGrid grid;
    const QFontMetrics fm = grid.fontMetrics();
    const QFontMetrics header = grid.horizontalHeader()->fontMetrics();
    // Valuta is three characters wide; a long title decides its width.
    const DBGridColumn narrow { QStringLiteral("Valuta"),
        QStringLiteral("Valuta plaćanja računa") };
    const int narrowWidth = grid.defaultColumnWidth(narrow);
    QVERIFY(narrowWidth >= header.horizontalAdvance(narrow.title));
    QVERIFY(narrowWidth <= header.horizontalAdvance(narrow.title) + 10);
    // Naziv is a hundred characters wide; the title is short.
    const DBGridColumn wide { QStringLiteral("Naziv"), QStringLiteral("Naziv") };
    const int wideWidth = grid.defaultColumnWidth(wide);
    QVERIFY(wideWidth >= 100 * fm.averageCharWidth());
    QVERIFY(wideWidth <= 100 * fm.averageCharWidth() + 10);

    grid.setColumns({ narrow, wide, { QStringLiteral("Tar_br"), QString(), 77 } });
    QCOMPARE(grid.columnWidth(0), narrowWidth);
    QCOMPARE(grid.columnWidth(1), wideWidth);
    QCOMPARE(grid.columnWidth(2), 77);

    QFont bigger = grid.font();
    bigger.setPointSize(bigger.pointSize() * 2);
    grid.setFont(bigger);
    QVERIFY(grid.columnWidth(1) > wideWidth);
    QCOMPARE(grid.columnWidth(2), 77);
}

void TestDBGrid::walkingTheTableMovesTheCurrentRowOnly()
{
    Fixture f(3000);
    QSignalSpy resets(f.grid.model(), &QAbstractItemModel::modelReset);
    QSignalSpy layouts(f.grid.model(), &QAbstractItemModel::layoutChanged);
    int rows = 0;
    for (f.table->first(); !f.table->eof(); f.table->next()) {
        QCOMPARE(f.grid.currentIndex().row(), f.table->currentRow());
        ++rows;
    }
    QCOMPARE(rows, 3000);
    QCOMPARE(resets.count(), 0);
    QCOMPARE(layouts.count(), 0);
    QVERIFY(f.rowSelected(2999));
    QCOMPARE(f.grid.selectionModel()->selectedRows().size(), 1);
    // Once the walk is over the grid shows where it ended.
    const auto visible = [&](int row) {
        return f.grid.viewport()->rect().contains(f.grid.visualRect(f.index(row, 0)).center());
    };
    QTRY_VERIFY(visible(2999));
    f.table->moveTo(1500);
    QTRY_VERIFY(visible(1500));
}

QTEST_MAIN(TestDBGrid)
#include "tst_dbgrid.moc"

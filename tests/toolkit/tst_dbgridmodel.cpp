#include "tests/support/scriptedmessageboxes.h"
#include "tests/toolkit/tablefixture.h"
#include "toolkit/datasource.h"
#include "toolkit/dbgridmodel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

using store::ClientDataSet;
using toolkit::DataSource;
using toolkit::DBGridColumn;
using toolkit::DBGridModel;

namespace {

const QList<DBGridColumn> kColumns = {
    { QStringLiteral("Naziv"), QStringLiteral("Naziv lijeka") },
    { QStringLiteral("Kolicina"), QStringLiteral("Količina") },
    { QStringLiteral("Valuta"), QString() },
};

// A model over a table with the tester watching every change.
struct Fixture
{
    explicit Fixture(int records)
        : table(makeTable(records))
    {
        source.setDataSet(table.get());
        model.setColumns(kColumns);
        model.setDataSource(&source);
    }

    QString cell(int row, int column, int role = Qt::DisplayRole) const
    {
        return model.data(model.index(row, column), role).toString();
    }
    void setName(const QString &name)
    {
        table->fieldByName(QStringLiteral("Naziv"))->setAsString(name);
    }

    std::unique_ptr<ClientDataSet> table;
    DataSource source;
    DBGridModel model;
    QAbstractItemModelTester tester { &model };
};

} // namespace

class TestDBGridModel : public QObject
{
    Q_OBJECT
private slots:
    void showsRecordsAndHeaders();
    void numbersShownToPrecisionEditedInFull();
    void followsTableThroughItsLife();
    void announcesEachChangeExactly_data();
    void announcesEachChangeExactly();
    void setDataEditsCurrentRecord();
    void setDataRefusesBadNumberWithMessage();
    void setDataLeavesOtherRowsAlone();
    void walkingTheTableRefreshesNothingWhole();
};

void TestDBGridModel::showsRecordsAndHeaders()
{
    Fixture f(3);
    QCOMPARE(f.model.rowCount(), 3);
    QCOMPARE(f.model.columnCount(), 3);
    QCOMPARE(f.cell(0, 0), QStringLiteral("Lijek 1"));
    QCOMPARE(f.cell(2, 0), QStringLiteral("Lijek 3"));
    QCOMPARE(f.cell(2, 1), QStringLiteral("3"));
    QCOMPARE(f.cell(2, 2), QString());
    QCOMPARE(f.model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Naziv lijeka"));
    QCOMPARE(f.model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Količina"));
    // No title: the field's name.
    QCOMPARE(f.model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("Valuta"));
    QVERIFY(f.model.flags(f.model.index(0, 0)) & Qt::ItemIsEditable);
}

void TestDBGridModel::numbersShownToPrecisionEditedInFull()
{
    QLocale::setDefault(QLocale::c());
    Fixture f(1);
    f.table->edit();
    f.table->fieldByName(QStringLiteral("Kolicina"))->setAsFloat(1234.56789012345);
    f.table->post();
    QCOMPARE(f.cell(0, 1, Qt::DisplayRole), QStringLiteral("1234.56789"));
    QCOMPARE(f.cell(0, 1, Qt::EditRole), QStringLiteral("1234.56789012345"));
    QCOMPARE(f.cell(0, 0, Qt::EditRole), QStringLiteral("Lijek 1"));
    QLocale::setDefault(QLocale::system());
}

void TestDBGridModel::followsTableThroughItsLife()
{
    Fixture f(3);
    ClientDataSet &t = *f.table;

    t.insert();
    QCOMPARE(f.model.rowCount(), 4);
    f.setName(QStringLiteral("Novi"));
    QCOMPARE(f.cell(3, 0), QStringLiteral("Novi"));
    t.post();
    QCOMPARE(f.model.rowCount(), 4);
    QCOMPARE(f.cell(3, 0), QStringLiteral("Novi"));

    t.insert();
    QCOMPARE(f.model.rowCount(), 5);
    t.cancel();
    QCOMPARE(f.model.rowCount(), 4);

    t.moveTo(1);
    t.edit();
    f.setName(QStringLiteral("Izmijenjen"));
    QCOMPARE(f.cell(1, 0), QStringLiteral("Izmijenjen"));
    t.cancel();
    QCOMPARE(f.cell(1, 0), QStringLiteral("Lijek 2"));

    t.deleteRecord();
    QCOMPARE(f.model.rowCount(), 3);
    QCOMPARE(f.cell(1, 0), QStringLiteral("Lijek 3"));
    t.last();
    t.deleteRecord();
    QCOMPARE(f.model.rowCount(), 2);

    // An unchanged new record is dropped when the cursor leaves it.
    t.insert();
    t.first();
    QCOMPARE(f.model.rowCount(), 2);

    QCOMPARE(t.deleteWhere([](const store::Record &) { return true; }), 2);
    QCOMPARE(f.model.rowCount(), 0);
    t.insert();
    f.setName(QStringLiteral("Prvi"));
    t.post();
    QCOMPARE(f.model.rowCount(), 1);

    t.close();
    QCOMPARE(f.model.rowCount(), 0);
    QCOMPARE(f.model.data(f.model.index(0, 0)), QVariant());
    t.open();
    QCOMPARE(f.model.rowCount(), 0);

    auto other = makeTable(7);
    f.source.setDataSet(other.get());
    QCOMPARE(f.model.rowCount(), 7);
    other.reset();
    QCOMPARE(f.model.rowCount(), 0);

    f.model.setColumns({ { QStringLiteral("Tar_br"), QString() } });
    QCOMPARE(f.model.columnCount(), 1);
}

void TestDBGridModel::announcesEachChangeExactly_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("expected");
    QTest::newRow("insert") << "insert"
                            << "inserted 3-3";
    QTest::newRow("cancel insert") << "cancelInsert"
                                   << "removed 3-3";
    QTest::newRow("post insert") << "postInsert"
                                 << "changed 3-3";
    QTest::newRow("write field") << "write"
                                 << "changed 1-1";
    QTest::newRow("delete middle") << "delete"
                                   << "removed 1-1";
    QTest::newRow("move") << "move"
                          << "";
    QTest::newRow("reload") << "reload"
                            << "reset";
}

void TestDBGridModel::announcesEachChangeExactly()
{
    QFETCH(QString, operation);
    QFETCH(QString, expected);
    Fixture f(3);
    ClientDataSet &t = *f.table;
    t.moveTo(1);
    if (operation == u"cancelInsert" || operation == u"postInsert") {
        t.insert();
        f.setName(QStringLiteral("Novi"));
    }
    if (operation == u"write")
        t.edit();

    QStringList seen;
    const auto range = [](const QString &what, int first, int last) {
        return QStringLiteral("%1 %2-%3").arg(what).arg(first).arg(last);
    };
    connect(
        &f.model, &QAbstractItemModel::rowsInserted, this, [&](const QModelIndex &, int a, int b) {
            seen << range(QStringLiteral("inserted"), a, b);
        });
    connect(&f.model, &QAbstractItemModel::rowsRemoved, this,
        [&](const QModelIndex &, int a, int b) { seen << range(QStringLiteral("removed"), a, b); });
    connect(&f.model, &QAbstractItemModel::dataChanged, this,
        [&](const QModelIndex &a, const QModelIndex &b) {
            QCOMPARE(a.column(), 0);
            QCOMPARE(b.column(), f.model.columnCount() - 1);
            seen << range(QStringLiteral("changed"), a.row(), b.row());
        });
    connect(
        &f.model, &QAbstractItemModel::modelReset, this, [&] { seen << QStringLiteral("reset"); });
    connect(&f.model, &QAbstractItemModel::layoutChanged, this,
        [&] { seen << QStringLiteral("layout"); });

    if (operation == u"insert")
        t.insert();
    else if (operation == u"cancelInsert")
        t.cancel();
    else if (operation == u"postInsert")
        t.post();
    else if (operation == u"write")
        f.setName(QStringLiteral("x"));
    else if (operation == u"delete")
        t.deleteRecord();
    else if (operation == u"move")
        t.next();
    else if (operation == u"reload")
        t.createDataSet();
    QCOMPARE(seen.join(u", "), expected);
    QCOMPARE(f.model.rowCount(), t.rowCount());
}

void TestDBGridModel::setDataEditsCurrentRecord()
{
    Fixture f(3);
    f.table->moveTo(2);
    QVERIFY(f.model.setData(f.model.index(2, 0), QStringLiteral("Iz mreže")));
    QCOMPARE(f.table->state(), ClientDataSet::Edit);
    QCOMPARE(fieldText(*f.table, "Naziv"), QStringLiteral("Iz mreže"));
    QVERIFY(f.model.setData(f.model.index(2, 1), QStringLiteral("42")));
    QCOMPARE(f.table->fieldByName(QStringLiteral("Kolicina"))->asFloat(), 42.0);
    f.table->post();
    QCOMPARE(f.cell(2, 0), QStringLiteral("Iz mreže"));

    // Writing what is already there does not open the record.
    QVERIFY(f.model.setData(f.model.index(2, 0), QStringLiteral("Iz mreže")));
    QCOMPARE(f.table->state(), ClientDataSet::Browse);
}

void TestDBGridModel::setDataRefusesBadNumberWithMessage()
{
    Fixture f(1);
    testsupport::ScriptedMessageBoxes boxes;
    QVERIFY(!f.model.setData(f.model.index(0, 1), QStringLiteral("1-2")));
    QCOMPARE(boxes.calls(),
        QList<toolkit::MessageBoxCall>(
            { { QStringLiteral("Neispravan broj u polju \"Količina\": \"1-2\"."),
                QStringLiteral("Greška"), toolkit::MessageBoxStyle::Ok } }));
    QCOMPARE(f.table->fieldByName(QStringLiteral("Kolicina"))->asFloat(), 1.0);
}

void TestDBGridModel::setDataLeavesOtherRowsAlone()
{
    Fixture f(3);
    QCOMPARE(f.table->currentRow(), 0);
    QVERIFY(!f.model.setData(f.model.index(2, 0), QStringLiteral("x")));
    QCOMPARE(f.table->currentRow(), 0);
    QCOMPARE(f.table->state(), ClientDataSet::Browse);
    QCOMPARE(f.cell(2, 0), QStringLiteral("Lijek 3"));
}

void TestDBGridModel::walkingTheTableRefreshesNothingWhole()
{
    // An export walks every record; the model must not answer each step
    // with a refresh of everything.
    Fixture f(2000);
    QSignalSpy resets(&f.model, &QAbstractItemModel::modelReset);
    QSignalSpy layouts(&f.model, &QAbstractItemModel::layoutChanged);
    int widest = 0;
    connect(&f.model, &QAbstractItemModel::dataChanged, this,
        [&](const QModelIndex &a, const QModelIndex &b) {
            widest = std::max(widest, b.row() - a.row() + 1);
        });
    int walked = 0;
    for (f.table->first(); !f.table->eof(); f.table->next())
        ++walked;
    QCOMPARE(walked, 2000);
    QCOMPARE(resets.count(), 0);
    QCOMPARE(layouts.count(), 0);
    QVERIFY(widest <= 1);
}

QTEST_MAIN(TestDBGridModel)
#include "tst_dbgridmodel.moc"

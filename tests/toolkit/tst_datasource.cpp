#include "tests/toolkit/tablefixture.h"
#include "toolkit/datasource.h"

#include "store/exception.h"

#include <QSignalSpy>
#include <QTest>

using store::ClientDataSet;
using toolkit::DataLink;
using toolkit::DataSource;

namespace {

// A bound control that records the data source asking it for its text.
class RecordingLink : public DataLink
{
public:
    void updateRecord() override
    {
        ++calls;
        if (failWith)
            throw store::Exception(*failWith);
    }
    int calls = 0;
    std::optional<QString> failWith;
};

} // namespace

class TestDataSource : public QObject
{
    Q_OBJECT
private slots:
    void dataChangeOncePerOperation_data();
    void dataChangeOncePerOperation();
    void dataChangeOnReloadAndClose();
    void startEditOnBrowsingRecordEdits();
    void startEditOnEmptyTableStartsRecordWithDefaults();
    void startEditWithoutOpenTable();
    void postAsksEveryLinkFirst();
    void failingLinkRefusesPost();
    void earlierHookKeptAndRestored();
    void tableDestroyedFirst();
    void controlsFollowEveryChangeOutsideABracket();
    void bracketHoldsControlsAndEndsWithOneChange();
};

void TestDataSource::dataChangeOncePerOperation_data()
{
    QTest::addColumn<QString>("operation");
    QTest::newRow("next") << "next";
    QTest::newRow("moveTo") << "moveTo";
    QTest::newRow("last") << "last";
    QTest::newRow("edit") << "edit";
    QTest::newRow("field write") << "write";
    QTest::newRow("cancel of edit") << "cancel";
    QTest::newRow("post of edit") << "post";
    QTest::newRow("insert") << "insert";
    QTest::newRow("delete") << "delete";
}

void TestDataSource::dataChangeOncePerOperation()
{
    QFETCH(QString, operation);
    auto ds = makeTable(5);
    DataSource source;
    source.setDataSet(ds.get());
    if (operation == u"cancel" || operation == u"post") {
        ds->edit();
        ds->fieldByName(QStringLiteral("Naziv"))->setAsString(QStringLiteral("x"));
    }
    if (operation == u"write")
        ds->edit();

    QSignalSpy dataChange(&source, &DataSource::dataChange);
    if (operation == u"next")
        ds->next();
    else if (operation == u"moveTo")
        ds->moveTo(3);
    else if (operation == u"last")
        ds->last();
    else if (operation == u"edit")
        ds->edit();
    else if (operation == u"write")
        ds->fieldByName(QStringLiteral("Naziv"))->setAsString(QStringLiteral("y"));
    else if (operation == u"cancel")
        ds->cancel();
    else if (operation == u"post")
        ds->post();
    else if (operation == u"insert")
        ds->insert();
    else if (operation == u"delete")
        ds->deleteRecord();
    QCOMPARE(dataChange.count(), 1);
}

void TestDataSource::dataChangeOnReloadAndClose()
{
    auto ds = makeTable(3);
    DataSource source;
    source.setDataSet(ds.get());
    QSignalSpy dataChange(&source, &DataSource::dataChange);
    QSignalSpy stateChange(&source, &DataSource::stateChange);

    ds->close();
    QCOMPARE(dataChange.count(), 1);
    QCOMPARE(stateChange.count(), 1);
    ds->open();
    QCOMPARE(dataChange.count(), 2);
    QCOMPARE(stateChange.count(), 2);

    DataSource other;
    QSignalSpy attached(&other, &DataSource::dataChange);
    other.setDataSet(ds.get());
    QCOMPARE(attached.count(), 1);
}

void TestDataSource::startEditOnBrowsingRecordEdits()
{
    auto ds = makeTable(3);
    ds->moveTo(1);
    DataSource source;
    source.setDataSet(ds.get());

    QVERIFY(source.startEdit());
    QCOMPARE(ds->state(), ClientDataSet::Edit);
    QCOMPARE(ds->currentRow(), 1);
    QCOMPARE(ds->rowCount(), 3);
    // Already editing: nothing more happens.
    QVERIFY(source.startEdit());
    QCOMPARE(ds->state(), ClientDataSet::Edit);
    QCOMPARE(ds->rowCount(), 3);
}

void TestDataSource::startEditOnEmptyTableStartsRecordWithDefaults()
{
    auto ds = makeTable(0);
    int afterInsert = 0;
    ds->afterInsert = [&] {
        ++afterInsert;
        ds->fieldByName(QStringLiteral("Valuta"))->setAsString(QStringLiteral("EUR"));
    };
    DataSource source;
    source.setDataSet(ds.get());

    QVERIFY(source.startEdit());
    QCOMPARE(ds->state(), ClientDataSet::Insert);
    QCOMPARE(afterInsert, 1);
    QCOMPARE(fieldText(*ds, "Valuta"), QStringLiteral("EUR"));
    QCOMPARE(ds->rowCount(), 1);
}

void TestDataSource::startEditWithoutOpenTable()
{
    DataSource source;
    QVERIFY(!source.startEdit());

    ClientDataSet closed;
    source.setDataSet(&closed);
    QVERIFY(!source.startEdit());
    QCOMPARE(closed.state(), ClientDataSet::Inactive);
}

void TestDataSource::postAsksEveryLinkFirst()
{
    auto ds = makeTable(2);
    DataSource source;
    source.setDataSet(ds.get());
    RecordingLink a;
    RecordingLink b;
    source.addLink(&a);
    source.addLink(&b);
    source.addLink(&a); // twice is once

    ds->edit();
    ds->fieldByName(QStringLiteral("Naziv"))->setAsString(QStringLiteral("x"));
    ds->post();
    QCOMPARE(a.calls, 1);
    QCOMPARE(b.calls, 1);

    source.removeLink(&b);
    ds->edit();
    ds->markModified();
    ds->post();
    QCOMPARE(a.calls, 2);
    QCOMPARE(b.calls, 1);
}

void TestDataSource::failingLinkRefusesPost()
{
    auto ds = makeTable(2);
    DataSource source;
    source.setDataSet(ds.get());
    RecordingLink link;
    link.failWith = QStringLiteral("Neispravan broj");
    source.addLink(&link);

    ds->edit();
    ds->fieldByName(QStringLiteral("Naziv"))->setAsString(QStringLiteral("novo"));
    QVERIFY_THROWS_EXCEPTION(store::Exception, ds->post());
    QCOMPARE(ds->state(), ClientDataSet::Edit);
    QCOMPARE(fieldText(*ds, "Naziv"), QStringLiteral("novo"));
    QCOMPARE(ds->records()[0].text(store::fieldIndex(u"Naziv")), QStringLiteral("Lijek 1"));
}

void TestDataSource::earlierHookKeptAndRestored()
{
    auto ds = makeTable(1);
    int earlier = 0;
    ds->updateRecord = [&] { ++earlier; };
    RecordingLink link;
    {
        DataSource source;
        source.setDataSet(ds.get());
        source.addLink(&link);
        ds->edit();
        ds->markModified();
        ds->post();
        QCOMPARE(link.calls, 1);
        QCOMPARE(earlier, 1);
    }
    // The source is gone: its controls are no longer asked, the earlier hook still is.
    ds->edit();
    ds->markModified();
    ds->post();
    QCOMPARE(link.calls, 1);
    QCOMPARE(earlier, 2);
}

void TestDataSource::tableDestroyedFirst()
{
    DataSource source;
    auto ds = makeTable(1);
    source.setDataSet(ds.get());
    QSignalSpy changed(&source, &DataSource::dataSetChanged);
    ds.reset();
    QCOMPARE(source.dataSet(), nullptr);
    QCOMPARE(changed.count(), 1);
    QVERIFY(!source.startEdit());
}

void TestDataSource::controlsFollowEveryChangeOutsideABracket()
{
    // However many changes a command makes, each reaches the controls at
    // once: nothing is put off to a later turn of the event loop.
    auto ds = makeTable(100);
    DataSource source;
    source.setDataSet(ds.get());
    QStringList shown;
    connect(&source, &DataSource::controlsChange, this, [&] { shown << fieldText(*ds, "Naziv"); });
    for (ds->first(); !ds->eof(); ds->next()) { }
    QCOMPARE(shown.size(), 100);
    QCOMPARE(shown.first(), QStringLiteral("Lijek 1"));
    QCOMPARE(shown.last(), QStringLiteral("Lijek 100"));
}

void TestDataSource::bracketHoldsControlsAndEndsWithOneChange()
{
    auto ds = makeTable(50);
    DataSource source;
    source.setDataSet(ds.get());
    QSignalSpy controls(&source, &DataSource::controlsChange);
    QSignalSpy data(&source, &DataSource::dataChange);
    QStringList shownAtEnd;
    connect(
        &source, &DataSource::controlsChange, this, [&] { shownAtEnd << fieldText(*ds, "Naziv"); });

    {
        const toolkit::ControlsDisabled outer(source);
        QVERIFY(source.controlsDisabled());
        ds->first();
        {
            // Nested: only the outermost bracket lets the controls go.
            const toolkit::ControlsDisabled inner(source);
            for (int i = 0; i < 20; ++i)
                ds->next();
        }
        QVERIFY(source.controlsDisabled());
        QCOMPARE(controls.count(), 0);
        ds->next();
        QCOMPARE(controls.count(), 0);
        // The window's handlers still hear of every move.
        QCOMPARE(data.count(), 22);
    }
    QVERIFY(!source.controlsDisabled());
    QCOMPARE(shownAtEnd, QStringList { QStringLiteral("Lijek 22") });

    // A walk that throws still lets the controls go.
    controls.clear();
    try {
        const toolkit::ControlsDisabled quiet(source);
        ds->last();
        throw store::Exception(QStringLiteral("prekinuto"));
    } catch (const store::Exception &) {
    }
    QVERIFY(!source.controlsDisabled());
    QCOMPARE(controls.count(), 1);
    QCOMPARE(shownAtEnd.last(), QStringLiteral("Lijek 50"));

    // An unmatched enable does not unbalance later brackets.
    source.enableControls();
    source.disableControls();
    ds->first();
    QCOMPARE(controls.count(), 1);
    source.enableControls();
    QCOMPARE(controls.count(), 2);
}

QTEST_GUILESS_MAIN(TestDataSource)
#include "tst_datasource.moc"

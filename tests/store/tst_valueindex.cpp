#include "store/clientdataset.h"
#include "store/search.h"
#include "store/valueindex.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <set>

using namespace Qt::StringLiterals;
using store::ClientDataSet;
using store::Record;
using store::ValueIndex;

namespace {

const int Naziv = store::fieldIndex(u"Naziv");
const int Mjesto = store::fieldIndex(u"Mjesto");
const int Kolicina = store::fieldIndex(u"Kolicina");

Record place(const QString &mjesto, const QString &naziv = QString())
{
    Record r;
    r.setText(Mjesto, mjesto);
    r.setText(Naziv, naziv);
    return r;
}

void post(ClientDataSet &table, const QString &mjesto, const QString &naziv = QString())
{
    table.insert();
    table.fields(Mjesto)->setAsString(mjesto);
    table.fields(Naziv)->setAsString(naziv);
    table.post();
}

// What the table holds in `field` that begins with `typed` as the find
// compares, each value once, in no particular order.
QStringList heldStartingWith(const ClientDataSet &table, int field, const QString &typed)
{
    std::string prefix;
    store::appendFolded(typed, prefix);
    std::set<QString> held;
    for (const Record &r : table.records()) {
        std::string folded;
        store::appendFolded(r.text(field), folded);
        if (!r.text(field).isEmpty() && folded.compare(0, prefix.size(), prefix) == 0)
            held.insert(r.text(field));
    }
    return QStringList(held.begin(), held.end());
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

} // namespace

class TestValueIndex : public QObject
{
    Q_OBJECT

private slots:
    void offersWhatBeginsWithTheTypedText_data();
    void offersWhatBeginsWithTheTypedText();
    void mostRecentlyEnteredFirst();
    void followsEveryChangeOfTheTable();
    void randomChangesAgreeWithTheTable();
};

void TestValueIndex::offersWhatBeginsWithTheTypedText_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("limit");
    QTest::addColumn<QStringList>("offered");
    // The register below, most recent last.
    QTest::newRow("diacritics aside") << u"sib"_s << 8 << QStringList { u"Šibenik"_s };
    QTest::newRow("case aside") << u"ŠIB"_s << 8 << QStringList { u"Šibenik"_s };
    QTest::newRow("dj for đ") << u"dj"_s << 8 << QStringList { u"Đakovo"_s };
    QTest::newRow("đ for dj") << u"Đa"_s << 8 << QStringList { u"Đakovo"_s };
    QTest::newRow("a plain d is not đ") << u"da"_s << 8 << QStringList { u"Daruvar"_s };
    QTest::newRow("begins with, not contains") << u"benik"_s << 8 << QStringList {};
    QTest::newRow("each value once, newest first")
        << u"z"_s << 8 << QStringList { u"Zadar"_s, u"Zagreb"_s, u"ZAGREB"_s };
    QTest::newRow("at most the limit") << u"z"_s << 2 << QStringList { u"Zadar"_s, u"Zagreb"_s };
    QTest::newRow("the whole value") << u"zadar"_s << 8 << QStringList { u"Zadar"_s };
    QTest::newRow("longer than any value") << u"zadarska"_s << 8 << QStringList {};
    QTest::newRow("nothing typed") << QString() << 8 << QStringList {};
    QTest::newRow("only a mark, which does not count") << u"\u0301"_s << 8 << QStringList {};
}

void TestValueIndex::offersWhatBeginsWithTheTypedText()
{
    QFETCH(QString, typed);
    QFETCH(int, limit);
    QFETCH(QStringList, offered);
    ClientDataSet table;
    table.createDataSet();
    table.assignRecords({ place(u"ZAGREB"_s), place(u"Šibenik"_s), place(u"Zagreb"_s),
        place(u"Đakovo"_s), place(u"Daruvar"_s), place(u"Zagreb"_s), place(u"Zadar"_s) });
    const ValueIndex index(&table);
    QCOMPARE(index.startingWith(Mjesto, typed, limit), offered);
}

void TestValueIndex::mostRecentlyEnteredFirst()
{
    ClientDataSet table;
    table.createDataSet();
    table.assignRecords(
        { place(u"Split"_s, u"A"_s), place(u"Sisak"_s, u"B"_s), place(u"Slunj"_s, u"C"_s) });
    ValueIndex index(&table);
    QCOMPARE(index.startingWith(Mjesto, u"s", 8), (QStringList { "Slunj", "Sisak", "Split" }));
    // A new entry enters its values.
    post(table, u"Split"_s);
    QCOMPARE(index.startingWith(Mjesto, u"s", 8), (QStringList { "Split", "Slunj", "Sisak" }));
    // An edit enters what it changed, not what it left as it was.
    table.first();
    table.next(); // Sisak, B
    table.edit();
    table.fields(Naziv)->setAsString(u"B2"_s);
    table.post();
    QCOMPARE(index.startingWith(Mjesto, u"s", 8), (QStringList { "Split", "Slunj", "Sisak" }));
    table.edit();
    table.fields(Mjesto)->setAsString(u"Sinj"_s);
    table.post();
    QCOMPARE(index.startingWith(Mjesto, u"s", 8), (QStringList { "Sinj", "Split", "Slunj" }));
}

void TestValueIndex::followsEveryChangeOfTheTable()
{
    ClientDataSet table;
    table.createDataSet();
    table.assignRecords({ place(u"Osijek"_s, u"Keppra"_s), place(u"Opatija"_s, u"Sabril"_s),
        place(u"Osijek"_s, u"Frisium"_s) });
    ValueIndex index(&table);
    const auto offered = [&] { return index.startingWith(Mjesto, u"o", 8); };
    QCOMPARE(offered(), (QStringList { "Osijek", "Opatija" }));

    // Deleted: a value goes with its last record, not before.
    table.first();
    table.deleteRecord();
    QCOMPARE(offered(), (QStringList { "Osijek", "Opatija" }));
    table.last();
    table.deleteRecord();
    QCOMPARE(offered(), QStringList { "Opatija" });

    // Put back at its place: offered again.
    table.insertRecordAt(1, place(u"Osijek"_s, u"Frisium"_s));
    QCOMPARE(sorted(offered()), (QStringList { "Opatija", "Osijek" }));

    // Edited away.
    table.first();
    table.edit();
    table.fields(Mjesto)->setAsString(u"Pula"_s);
    table.post();
    QCOMPARE(offered(), QStringList { "Osijek" });

    // Purged: the nameless records go, and their values with them.
    post(table, u"Omiš"_s);
    post(table, u"Ogulin"_s, u"Orfadin"_s);
    QCOMPARE(offered(), (QStringList { "Ogulin", "Omiš", "Osijek" }));
    table.deleteWhere([](const Record &r) { return r.isEmpty(Naziv); });
    QCOMPARE(offered(), (QStringList { "Ogulin", "Osijek" }));

    // Emptied and loaded anew.
    table.createDataSet();
    QCOMPARE(offered(), QStringList());
    table.assignRecords({ place(u"Obrovac"_s) });
    QCOMPARE(offered(), QStringList { "Obrovac" });

    // Number fields hold nothing to offer.
    QCOMPARE(index.startingWith(Kolicina, u"1", 8), QStringList());
}

// Many changes of every kind, seeded so a failure repeats: what is offered
// is always exactly what the table holds, whether the field's values were
// gathered before the changes and followed them, or gathered afresh.
void TestValueIndex::randomChangesAgreeWithTheTable()
{
    QRandomGenerator random(24);
    const QStringList places = { u"Zagreb"_s, u"zagreb"_s, u"Zadar"_s, u"Šibenik"_s, u"Sisak"_s,
        u"Split"_s, u"Đakovo"_s, u"Daruvar"_s, u"Dubrovnik"_s, QString() };
    const QStringList typedTexts
        = { u"z"_s, u"za"_s, u"ZAG"_s, u"s"_s, u"si"_s, u"dj"_s, u"d"_s, u"du"_s };
    ClientDataSet table;
    table.createDataSet();
    ValueIndex early(&table);
    early.buildAll();
    std::vector<Record> deleted;
    for (int step = 0; step < 600; ++step) {
        const auto pick = [&] { return places[random.bounded(int(places.size()))]; };
        const int rows = table.recordCount();
        switch (random.bounded(7)) {
        case 0:
        case 1:
            post(table, pick(), random.bounded(3) ? u"x"_s : QString());
            break;
        case 2:
            if (rows > 0) {
                table.moveTo(random.bounded(rows));
                table.edit();
                table.fields(Mjesto)->setAsString(pick());
                table.post();
            }
            break;
        case 3:
            if (rows > 0) {
                table.moveTo(random.bounded(rows));
                deleted.push_back(table.records()[size_t(table.currentRow())]);
                table.deleteRecord();
            }
            break;
        case 4:
            if (!deleted.empty()) {
                table.insertRecordAt(random.bounded(rows + 1), deleted.back());
                deleted.pop_back();
            }
            break;
        case 5:
            if (random.bounded(10) == 0)
                table.deleteWhere([](const Record &r) { return r.isEmpty(Naziv); });
            break;
        case 6:
            if (random.bounded(40) == 0) {
                std::vector<Record> kept(table.records());
                table.assignRecords(kept);
            }
            break;
        }
        const ValueIndex late(&table);
        for (const QString &typed : typedTexts) {
            const QStringList held = heldStartingWith(table, Mjesto, typed);
            const QStringList followed = early.startingWith(Mjesto, typed, 100);
            QCOMPARE(sorted(followed), held);
            QCOMPARE(sorted(late.startingWith(Mjesto, typed, 100)), held);
            // The limit takes the first ones of the same order.
            QCOMPARE(early.startingWith(Mjesto, typed, 2), followed.mid(0, 2));
        }
    }
}

QTEST_GUILESS_MAIN(TestValueIndex)
#include "tst_valueindex.moc"

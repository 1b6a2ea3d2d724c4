#include "store/clientdataset.h"
#include "store/datapacket.h"
#include "store/exception.h"

#include <QLocale>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using store::ClientDataSet;

namespace {

// Records what a form would see of the table's events, in order.
struct EventLog
{
    explicit EventLog(ClientDataSet &table)
        : ds(table)
    {
        ds.afterInsert = [this] { events << QStringLiteral("afterInsert"); };
        ds.beforePost = [this] {
            events << QStringLiteral("beforePost:%1")
                          .arg(this->ds.fieldByName(QStringLiteral("Naziv"))->asString());
        };
        ds.afterPost
            = [this] { events << QStringLiteral("afterPost:%1").arg(this->ds.recordCount()); };
    }
    ClientDataSet &ds;
    QStringList events;
};

void addRecord(ClientDataSet &ds, const QString &naziv)
{
    ds.insert();
    ds.fieldByName(QStringLiteral("Naziv"))->setAsString(naziv);
    ds.post();
}

QString naziv(const ClientDataSet &ds)
{
    return ds.fieldByName(QStringLiteral("Naziv"))->asString();
}

} // namespace

class TestClientDataSet : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void fieldsFollowTheSchemaOrder()
    {
        ClientDataSet ds;
        const QStringList expected { "Tar_br", "Ljekarna", "Naziv", "Gen_ime", "ATK", "Proizvodjac",
            "Kolicina", "Pacijent", "Jed_mjere", "Valuta", "Cijena", "Protokol", "Propisivac",
            "Ustanova", "Hpbroj", "Mjesto", "Adresa" };
        QCOMPARE(ds.getFieldCount(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            QCOMPARE(ds.fields(i)->fieldName(), expected[i]);
            QCOMPARE(ds.fieldByName(expected[i]), ds.fields(i));
        }
        QCOMPARE(ds.fieldByName("Valuta")->size(), 3);
        QCOMPARE(ds.fieldByName("Hpbroj")->size(), 6);
        QCOMPARE(ds.fieldByName("Ljekarna")->objectName(), QStringLiteral("StringField1"));
        QVERIFY_THROWS_EXCEPTION(store::Exception, ds.fieldByName("naziv"));
    }

    void events_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("count");

        QTest::newRow("insert, write, post")
            << "insert;write:A;post" << QStringList { "afterInsert", "beforePost:A", "afterPost:1" }
            << 1;
        QTest::newRow("a written pending record is posted by a move")
            << "insert;write:A;first"
            << QStringList { "afterInsert", "beforePost:A", "afterPost:1" } << 1;
        QTest::newRow("an unwritten pending record is dropped by a move")
            << "insert;first" << QStringList { "afterInsert" } << 0;
        QTest::newRow("writing empty text counts as a change")
            << "insert;write:;last" << QStringList { "afterInsert", "beforePost:", "afterPost:1" }
            << 1;
        QTest::newRow("a second insert posts the first")
            << "insert;write:A;insert;write:B;post"
            << QStringList { "afterInsert", "beforePost:A", "afterPost:1", "afterInsert",
                   "beforePost:B", "afterPost:2" }
            << 2;
        QTest::newRow("delete in insert state drops the new record")
            << "insert;write:A;post;insert;write:B;delete"
            << QStringList { "afterInsert", "beforePost:A", "afterPost:1", "afterInsert" } << 1;
        QTest::newRow("edit then move posts the edit")
            << "insert;write:A;post;edit;write:B;next"
            << QStringList { "afterInsert", "beforePost:A", "afterPost:1", "beforePost:B",
                   "afterPost:1" }
            << 1;
        QTest::newRow("an edit without changes is not posted")
            << "insert;write:A;post;edit;prior"
            << QStringList { "afterInsert", "beforePost:A", "afterPost:1" } << 1;
        QTest::newRow("post in browse state does nothing") << "post" << QStringList {} << 0;
    }

    void events()
    {
        QFETCH(QString, script);
        QFETCH(QStringList, expected);
        QFETCH(int, count);
        ClientDataSet ds;
        ds.createDataSet();
        EventLog log(ds);
        for (const QString &step : script.split(';')) {
            if (step == "insert")
                ds.insert();
            else if (step == "post")
                ds.post();
            else if (step == "first")
                ds.first();
            else if (step == "last")
                ds.last();
            else if (step == "next")
                ds.next();
            else if (step == "prior")
                ds.prior();
            else if (step == "edit")
                ds.edit();
            else if (step == "delete")
                ds.deleteRecord();
            else if (step.startsWith("write:"))
                ds.fieldByName("Naziv")->setAsString(step.mid(6));
            else
                QFAIL(qPrintable(step));
        }
        QCOMPARE(log.events, expected);
        QCOMPARE(ds.recordCount(), count);
        QCOMPARE(ds.state(), ClientDataSet::Browse);
    }

    void recordCountExcludesThePendingRecord()
    {
        ClientDataSet ds;
        ds.createDataSet();
        addRecord(ds, "A");
        ds.insert();
        QCOMPARE(ds.state(), ClientDataSet::Insert);
        QCOMPARE(ds.recordCount(), 1);
        QCOMPARE(ds.rowCount(), 2);
        ds.fieldByName("Naziv")->setAsString("B");
        QCOMPARE(ds.recordCount(), 1);
        ds.post();
        QCOMPARE(ds.recordCount(), 2);
        QCOMPARE(ds.rowCount(), 2);
    }

    void newRecordsGoAtTheEndAndADroppedOneRestoresTheCursor()
    {
        ClientDataSet ds;
        ds.createDataSet();
        for (const char *n : { "A", "B", "C" })
            addRecord(ds, n);
        ds.first();
        ds.next(); // on B
        ds.insert();
        QCOMPARE(ds.currentRow(), 3);
        ds.fieldByName("Naziv")->setAsString("D");
        ds.post();
        QStringList order;
        ds.first();
        while (!ds.eof()) {
            order << naziv(ds);
            ds.next();
        }
        QCOMPARE(order, (QStringList { "A", "B", "C", "D" }));

        ds.first();
        ds.next();
        ds.insert();
        ds.deleteRecord();
        QCOMPARE(ds.currentRow(), 1);
        QCOMPARE(naziv(ds), QStringLiteral("B"));
        ds.insert();
        ds.prior(); // unmodified: dropped, then the move happens from B
        QCOMPARE(naziv(ds), QStringLiteral("A"));
        QCOMPARE(ds.recordCount(), 4);
    }

    void endOfTableFlags()
    {
        ClientDataSet ds;
        ds.createDataSet();
        QVERIFY(ds.eof());
        ds.first();
        QVERIFY(ds.eof());
        QCOMPARE(naziv(ds), QString());

        addRecord(ds, "A");
        addRecord(ds, "B");
        ds.first();
        QVERIFY(!ds.eof());
        QVERIFY(ds.bof());
        ds.next();
        QVERIFY(!ds.eof());
        QCOMPARE(naziv(ds), QStringLiteral("B"));
        ds.next(); // runs past the last record: stays on it, flag set
        QVERIFY(ds.eof());
        QCOMPARE(naziv(ds), QStringLiteral("B"));
        ds.prior();
        QVERIFY(!ds.eof());
        QCOMPARE(naziv(ds), QStringLiteral("A"));
    }

    void deleteKeepsTheCursorOnTheFollowingRecord()
    {
        ClientDataSet ds;
        ds.createDataSet();
        for (const char *n : { "A", "B", "C" })
            addRecord(ds, n);
        ds.first();
        ds.next();
        ds.deleteRecord();
        QCOMPARE(naziv(ds), QStringLiteral("C"));
        ds.deleteRecord(); // the last: the cursor goes to the new last
        QCOMPARE(naziv(ds), QStringLiteral("A"));
        ds.deleteRecord();
        QCOMPARE(ds.recordCount(), 0);
        QVERIFY(ds.eof());
        QVERIFY_THROWS_EXCEPTION(store::Exception, ds.deleteRecord());
    }

    // A deleted record goes back where it stood, as the current record,
    // reported as put in at that row (not appended), with no insert or post
    // event; a record being typed is completed first.
    void insertRecordAtPutsARecordBackAtItsPlace()
    {
        ClientDataSet ds;
        ds.createDataSet();
        for (const char *n : { "A", "B", "C" })
            addRecord(ds, n);
        std::vector<std::pair<int, store::Record>> reported;
        std::vector<int> kinds;
        ds.afterChange = [&](const store::TableChange &c) {
            kinds.push_back(c.kind);
            reported.emplace_back(c.row, c.record ? *c.record : store::Record());
        };
        QSignalSpy inserted(&ds, &ClientDataSet::rowInserted);
        ds.first();
        ds.next();
        ds.deleteRecord();
        QCOMPARE(kinds, std::vector<int> { store::TableChange::Deleted });
        // The change names what the record held.
        const store::Record deleted = reported.back().second;
        QCOMPARE(deleted.text(store::fieldIndex(u"Naziv")), QStringLiteral("B"));

        EventLog log(ds);
        ds.last();
        ds.insertRecordAt(1, deleted);
        QCOMPARE(log.events, QStringList());
        QCOMPARE(kinds.back(), int(store::TableChange::Inserted));
        QCOMPARE(reported.back().first, 1);
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(inserted.first().first().toInt(), 1);
        QCOMPARE(ds.recordCount(), 3);
        QCOMPARE(ds.currentRow(), 1);
        QCOMPARE(ds.state(), ClientDataSet::Browse);
        QCOMPARE(naziv(ds), QStringLiteral("B"));
        QStringList order;
        for (const store::Record &r : ds.records())
            order << r.text(store::fieldIndex(u"Naziv"));
        QCOMPARE(order, (QStringList { "A", "B", "C" }));

        // A typed new record is posted first; a row past the end is the end.
        ds.insert();
        ds.fieldByName(QStringLiteral("Naziv"))->setAsString(QStringLiteral("D"));
        ds.insertRecordAt(99, deleted);
        QCOMPARE(log.events, (QStringList { "afterInsert", "beforePost:D", "afterPost:4" }));
        QCOMPARE(ds.recordCount(), 5);
        QCOMPARE(ds.currentRow(), 4);
        // An untouched new record is dropped.
        ds.insert();
        ds.insertRecordAt(0, deleted);
        QCOMPARE(ds.recordCount(), 6);
        QCOMPARE(ds.currentRow(), 0);
        QCOMPARE(naziv(ds), QStringLiteral("B"));
    }

    void inactiveTableRefusesOperations_data()
    {
        QTest::addColumn<int>("operation");
        const char *names[]
            = { "first", "prior", "next", "last", "insert", "delete", "post", "edit", "write" };
        for (int i = 0; i < 9; ++i)
            QTest::newRow(names[i]) << i;
    }

    void inactiveTableRefusesOperations()
    {
        QFETCH(int, operation);
        ClientDataSet ds;
        QCOMPARE(ds.state(), ClientDataSet::Inactive);
        const std::function<void()> ops[] = {
            [&] { ds.first(); },
            [&] { ds.prior(); },
            [&] { ds.next(); },
            [&] { ds.last(); },
            [&] { ds.insert(); },
            [&] { ds.deleteRecord(); },
            [&] { ds.post(); },
            [&] { ds.edit(); },
            [&] { ds.fieldByName("Naziv")->setAsString("x"); },
        };
        try {
            ops[operation]();
            QFAIL("no exception");
        } catch (const store::Exception &e) {
            QVERIFY2(
                e.message().contains(QStringLiteral("nije otvorena")), qPrintable(e.message()));
        }
        QCOMPARE(ds.state(), ClientDataSet::Inactive);
    }

    void floatText_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("display");
        QTest::newRow("C 2.5") << "C" << 2.5 << "2.5"
                               << "2.5";
        QTest::newRow("hr 2.5") << "hr_HR" << 2.5 << "2,5"
                                << "2,5";
        QTest::newRow("hr no grouping") << "hr_HR" << 1234567.25 << "1234567,25"
                                        << "1234567,25";
        QTest::newRow("C fifteen digits") << "C" << 0.1 + 0.2 << "0.3"
                                          << "0.3";
        QTest::newRow("C ten digits shown") << "C" << 123456.7891234 << "123456.7891234"
                                            << "123456.7891";
        QTest::newRow("hr negative: ASCII minus") << "hr_HR" << -0.5 << "-0,5"
                                                  << "-0,5";
        QTest::newRow("hr exponent") << "hr_HR" << -1.5e-20 << "-1,5E-20"
                                     << "-1,5E-20";
        QTest::newRow("C integer") << "C" << 40.0 << "40"
                                   << "40";
    }

    void floatText()
    {
        QFETCH(QString, locale);
        QFETCH(double, value);
        QFETCH(QString, text);
        QFETCH(QString, display);
        QLocale::setDefault(QLocale(locale));
        ClientDataSet ds;
        ds.createDataSet();
        ds.insert();
        auto *kolicina = ds.fieldByName("Kolicina");
        auto *cijena = ds.fieldByName("Cijena");
        kolicina->setAsFloat(value);
        QCOMPARE(kolicina->asString(), text);
        QCOMPARE(kolicina->displayText(), display);
        QCOMPARE(cijena->asString(), QString()); // never filled: empty, not "0"
        QVERIFY(cijena->isNull());
        cijena->setAsString(text); // reads back what it shows
        QCOMPARE(*cijena->asFloat(), value);
    }

    // The one rule for numbers people type, under a decimal comma and a
    // decimal point: a point typed out of habit is a decimal point, unless
    // the text also reads as thousands grouped by points; that is refused
    // with both readings, never taken as either.
    void typedNumberText_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value"); // NaN: refused
        QTest::addColumn<QString>("refusal"); // for Kolicina; empty when taken

        const double refused = qQNaN();
        const auto ambiguous = [](const char *text, const char *grouped, const char *decimal,
                                   const char *typedDecimal) {
            return QStringLiteral("Količina \"%1\": za %2 upišite %2, a za %3 upišite %4.")
                .arg(QString::fromUtf8(text), QString::fromUtf8(grouped),
                    QString::fromUtf8(decimal), QString::fromUtf8(typedDecimal));
        };
        // Ambiguous under a decimal comma.
        QTest::newRow("hr 1.000") << "hr_HR"
                                  << "1.000" << refused << ambiguous("1.000", "1000", "1", "1,000");
        QTest::newRow("hr 12.500")
            << "hr_HR"
            << "12.500" << refused << ambiguous("12.500", "12500", "12,5", "12,500");
        QTest::newRow("hr 999.999")
            << "hr_HR"
            << "999.999" << refused << ambiguous("999.999", "999999", "999,999", "999,999");
        QTest::newRow("hr -1.000")
            << "hr_HR"
            << "-1.000" << refused << ambiguous("-1.000", "-1000", "-1", "-1,000");
        QTest::newRow("hr +2.000")
            << "hr_HR"
            << "+2.000" << refused << ambiguous("+2.000", "2000", "2", "+2,000");
        QTest::newRow("hr 1.000 between spaces")
            << "hr_HR"
            << " 1.000 " << refused << ambiguous("1.000", "1000", "1", "1,000");
        QTest::newRow("hr 1.000.000")
            << "hr_HR"
            << "1.000.000" << refused
            << QStringLiteral("Količina \"1.000.000\": brojevi se upisuju bez točaka između "
                              "tisuća; za 1000000 upišite 1000000.");
        // A point that can only be a decimal point.
        QTest::newRow("hr 1.5") << "hr_HR"
                                << "1.5" << 1.5 << QString();
        QTest::newRow("hr 12.40") << "hr_HR"
                                  << "12.40" << 12.4 << QString();
        QTest::newRow("hr 0.125") << "hr_HR"
                                  << "0.125" << 0.125 << QString();
        QTest::newRow("hr 1.2345") << "hr_HR"
                                   << "1.2345" << 1.2345 << QString();
        QTest::newRow("hr .5") << "hr_HR"
                               << ".5" << 0.5 << QString();
        QTest::newRow("hr 1000.5") << "hr_HR"
                                   << "1000.5" << 1000.5 << QString();
        QTest::newRow("hr 01.000") << "hr_HR"
                                   << "01.000" << 1.0 << QString();
        QTest::newRow("hr 1.5e3") << "hr_HR"
                                  << "1.5e3" << 1500.0 << QString();
        QTest::newRow("hr 1,000") << "hr_HR"
                                  << "1,000" << 1.0 << QString();
        QTest::newRow("hr 1000") << "hr_HR"
                                 << "1000" << 1000.0 << QString();
        QTest::newRow("hr 1.234,50")
            << "hr_HR"
            << "1.234,50" << refused
            << QStringLiteral("Neispravan broj u polju \"Količina\": \"1.234,50\".");
        // Under a decimal point nothing is ambiguous: the point is one.
        QTest::newRow("C 1.000") << "C"
                                 << "1.000" << 1.0 << QString();
        QTest::newRow("C 12.500") << "C"
                                  << "12.500" << 12.5 << QString();
        QTest::newRow("C 1.000.000")
            << "C"
            << "1.000.000" << refused
            << QStringLiteral("Neispravan broj u polju \"Količina\": \"1.000.000\".");
        QTest::newRow("C 1,000") << "C"
                                 << "1,000" << refused
                                 << QStringLiteral(
                                        "Neispravan broj u polju \"Količina\": \"1,000\".");
    }

    void typedNumberText()
    {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QFETCH(double, value);
        QFETCH(QString, refusal);
        QLocale::setDefault(QLocale(locale));
        const std::optional<double> read = store::textToFloat(text);
        ClientDataSet ds;
        ds.createDataSet();
        ds.insert();
        store::Field *kolicina = ds.fieldByName("Kolicina");
        kolicina->setAsFloat(7);
        if (qIsNaN(value)) {
            QVERIFY(!read);
            try {
                kolicina->setAsString(text);
                QFAIL("accepted");
            } catch (const store::Exception &e) {
                QCOMPARE(e.message(), refusal);
            }
            QCOMPARE(kolicina->asFloat(), 7.0);
            return;
        }
        QVERIFY(read);
        QCOMPARE(*read, value);
        kolicina->setAsString(text);
        QCOMPARE(kolicina->asFloat(), value);
    }

    void badNumberTextIsRefused_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("letters") << "abc";
        QTest::newRow("range") << "1-2";
        QTest::newRow("bare exponent") << "e";
        QTest::newRow("two points under hr") << "2.5.1";
        QTest::newRow("infinity") << "1e999";
    }

    void badNumberTextIsRefused()
    {
        QFETCH(QString, text);
        QLocale::setDefault(QLocale("hr_HR"));
        ClientDataSet ds;
        ds.createDataSet();
        ds.insert();
        ds.fieldByName("Kolicina")->setAsString("3");
        try {
            ds.fieldByName("Kolicina")->setAsString(text);
            QFAIL("accepted");
        } catch (const store::Exception &e) {
            QVERIFY(e.message().contains(QStringLiteral("Količina")));
            QVERIFY(e.message().contains(text));
        }
        QCOMPARE(ds.fieldByName("Kolicina")->asString(), QStringLiteral("3"));
        ds.fieldByName("Kolicina")->setAsString("");
        QVERIFY(ds.fieldByName("Kolicina")->isNull());
    }

    // A grouping character dropped by the parser would make a plainly
    // wrong number of "1.234" under hr_HR's decimal comma or of "1,5" under
    // a decimal point; every grouped text is refused instead.
    void groupedNumberTextIsRefused_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::newRow("hr point grouping") << "hr_HR"
                                           << "1.234";
        QTest::newRow("hr grouped decimal") << "hr_HR"
                                            << "1.234,50";
        QTest::newRow("hr two groups") << "hr_HR"
                                       << "1.234.567";
        QTest::newRow("hr space") << "hr_HR"
                                  << "1 234";
        QTest::newRow("hr no-break space") << "hr_HR"
                                           << "1\u00a0234";
        QTest::newRow("C comma grouping") << "C"
                                          << "1,234";
        QTest::newRow("C decimal comma") << "C"
                                         << "1,5";
        QTest::newRow("C grouped decimal") << "C"
                                           << "1,234.50";
        QTest::newRow("en_US comma grouping") << "en_US"
                                              << "1,234";
        QTest::newRow("fr narrow no-break space") << "fr_FR"
                                                  << "1\u202f234";
        QTest::newRow("fr no-break space") << "fr_FR"
                                           << "1\u00a0234";
        QTest::newRow("de_CH apostrophe") << "de_CH"
                                          << "1\u2019234";
    }

    void groupedNumberTextIsRefused()
    {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QLocale::setDefault(QLocale(locale));
        QVERIFY(!store::textToFloat(text));
        ClientDataSet ds;
        ds.createDataSet();
        ds.insert();
        ds.fieldByName("Cijena")->setAsFloat(7);
        QVERIFY_THROWS_EXCEPTION(store::Exception, ds.fieldByName("Cijena")->setAsString(text));
        QCOMPARE(ds.fieldByName("Cijena")->asFloat(), 7.0);
    }

    void longTextIsKept()
    {
        // Sizes limit typing in the boxes; the table never cuts stored data.
        ClientDataSet ds;
        ds.createDataSet();
        ds.insert();
        ds.fieldByName("Valuta")->setAsString("EURO");
        ds.post();
        QCOMPARE(ds.fieldByName("Valuta")->asString(), QStringLiteral("EURO"));
    }

    void deleteWhereRemovesEveryMatchWherever()
    {
        ClientDataSet ds;
        ds.createDataSet();
        for (const char *n : { "", "A", "", "", "B", "" })
            addRecord(ds, n);
        ds.insert(); // pending and written: posted first, then purged
        ds.fieldByName("Tar_br")->setAsString("1");
        const int removed = ds.deleteWhere(
            [](const store::Record &r) { return r.isEmpty(store::fieldIndex(u"Naziv")); });
        QCOMPARE(removed, 5);
        QCOMPARE(ds.recordCount(), 2);
        QVERIFY(ds.eof());
        QCOMPARE(naziv(ds), QStringLiteral("B"));
        ds.first();
        QCOMPARE(naziv(ds), QStringLiteral("A"));
    }

    void saveThenLoadGivesTheRowsShown()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Baza.xml");
        ClientDataSet ds;
        ds.createDataSet();
        ds.insert();
        ds.fieldByName("Naziv")->setAsString(QStringLiteral("Čćžšđ ČĆŽŠĐ & <\"'>"));
        ds.fieldByName("Kolicina")->setAsFloat(2.5);
        ds.post();
        addRecord(ds, "B");
        ds.insert(); // pending: not saved
        ds.fieldByName("Naziv")->setAsString("pending");
        store::saveDataPacketFile(path, ds.records());

        ClientDataSet loaded;
        loaded.assignRecords(store::loadDataPacketFile(path));
        QCOMPARE(loaded.recordCount(), 2);
        QCOMPARE(loaded.state(), ClientDataSet::Browse);
        QCOMPARE(loaded.currentRow(), 0);
        QVERIFY(loaded.records() == ds.records());
    }

    void failedLoadLeavesTheTableAsItWas()
    {
        QTemporaryDir dir;
        ClientDataSet ds;
        ds.createDataSet();
        addRecord(ds, "A");
        QVERIFY_THROWS_EXCEPTION(store::Exception,
            ds.assignRecords(store::loadDataPacketFile(dir.filePath("missing.xml"))));
        QCOMPARE(ds.recordCount(), 1);
        QCOMPARE(ds.state(), ClientDataSet::Browse);
    }

    // What a model over the table hears, in order, for each operation: the
    // rows that came and went, the row that was written, one dataChanged
    // per operation and the state changes.
    void signalsForModels()
    {
        ClientDataSet ds;
        ds.createDataSet();
        QStringList heard;
        const auto note = [&](const char *what, int row = -1) {
            heard << (row < 0 ? QString::fromLatin1(what)
                              : QStringLiteral("%1 %2").arg(what).arg(row));
        };
        connect(&ds, &ClientDataSet::rowAboutToBeInserted, this,
            [&](int r) { note("aboutToInsert", r); });
        connect(&ds, &ClientDataSet::rowInserted, this, [&](int r) { note("inserted", r); });
        connect(&ds, &ClientDataSet::rowAboutToBeRemoved, this,
            [&](int r) { note("aboutToRemove", r); });
        connect(&ds, &ClientDataSet::rowRemoved, this, [&](int r) { note("removed", r); });
        connect(&ds, &ClientDataSet::rowChanged, this, [&](int r) { note("changed", r); });
        connect(&ds, &ClientDataSet::dataChanged, this, [&] { note("data"); });
        connect(&ds, &ClientDataSet::stateChanged, this,
            [&](ClientDataSet::State st) { note("state", int(st)); });
        const auto after = [&](const std::function<void()> &operation) {
            heard.clear();
            operation();
            return heard;
        };

        QCOMPARE(after([&] { ds.insert(); }),
            (QStringList { "aboutToInsert 0", "inserted 0", "state 3", "data" }));
        // Unmodified, the new record is dropped, then the cursor moves: one
        // change each.
        QCOMPARE(after([&] { ds.first(); }),
            (QStringList { "aboutToRemove 0", "removed 0", "state 1", "data", "data" }));
        addRecord(ds, "A");
        addRecord(ds, "B");
        QCOMPARE(after([&] { ds.first(); }), QStringList { "data" });
        QCOMPARE(after([&] { ds.edit(); }), (QStringList { "state 2", "data" }));
        // The row shows what is being typed into it.
        QCOMPARE(after([&] { ds.fieldByName("Naziv")->setAsString("A2"); }),
            (QStringList { "changed 0", "data" }));
        QCOMPARE(after([&] { ds.post(); }), (QStringList { "state 1", "changed 0", "data" }));
        QCOMPARE(after([&] { ds.deleteRecord(); }),
            (QStringList { "aboutToRemove 0", "removed 0", "data" }));
        QCOMPARE(ds.recordCount(), 1);
    }
};

QTEST_GUILESS_MAIN(TestClientDataSet)
#include "tst_clientdataset.moc"

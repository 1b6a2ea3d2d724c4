#include "export/textexport.h"
#include "store/clientdataset.h"
#include "store/exception.h"
#include "tests/support/files.h"
#include "tests/support/systemfiles.h"

#include <QFile>
#include <QLocale>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using store::ClientDataSet;

namespace {

using Values = QList<QPair<QString, QString>>;

void addRecord(ClientDataSet &ds, const Values &values)
{
    ds.insert();
    for (const auto &[name, text] : values)
        ds.fieldByName(name)->setAsString(text);
    ds.post();
}

} // namespace

class TestTextExport : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void fileBytes_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QList<Values>>("records");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("empty register: zero bytes") << "C" << QList<Values> {} << QByteArray();

        QTest::newRow("only the name: 50 characters plus the name")
            << "C" << QList<Values> { { { "Naziv", "Aspirin" } } }
            << QByteArray("\"\";\"\";\"Aspirin\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";"
                          "\"\";\"\";\"\";\"\"\r\n");

        QTest::newRow("field order, Windows-1250, decimal comma, empty float")
            << "hr_HR"
            << QList<Values> { { { "Tar_br", "3004" }, { "Ljekarna", "Ljekarna Šalata" },
                   { "Naziv", "Kardiozid" }, { "Gen_ime", "čćžšđ ČĆŽŠĐ" }, { "ATK", "C01AA05" },
                   { "Proizvodjac", "Ágens" }, { "Kolicina", "2,5" }, { "Pacijent", "Ivo Ivić" },
                   { "Jed_mjere", "kom" }, { "Valuta", "EUR" }, { "Protokol", "P-12" },
                   { "Propisivac", "dr. Đurđa" }, { "Ustanova", "KB" }, { "Hpbroj", "10000" },
                   { "Mjesto", "Zagreb" }, { "Adresa", "Ilica 1" } } }
            << QByteArray(
                   "\"3004\";\"Ljekarna \x8a"
                   "alata\";\"Kardiozid\";\"\xe8\xe6\x9e\x9a\xf0 \xc8\xc6\x8e\x8a\xd0\";"
                   "\"C01AA05\";\"\xc1gens\";\"2,5\";\"Ivo Ivi\xe6\";\"kom\";\"EUR\";\"\";\"P-12\";"
                   "\"dr. \xd0ur\xf0"
                   "a\";\"KB\";\"10000\";\"Zagreb\";\"Ilica 1\"\r\n");

        QTest::newRow("quote and semicolon written unchanged")
            << "C" << QList<Values> { { { "Naziv", "A \"B\"; C" }, { "Cijena", "12.75" } } }
            << QByteArray("\"\";\"\";\"A \"B\"; "
                          "C\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"12.75\";\"\";\"\";\"\";\"\";"
                          "\"\";\"\"\r\n");

        QTest::newRow("records in table order, CR LF after the last")
            << "C" << QList<Values> { { { "Naziv", "A" } }, { { "Naziv", "B" } } }
            << QByteArray("\"\";\"\";\"A\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";"
                          "\"\";\"\";\"\"\r\n"
                          "\"\";\"\";\"B\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";"
                          "\"\";\"\";\"\"\r\n");

        QTest::newRow("a character Windows-1250 lacks becomes ?")
            << "C" << QList<Values> { { { "Naziv", QStringLiteral("日€\U0001F600") } } }
            << QByteArray("\"\";\"\";\"?\x80?\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";"
                          "\"\";\"\";\"\";\"\"\r\n");
    }

    void fileBytes()
    {
        QFETCH(QString, locale);
        QFETCH(QList<Values>, records);
        QFETCH(QByteArray, expected);
        QLocale::setDefault(QLocale(locale));
        ClientDataSet ds;
        ds.createDataSet();
        for (const Values &r : records)
            addRecord(ds, r);

        QTemporaryDir dir;
        const QString path = dir.filePath("lijekovi.txt");
        textexport::saveLines(path, textexport::buildLines(ds));
        QCOMPARE(testsupport::readFile(path), expected);
    }

    // Run by CTest under LANG=C and again under LANG=hr_HR.UTF-8: numbers
    // follow the user's regional settings, not a locale the program picks.
    void numbersFollowTheUsersLocale()
    {
        const QString lang = qEnvironmentVariable("LC_ALL", qEnvironmentVariable("LANG"));
        QByteArray numbers;
        if (lang.startsWith(QStringLiteral("hr_HR")))
            numbers = "\"2,5\";\"\";\"\";\"\";\"-1234567,125\"";
        else if (lang.isEmpty() || lang == u"C" || lang == u"POSIX"
            || lang.startsWith(QStringLiteral("C.")))
            numbers = "\"2.5\";\"\";\"\";\"\";\"-1234567.125\"";
        else
            QSKIP("expected bytes are known for LANG=C and LANG=hr_HR.UTF-8 only");
        QLocale::setDefault(QLocale::system());
        ClientDataSet ds;
        ds.createDataSet();
        ds.insert();
        ds.fieldByName("Kolicina")->setAsFloat(2.5);
        ds.fieldByName("Cijena")->setAsFloat(-1234567.125);
        ds.post();
        const QByteArray expected
            = "\"\";\"\";\"\";\"\";\"\";\"\";" + numbers + ";\"\";\"\";\"\";\"\";\"\";\"\"\r\n";
        QCOMPARE(textexport::encodeLines(textexport::buildLines(ds)), expected);
    }

    void walkLeavesTheCursorOnTheLastRecord()
    {
        ClientDataSet ds;
        ds.createDataSet();
        for (const char *n : { "A", "B", "C" })
            addRecord(ds, { { "Naziv", n } });
        ds.first();
        QSignalSpy moves(&ds, &ClientDataSet::dataChanged);
        const QStringList lines = textexport::buildLines(ds);
        QCOMPARE(lines.size(), 3);
        QVERIFY(ds.eof());
        QCOMPARE(ds.fieldByName("Naziv")->asString(), QStringLiteral("C"));
        // one notification for First and one per move to a following record
        QCOMPARE(moves.count(), 3);

        ClientDataSet empty;
        empty.createDataSet();
        QVERIFY(textexport::buildLines(empty).isEmpty());
        QCOMPARE(empty.currentRow(), -1);
    }

    void existingFileIsReplacedWhole()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("old.txt");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(10000, 'x'));
        }
        QVERIFY(testsupport::setFileMode(path, 0644));
        textexport::saveLines(path, { QStringLiteral("\"a\"") });
        QCOMPARE(testsupport::readFile(path), QByteArray("\"a\"\r\n"));
        // A new file is the owner's only; a replaced one keeps its permissions.
        const QString fresh = dir.filePath("new.txt");
        textexport::saveLines(fresh, {});
        QCOMPARE(testsupport::fileMode(fresh), 0600u);
#ifdef Q_OS_UNIX
        QCOMPARE(testsupport::fileMode(path), 0644u);
#else
        // On Windows one that let other accounts in gets what the folder
        // passes on to every file made there: its own access list is not
        // copied.
        if (testsupport::runsUnderWine())
            QSKIP("Wine passes no folder's rights on to a file (SetNamedSecurityInfoW) and "
                  "shows a file without an access list of its own by its Unix mode");
        QFile made(dir.filePath("made.txt"));
        QVERIFY(made.open(QIODevice::WriteOnly));
        made.close();
        QCOMPARE(testsupport::fileMode(path), testsupport::fileMode(made.fileName()));
#endif
    }

    void unwritableTargetThrowsWithTheReason()
    {
        QTemporaryDir dir;
        // A folder cannot be replaced by a file, even by root.
        const QString path = dir.filePath("taken");
        QVERIFY(QDir(dir.path()).mkdir("taken"));
        QFile marker(dir.filePath("taken/keep"));
        QVERIFY(marker.open(QIODevice::WriteOnly));
        marker.write("keep");
        marker.close();
        try {
            textexport::saveLines(path, { QStringLiteral("\"a\"") });
            QFAIL("no exception");
        } catch (const store::Exception &e) {
            QVERIFY2(e.message().contains(QDir::toNativeSeparators(path)), qPrintable(e.message()));
        }
        QCOMPARE(testsupport::readFile(dir.filePath("taken/keep")), QByteArray("keep"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {});
    }
};

QTEST_GUILESS_MAIN(TestTextExport)
#include "tst_textexport.moc"

// The names of the register's files, and which names in a folder are the
// register's own: what the export goes by before it writes over a file.
#include "register/registerpaths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestRegisterPaths : public QObject
{
    Q_OBJECT

private slots:
    void namesItSpells()
    {
        QCOMPARE(RegisterPaths::dataFileName(), QStringLiteral("Baza.xml"));
        QCOMPARE(RegisterPaths::lockFileName(), QStringLiteral(".Baza.xml.lock"));
        QCOMPARE(RegisterPaths::recoveryFileName(), QStringLiteral(".Baza.xml.recovery"));

        // Absolute on each system: "/srv" has no drive on Windows.
        const QString folder = QDir::rootPath() + QStringLiteral("srv/ljekarna");
        const RegisterPaths paths(folder);
        QCOMPARE(paths.folder(), folder);
        QCOMPARE(paths.dataFile(), folder + QStringLiteral("/Baza.xml"));
        QCOMPARE(paths.lockFile(), folder + QStringLiteral("/.Baza.xml.lock"));
        QCOMPARE(paths.recoveryFile(), folder + QStringLiteral("/.Baza.xml.recovery"));
    }

    // The journal lies beside the data file as the user's path names it:
    // through a link to the folder, not where the link leads, and made
    // absolute, so that a later change of the current folder cannot move it.
    void journalIsBesideTheDataFileAsNamed()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("stvarna")));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("stvarna")), dir.filePath("veza")));
        const RegisterPaths linked(dir.filePath(QStringLiteral("veza")));
        QCOMPARE(linked.recoveryFile(), dir.filePath(QStringLiteral("veza/.Baza.xml.recovery")));

        const QString oldDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        const RegisterPaths relative(QStringLiteral("stvarna"));
        QCOMPARE(relative.dataFile(), QStringLiteral("stvarna/Baza.xml"));
        const QString journal = relative.recoveryFile();
        QVERIFY(QDir::setCurrent(oldDir));
        QCOMPARE(journal, QDir(dir.path()).absoluteFilePath("stvarna/.Baza.xml.recovery"));
    }

    void whichNamesAreTheRegisters_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("registers");
        QTest::addColumn<bool>("dataFile");

        QTest::newRow("the data file") << "Baza.xml" << true << true;
        QTest::newRow("the data file, another case") << "baza.XML" << true << true;
        QTest::newRow("the lock") << ".Baza.xml.lock" << true << false;
        QTest::newRow("the journal") << ".Baza.xml.recovery" << true << false;
        QTest::newRow("a journal set aside")
            << ".Baza.xml.recovery-20261210-143055" << true << false;
        QTest::newRow("a copy's journal") << ".Baza.xml.recovery.4242-Ab3x9Q" << true << false;
        QTest::newRow("a kept copy") << "Baza.xml.20261210-143055" << true << false;
        QTest::newRow("a kept copy, numbered") << "Baza.xml.20261210-143055-2" << true << false;
        QTest::newRow("a save's temporary file") << ".Baza.xml.lijekovi-Ab3x9Q" << true << false;
        QTest::newRow("a backup by another program") << "Baza.xml.bak" << true << false;
        QTest::newRow("the lock, another case") << ".baza.xml.LOCK" << true << false;
        QTest::newRow("a trailing dot") << "Baza.xml." << true << false;

        QTest::newRow("a trailing space") << "Baza.xml " << false << false;
        QTest::newRow("a leading space") << " Baza.xml" << false << false;
        QTest::newRow("a leading dot only") << ".Baza.xml" << false << false;
        QTest::newRow("a longer extension") << "Baza.xmlx" << false << false;
        QTest::newRow("another register's name") << "Baza2.xml" << false << false;
        QTest::newRow("the name inside another") << "Stara Baza.xml" << false << false;
        QTest::newRow("no dot before the suffix") << "Baza.xml-kopija" << false << false;
        QTest::newRow("two leading dots") << "..Baza.xml.lock" << false << false;
        QTest::newRow("the export") << "lijekovi.txt" << false << false;
        QTest::newRow("empty") << "" << false << false;
        // A name is asked about without its folder: a path is no name.
        QTest::newRow("in a subfolder") << "stara/Baza.xml" << false << false;
        QTest::newRow("a kept copy in a subfolder") << "stara/Baza.xml.bak" << false << false;
    }

    void whichNamesAreTheRegisters()
    {
        QFETCH(QString, name);
        QFETCH(bool, registers);
        QFETCH(bool, dataFile);
        QCOMPARE(RegisterPaths::isRegisterFileName(name), registers);
        QCOMPARE(RegisterPaths::isDataFileName(name), dataFile);
        // The data file is always one of the register's files.
        QVERIFY(!dataFile || registers);
    }

    // A folder's listing by the patterns finds exactly the names the test
    // above calls the register's.
    void patternsListWhatTheRuleNames()
    {
        QTemporaryDir dir;
        QStringList all;
        const QStringList names = { "Baza.xml", ".Baza.xml.lock", ".Baza.xml.recovery",
            ".Baza.xml.recovery-20261210-143055", "Baza.xml.20261210-143055",
            ".Baza.xml.lijekovi-Ab3x9Q", "BAZA.XML.bak", "Baza.xml.bak", "Baza.xml ", ".Baza.xml",
            "Baza.xmlx", "Baza2.xml", "Stara Baza.xml", "Baza.xml-kopija", "..Baza.xml.lock",
            "lijekovi.txt" };
        for (const QString &name : names) {
            QFile f(dir.filePath(name));
            QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(name));
        }
        // What is there: a file system that ignores case (Windows) keeps
        // one of two names that differ only in it, the one made first.
        QStringList expected;
        const QStringList there
            = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
        for (const QString &name : there) {
            if (RegisterPaths::isRegisterFileName(name))
                expected << name;
        }
        QDir listing(dir.path());
        listing.setNameFilters(RegisterPaths::registerFileNamePatterns());
        listing.setFilter(QDir::Files | QDir::Hidden);
        listing.setSorting(QDir::Name);
        expected.sort();
        QStringList found = listing.entryList();
        found.sort();
        QCOMPARE(found, expected);
        QVERIFY(expected.contains("BAZA.XML.bak"));
    }
};

QTEST_GUILESS_MAIN(TestRegisterPaths)
#include "tst_registerpaths.moc"

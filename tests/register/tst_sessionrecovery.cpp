// The journals a crash, a close without saving or a copy without the lock
// left behind, offered back at the next start: never applied unasked over
// a file they did not begin from, never lost when damaged or declined.
#include "tests/register/sessionfixture.h"

#include "store/journal.h"
#include "tests/support/systemfiles.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

const QString recoveryQuestion = QStringLiteral(
    "Program nije ispravno zatvoren.\nBroj nespremljenih promjena: %1.\nVratiti ih?");

QString native(const QString &path) { return QDir::toNativeSeparators(path); }

// Where the n-th entry after the header (from 0) of a journal begins: its
// length, its checksum, then its bytes.
qsizetype entryAt(const QByteArray &journal, int n)
{
    qsizetype at = 8;
    for (int i = 0; i <= n; ++i)
        at += 8 + qFromLittleEndian<quint32>(journal.constData() + at);
    return at;
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

} // namespace

class TestSessionRecovery : public QObject
{
    Q_OBJECT

private slots:
    void changedRegisterIsLeftAloneByDefault_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::newRow("No, the default") << false;
        QTest::newRow("Yes") << true;
    }

    // Another copy, a restored backup or an editor changed the file after
    // the journal began: its changes are never applied to it silently.
    void changedRegisterIsLeftAloneByDefault()
    {
        QFETCH(bool, answer);
        Register reg({ entry("A") });
        reg.add(entry("B"));
        reg.quit();
        store::saveDataPacketFile(reg.dataFile(), { entry("X"), entry("Y"), entry("Z") });
        const QByteArray replaced = readFile(reg.dataFile());

        reg.reopen({ answer });
        QCOMPARE(reg.dialogue.asked, QList<int> { int(Question::RecoverOverChanged) });
        const QString asked = reg.dialogue.questions.value(0);
        QVERIFY2(asked.contains(native(reg.dataFile())), qPrintable(asked));
        QVERIFY2(asked.contains(
                     QStringLiteral("U datoteci na disku sada je 3 zapisa, a u registru kakav je "
                                    "bio kad je program prekinut 2 zapisa")),
            qPrintable(asked));
        QCOMPARE(readFile(reg.dataFile()), replaced);
        if (!answer) {
            QCOMPARE(names(reg.table.records()), (QStringList { "X", "Y", "Z" }));
            QCOMPARE(reg.journals().size(), 1);
            QVERIFY(reg.journals()[0].startsWith(QStringLiteral(".Baza.xml.recovery-")));
        } else {
            QCOMPARE(names(reg.table.records()).mid(0, 2), (QStringList { "A", "B" }));
        }
    }

    void damagedJournalIsReportedAndKeptAside_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("garbage") << QByteArray("not a journal at all");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("magic only") << QByteArray("LJKREC01");
    }

    void damagedJournalIsReportedAndKeptAside()
    {
        QFETCH(QByteArray, content);
        Register reg;
        store::saveDataPacketFile(reg.dataFile(), { entry("A") });
        const QByteArray before = readFile(reg.dataFile());
        writeBytes(reg.journal(), content);
        reg.open();
        QVERIFY(reg.dialogue.asked.isEmpty());
        QVERIFY(reg.dialogue.notices.isEmpty());
        QCOMPARE(reg.dialogue.errors.size(), 1);
        QVERIFY2(reg.dialogue.errors[0].startsWith(
                     QStringLiteral("Datoteka za oporavak \"%1\" nije ispravna")
                         .arg(native(reg.journal()))),
            qPrintable(reg.dialogue.errors[0]));
        const QStringList kept = reg.journals();
        QCOMPARE(kept.size(), 1);
        QVERIFY(kept[0].startsWith(QStringLiteral(".Baza.xml.recovery-")));
        QCOMPARE(readFile(reg.path(kept[0])), content);
        QCOMPARE(readFile(reg.dataFile()), before);
        // The register works on: a new change starts a new journal.
        reg.add(entry("B"));
        QVERIFY(QFileInfo::exists(reg.journal()));
        QCOMPARE(reg.session->save().outcome, Outcome::Saved);
        QCOMPARE(reg.onDisk(), (QStringList { "A", "B" }));
    }

    // A copy without the register's lock still keeps what is typed, under a
    // name of its own, and the next start that holds the lock offers it.
    void journalWithoutTheLockIsRecoveredAtTheNextStart()
    {
        Register reg;
        store::saveDataPacketFile(reg.dataFile(), { entry("A") });
        reg.open(false);
        reg.add(entry("B"));
        const QString own = reg.session->journalFile();
        QVERIFY2(QFileInfo(own).fileName().startsWith(
                     QStringLiteral(".Baza.xml.recovery.%1-").arg(::getpid())),
            qPrintable(own));
        QCOMPARE(reg.journals(), QStringList { QFileInfo(own).fileName() });

        reg.reopen({ true }); // after a crash, holding the lock
        QCOMPARE(reg.dialogue.asked, QList<int> { int(Question::Recover) });
        QCOMPARE(reg.dialogue.questions, QStringList { recoveryQuestion.arg(1) });
        QCOMPARE(names(reg.table.records()).mid(0, 2), (QStringList { "A", "B" }));
        // Taken over by this copy's journal.
        QCOMPARE(reg.journals(), QStringList { ".Baza.xml.recovery" });
        QCOMPARE(reg.session->save().outcome, Outcome::Saved);
        QCOMPARE(reg.onDisk(), (QStringList { "A", "B" }));
        QCOMPARE(reg.journals(), QStringList {});
    }

    // A crash after the journal's first write but before its rename: the
    // temporary file holds the register and the change.
    void journalLeftUnderItsTemporaryNameIsRecovered_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("random temporary name") << ".Baza.xml.recovery.new-Ab3x9Q";
        QTest::newRow("fixed name of earlier versions") << ".Baza.xml.recovery.new";
    }

    void journalLeftUnderItsTemporaryNameIsRecovered()
    {
        QFETCH(QString, name);
        Register reg({ entry("A") });
        reg.add(entry("B"));
        reg.quit();
        QVERIFY(QFile::rename(reg.journal(), reg.path(name)));

        reg.reopen({ true });
        QCOMPARE(reg.dialogue.asked, QList<int> { int(Question::Recover) });
        QCOMPARE(reg.dialogue.questions, QStringList { recoveryQuestion.arg(1) });
        QCOMPARE(names(reg.table.records()).mid(0, 2), (QStringList { "A", "B" }));
        QCOMPARE(reg.journals(), QStringList { ".Baza.xml.recovery" });
        QCOMPARE(reg.session->save().outcome, Outcome::Saved);
        QCOMPARE(reg.onDisk(), (QStringList { "A", "B" }));
        QCOMPARE(reg.journals(), QStringList {});
    }

    void damagedJournalIsKeptWithWhatCouldBeRead_data()
    {
        QTest::addColumn<int>("damagedEntry");
        QTest::addColumn<bool>("answer");
        QTest::newRow("first change damaged") << 0 << true;
        QTest::newRow("third change damaged, kept") << 2 << true;
        QTest::newRow("third change damaged, declined") << 2 << false;
    }

    // A checksum that fails in the middle is damage, not the end of the
    // journal: nothing after it is thrown away without a word.
    void damagedJournalIsKeptWithWhatCouldBeRead()
    {
        QFETCH(int, damagedEntry);
        QFETCH(bool, answer);
        Register reg({ entry("A") });
        for (const char *name : { "B", "C", "D", "E" })
            reg.add(entry(QString::fromLatin1(name)));
        reg.quit();
        const QString journal = reg.journal();
        QByteArray bytes = readFile(journal);
        // The last byte of the entry's data.
        const qsizetype at = entryAt(bytes, damagedEntry + 1) - 1;
        QVERIFY(at < bytes.size());
        bytes[at] = char(bytes[at] ^ 0x20);
        writeBytes(journal, bytes);

        reg.reopen({ answer });
        const QStringList kept = reg.keptAside();
        QCOMPARE(kept.size(), 1);
        QCOMPARE(readFile(reg.path(kept[0])), bytes);
        const QString keptShown = native(reg.path(kept[0]));
        if (damagedEntry == 0) {
            QVERIFY(reg.dialogue.asked.isEmpty());
            QCOMPARE(reg.dialogue.errors,
                QStringList {
                    QStringLiteral("Datoteka za oporavak \"%1\" nije ispravna: kontrolni zbroj "
                                   "promjene ne odgovara.\n\nDatoteka je premještena u \"%2\".\n"
                                   "Registar \"%3\" nije mijenjan.")
                        .arg(native(journal), keptShown, native(reg.dataFile())) });
            QCOMPARE(names(reg.table.records()), QStringList { "A" });
            return;
        }
        QCOMPARE(reg.dialogue.asked, QList<int> { int(Question::Recover) });
        QCOMPARE(reg.dialogue.questions,
            QStringList { QStringLiteral(
                "Program nije ispravno zatvoren.\nDatoteka za oporavak \"%1\" "
                "oštećena je (kontrolni zbroj promjene ne odgovara) i nije pročitana "
                "do kraja.\nBroj pročitanih promjena: 2.\nVratiti ih?")
                              .arg(native(journal)) });
        if (answer) {
            QCOMPARE(reg.dialogue.notices,
                QStringList { QStringLiteral(
                    "Pročitane promjene su vraćene. Ostatak je sačuvan u datoteci \"%1\".")
                                  .arg(keptShown) });
            QCOMPARE(names(reg.table.records()).mid(0, 3), (QStringList { "A", "B", "C" }));
            // A new journal holds them; the damaged one stays as it was.
            QCOMPARE(reg.session->save().outcome, Outcome::Saved);
            QCOMPARE(reg.onDisk(), (QStringList { "A", "B", "C" }));
            QCOMPARE(reg.keptAside(), kept);
            QCOMPARE(readFile(reg.path(kept[0])), bytes);
        } else {
            QCOMPARE(reg.dialogue.notices,
                QStringList { QStringLiteral(
                    "Nespremljene promjene nisu vraćene. Sačuvane su u datoteci \"%1\".")
                                  .arg(keptShown) });
            QCOMPARE(names(reg.table.records()), QStringList { "A" });
        }
    }

    // What is at the journal's name that this user's program did not write
    // is never followed or waited on: reported, moved aside, and the start
    // goes on with a journal of its own.
    void foreignThingAtTheJournalsNameIsSetAside_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << "fifo";
        QTest::newRow("link to a journal elsewhere") << "link to journal";
        QTest::newRow("link to a private file") << "link to private";
        QTest::newRow("another user's file") << "foreign";
    }

    void foreignThingAtTheJournalsNameIsSetAside()
    {
        QFETCH(QString, kind);
        if (kind != "foreign")
            LIJEKOVI_POSIX_ONLY("FIFOs and symbolic links");
        Register reg;
        store::saveDataPacketFile(reg.dataFile(), { entry("A") });
        QTemporaryDir elsewhere;
        const QString journal = reg.journal();
        const QString privateFile = elsewhere.filePath("Baza.xml");
        store::saveDataPacketFile(privateFile, { entry("Tajno") });
        const QByteArray privateBytes = readFile(privateFile);
        if (kind == "fifo") {
            QVERIFY(testsupport::makeFifo(journal));
        } else if (kind == "link to journal") {
            // A journal of this register, in a folder the user never chose.
            reg.open();
            reg.add(entry("Podmetnuto"));
            reg.quit();
            QVERIFY(QFile::rename(journal, elsewhere.filePath("j")));
            QVERIFY(QFile::link(elsewhere.filePath("j"), journal));
        } else if (kind == "link to private") {
            QVERIFY(QFile::link(privateFile, journal));
        } else {
            if (!testsupport::isSuperuser())
                QSKIP("giving a file to another user needs the superuser");
            writeBytes(journal, "LJKREC01");
#ifdef Q_OS_UNIX
            QCOMPARE(::chown(QFile::encodeName(journal).constData(), 65534, 65534), 0);
#endif
        }
        const testsupport::FileStamp before = testsupport::stampOf(journal);
        QVERIFY(before.exists);

        reg.reopen();
        QVERIFY(reg.dialogue.asked.isEmpty());
        QCOMPARE(reg.dialogue.errors.size(), 1);
        const QString error = reg.dialogue.errors[0];
        QVERIFY2(
            error.startsWith(
                QStringLiteral("Datoteka za oporavak \"%1\" nije ispravna: ").arg(native(journal))),
            qPrintable(error));
        const QStringList kept = reg.keptAside();
        QCOMPARE(kept.size(), 1);
        QVERIFY2(error.contains(native(reg.path(kept[0]))), qPrintable(error));
        // Moved as it was: the same link, FIFO or file.
        const testsupport::FileStamp after = testsupport::stampOf(reg.path(kept[0]));
        QVERIFY(after.exists);
        QCOMPARE(after.inode, before.inode);
        QCOMPARE(after.mode, before.mode);
        QCOMPARE(readFile(privateFile), privateBytes);
        QCOMPARE(names(reg.table.records()), QStringList { "A" });

        // The register works on with a journal of its own.
        reg.add(entry("B"));
        QVERIFY(QFileInfo(journal).isFile() && !QFileInfo(journal).isSymLink());
        QCOMPARE(store::RecoveryJournal::read(journal).changes, 1);
        QCOMPARE(readFile(privateFile), privateBytes);
        QCOMPARE(reg.session->save().outcome, Outcome::Saved);
        QCOMPARE(reg.onDisk(), (QStringList { "A", "B" }));
    }
};

QTEST_GUILESS_MAIN(TestSessionRecovery)
#include "tst_sessionrecovery.moc"

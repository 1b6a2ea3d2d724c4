#include "tests/register/sessionfixture.h"

#include "store/exception.h"

#include <QFile>
#include <QFileInfo>

class TestRegisterSession : public QObject
{
    Q_OBJECT

private slots:
    void savesWhatTheTableHolds()
    {
        Register reg({ entry("A") });
        reg.add(entry("B"));
        QCOMPARE(reg.session->save().outcome, Outcome::Saved);
        QCOMPARE(reg.onDisk(), QStringList({ "A", "B" }));
        QVERIFY(reg.dialogue.asked.isEmpty());
        // The journal ends with the save: nothing is left to recover.
        QVERIFY(!QFileInfo::exists(reg.session->paths().recoveryFile()));
    }

    // Another program replaced the data file after the load.
    void replacedFile_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QStringList>("onDisk");
        QTest::addColumn<int>("copies");
        QTest::newRow("kept") << true << false << int(Outcome::FileKept) << QStringList { "Tuđi" }
                              << 0;
        QTest::newRow("replaced, kept beside")
            << true << true << int(Outcome::Saved) << QStringList { "A", "B" } << 1;
        QTest::newRow("nobody there")
            << false << false << int(Outcome::SavedBeside) << QStringList { "Tuđi" } << 1;
    }
    void replacedFile()
    {
        QFETCH(bool, present);
        QFETCH(bool, answer);
        QFETCH(int, outcome);
        QFETCH(QStringList, onDisk);
        QFETCH(int, copies);
        Register reg({ entry("A") });
        reg.add(entry("B"));
        const QString other = reg.dir.filePath("other.xml");
        store::saveDataPacketFile(other, { entry("Tuđi") });
        QVERIFY(QFile::remove(reg.dataFile()));
        QVERIFY(QFile::rename(other, reg.dataFile()));

        reg.dialogue.present = present;
        reg.dialogue.answers = { answer };
        QCOMPARE(int(reg.session->save().outcome), outcome);
        QCOMPARE(reg.dialogue.asked,
            present ? QList<int> { int(Question::ReplaceChangedFile) } : QList<int> {});
        QCOMPARE(reg.onDisk(), onDisk);
        const QStringList beside = reg.besideFiles();
        QCOMPARE(beside.size(), copies);
        // What is beside is the other file when it was replaced, and the
        // table when the other file stayed.
        if (copies) {
            const QStringList expected
                = present ? QStringList { "Tuđi" } : QStringList { "A", "B" };
            QCOMPARE(names(store::loadDataPacketFile(reg.dir.filePath(beside.first()))), expected);
        }
    }

    // Nameless entries that hold typed data: asked about, never lost.
    void namelessWithData_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QStringList>("onDisk");
        QTest::addColumn<int>("tableRows");
        QTest::newRow("no") << true << false << int(Outcome::NamelessKept) << QStringList { "A" }
                            << 3;
        QTest::newRow("yes") << true << true << int(Outcome::Saved) << QStringList { "A", "B" }
                             << 2;
        // Left out of the file, kept in the table and its journal.
        QTest::newRow("nobody there")
            << false << false << int(Outcome::Saved) << QStringList { "A", "B" } << 3;
    }
    void namelessWithData()
    {
        QFETCH(bool, present);
        QFETCH(bool, answer);
        QFETCH(int, outcome);
        QFETCH(QStringList, onDisk);
        QFETCH(int, tableRows);
        Register reg({ entry("A") });
        reg.add(entry("", "Ivić"));
        reg.add(entry("B"));
        reg.dialogue.present = present;
        reg.dialogue.answers = { answer };
        const RegisterSession::SaveResult result = reg.session->save();
        QCOMPARE(int(result.outcome), outcome);
        QCOMPARE(reg.onDisk(), onDisk);
        QCOMPARE(int(reg.table.records().size()), tableRows);
        if (present) {
            QCOMPARE(reg.dialogue.asked, QList<int> { int(Question::PurgeNameless) });
            QVERIFY2(reg.dialogue.questions.first().contains(u"redak 2, pacijent „Ivić“"),
                qPrintable(reg.dialogue.questions.first()));
        }
        if (!answer)
            QCOMPARE(result.firstNameless, present ? 1 : -1);
        if (!present) {
            // The next start offers the entry back.
            reg.quit();
            reg.dialogue.present = true;
            reg.dialogue.answers = { true };
            reg.open();
            QCOMPARE(reg.dialogue.asked, QList<int> { int(Question::Recover) });
            QCOMPARE(int(reg.table.records().size()), 3);
        }
    }

    // A crash leaves the journal; the next start offers it back, with Yes
    // as the default only over the very file it began from.
    void recoveryAfterACrash_data()
    {
        QTest::addColumn<bool>("fileChanged");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QStringList>("table");
        QTest::newRow("yes") << false << true << QStringList { "A", "B" };
        QTest::newRow("no") << false << false << QStringList { "A" };
        QTest::newRow("over a changed file, yes") << true << true << QStringList { "A", "B" };
        QTest::newRow("over a changed file, no") << true << false << QStringList { "Tuđi" };
    }
    void recoveryAfterACrash()
    {
        QFETCH(bool, fileChanged);
        QFETCH(bool, answer);
        QFETCH(QStringList, table);
        Register reg({ entry("A") });
        reg.add(entry("B"));
        // The program dies: nothing saved, the journal stays.
        reg.quit();
        if (fileChanged)
            store::saveDataPacketFile(reg.dataFile(), { entry("Tuđi") });
        reg.dialogue.answers = { answer };
        reg.open();
        QCOMPARE(reg.dialogue.asked,
            QList<int> { int(fileChanged ? Question::RecoverOverChanged : Question::Recover) });
        QCOMPARE(names(reg.table.records()), table);
        // The file on disk is untouched until a save.
        QCOMPARE(reg.onDisk(), fileChanged ? QStringList { "Tuđi" } : QStringList { "A" });
        if (fileChanged && answer) {
            // The first save keeps the other file beside, unasked.
            QCOMPARE(reg.session->save().outcome, Outcome::Saved);
            QCOMPARE(reg.onDisk(), QStringList({ "A", "B" }));
            QCOMPARE(reg.besideFiles().size(), 1);
        }
    }

    void failedLoadLeavesTheTableAsItWas()
    {
        Register reg({ entry("A") });
        QFile file(reg.dataFile());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("not a register");
        file.close();
        QVERIFY_THROWS_EXCEPTION(store::Exception, reg.session->load(reg.dataFile()));
        QCOMPARE(names(reg.table.records()), QStringList { "A" });
        QCOMPARE(reg.table.state(), store::ClientDataSet::Browse);
    }
};

QTEST_GUILESS_MAIN(TestRegisterSession)
#include "tst_registersession.moc"

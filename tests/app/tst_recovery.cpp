#include "tests/app/formfixture.h"
#include "tests/support/modalpoller.h"

#include "store/journal.h"
#include "toolkit/messagebox.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>

using Answer = toolkit::MessageBoxAnswer;

using store::ClientDataSet;

namespace {

const QString recoveryQuestion = QStringLiteral(
    "Program nije ispravno zatvoren.\nBroj nespremljenih promjena: %1.\nVratiti ih?");

QStringList hiddenFiles(const QString &folder)
{
    return QDir(folder).entryList(QStringList { QStringLiteral(".Baza.xml.recovery*") },
        QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

// The entry loop as a user runs it: a name typed into its box, then Tab
// through the rest of the boxes out of Adresa.
void typeEntry(TForm1 *form, const QString &name)
{
    if (form->CDSetLijekovi->state() != ClientDataSet::Insert)
        form->BitBtnAdd->click();
    form->DBEditNaziv->setFocus();
    form->DBEditNaziv->selectAll();
    typeText(form->DBEditNaziv, name);
    form->DBEditAdresa->setFocus();
    QTest::keyClick(form->DBEditAdresa, Qt::Key_Tab);
}

QStringList namesIn(const TForm1 *form)
{
    QStringList names;
    for (const store::Record &r : form->CDSetLijekovi->records())
        names << r.text(form->StringField2->index());
    return names;
}

} // namespace

// A crash is a window that goes away without closing: nothing is saved,
// only what the journal holds survives, as after a kill -9.
class TestRecovery : public QObject
{
    Q_OBJECT

private slots:
    void init() { toolkit::setUnattended(false); }

    void postedRecordsComeBackAfterACrash_data()
    {
        QTest::addColumn<Answer>("answer");
        QTest::newRow("Yes") << Answer::Yes;
        QTest::newRow("No") << Answer::No;
    }

    void postedRecordsComeBackAfterACrash()
    {
        QFETCH(Answer, answer);
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } }, { { "Naziv", "B" } } });
        const QByteArray before = readFile(fx.dataFile());
        TForm1 *form = fx.start();
        typeEntry(form, QStringLiteral("C"));
        typeEntry(form, QStringLiteral("D"));
        form->CDSetLijekovi->first();
        form->BitBtnDel->click(); // A goes
        fx.form.reset(); // the crash
        QCOMPARE(readFile(fx.dataFile()), before);
        QCOMPARE(hiddenFiles(fx.path(".")), QStringList { ".Baza.xml.recovery" });

        fx.shown.clear();
        fx.answers = { answer };
        form = fx.start();
        QCOMPARE(fx.captions(),
            (answer == Answer::Yes ? QStringList { "Pozdrav", "Pažnja!" }
                                   : QStringList { "Pozdrav", "Pažnja!", "Poruka" }));
        // Two posts, the blank record the loop began (posted when the cursor
        // left it), and the delete.
        QCOMPARE(fx.shown[1].text, recoveryQuestion.arg(4));
        QCOMPARE(fx.shown[1].style, toolkit::MessageBoxStyle::YesNo); // Yes is the default
        QCOMPARE(readFile(fx.dataFile()), before);
        if (answer == Answer::Yes) {
            QCOMPARE(namesIn(form), (QStringList { "B", "C", "D", "" }));
            QVERIFY(form->close());
            QCOMPARE(fx.savedNames(), (QStringList { "B", "C", "D" }));
            QCOMPARE(hiddenFiles(fx.path(".")), QStringList {});
        } else {
            QCOMPARE(namesIn(form), (QStringList { "A", "B" }));
            // Kept under another name, which the box gives.
            const QStringList kept = hiddenFiles(fx.path("."));
            QCOMPARE(kept.size(), 1);
            QVERIFY(kept[0].startsWith(QStringLiteral(".Baza.xml.recovery-")));
            QVERIFY2(fx.shown[2].text.contains(QDir::toNativeSeparators(fx.path(kept[0]))),
                qPrintable(fx.shown[2].text));
            QCOMPARE(store::RecoveryJournal::read(fx.path(kept[0])).rows.size(), size_t(4));
            // The next start does not ask again.
            fx.form.reset();
            fx.shown.clear();
            fx.start();
            QCOMPARE(fx.captions(), QStringList { "Pozdrav" });
        }
    }

    // The key that posts an entry returns only after the journal on disk
    // holds it: no later key, click or timer can come first.
    void aPostIsInTheJournalBeforeTheNextEvent()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } } });
        TForm1 *form = fx.start();
        QStringList typed;
        for (const QString &name :
            { QStringLiteral("Prvi"), QStringLiteral("Drugi"), QStringLiteral("Treći") }) {
            typeEntry(form, name); // ends with the Tab out of Adresa
            typed << name;
            const store::Recovery recovery = store::RecoveryJournal::read(form->recoveryFilePath());
            QCOMPARE(
                QStringList(namesIn(form).mid(0, 1 + typed.size())), QStringList { "A" } + typed);
            QStringList journalled;
            for (const store::Record &r : recovery.rows)
                journalled << r.text(form->StringField2->index());
            QCOMPARE(journalled.mid(0, 1 + typed.size()), QStringList { "A" } + typed);
        }
    }

    void halfTypedRecordIsRecordedAfterAPause()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } } });
        TForm1 *form = fx.start();
        form->BitBtnAdd->click();
        typeText(form->DBEditTar_br, QStringLiteral("3004"));
        form->DBEditNaziv->setFocus();
        typeText(form->DBEditNaziv, QStringLiteral("Sirup"));
        form->DBEditPacijent->setFocus();
        typeText(form->DBEditPacijent, QStringLiteral("Đurđa"));
        QCOMPARE(form->CDSetLijekovi->state(), ClientDataSet::Insert);
        // Typing is recorded once it stops, not at every key.
        QVERIFY(!QFileInfo::exists(form->recoveryFilePath()));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(form->recoveryFilePath()), 4000);
        fx.form.reset();

        fx.shown.clear();
        fx.answers = { Answer::Yes };
        form = fx.start();
        QCOMPARE(fx.shown[1].text, recoveryQuestion.arg(1));
        QCOMPARE(namesIn(form), (QStringList { "A", "Sirup" }));
        QCOMPARE(form->CDSetLijekovi->records()[1].text(form->StringField4->index()),
            QStringLiteral("Đurđa"));
        QCOMPARE(form->CDSetLijekovi->records()[1].text(form->CDSetLijekoviTar_br->index()),
            QStringLiteral("3004"));
    }

    void droppedTypingIsNotOfferedBack()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } } });
        TForm1 *form = fx.start();
        form->BitBtnAdd->click();
        typeText(form->DBEditNaziv, QStringLiteral("Nije"));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(form->recoveryFilePath()), 4000);
        form->CDSetLijekovi->cancel();
        QTest::qWait(50);
        fx.form.reset();
        fx.shown.clear();
        fx.start();
        // Nothing left to offer: no question, and the empty journal is gone.
        QCOMPARE(fx.captions(), QStringList { "Pozdrav" });
        QCOMPARE(hiddenFiles(fx.path(".")), QStringList {});
    }

    void changedRegisterIsLeftAloneByDefault_data()
    {
        QTest::addColumn<Answer>("answer");
        QTest::newRow("No, the default") << Answer::No;
        QTest::newRow("Yes") << Answer::Yes;
    }

    // Another copy, a restored backup or an editor changed the file after
    // the journal began: its changes are never applied to it silently.
    void changedRegisterIsLeftAloneByDefault()
    {
        QFETCH(Answer, answer);
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } } });
        TForm1 *form = fx.start();
        typeEntry(form, QStringLiteral("B"));
        fx.form.reset();
        fx.writeRegister({ { { "Naziv", "X" } }, { { "Naziv", "Y" } }, { { "Naziv", "Z" } } });
        const QByteArray replaced = readFile(fx.dataFile());

        fx.shown.clear();
        fx.answers = { answer };
        form = fx.start();
        QCOMPARE(fx.shown[1].caption, QStringLiteral("Pažnja!"));
        QCOMPARE(fx.shown[1].style, toolkit::MessageBoxStyle::YesNoDefaultNo);
        QVERIFY2(fx.shown[1].text.contains(QDir::toNativeSeparators(fx.dataFile())),
            qPrintable(fx.shown[1].text));
        QVERIFY2(fx.shown[1].text.contains(
                     QStringLiteral("U datoteci na disku sada je 3 zapisa, a u registru kakav je "
                                    "bio kad je program prekinut 2 zapisa")),
            qPrintable(fx.shown[1].text));
        QCOMPARE(readFile(fx.dataFile()), replaced);
        if (answer == Answer::No) {
            QCOMPARE(namesIn(form), (QStringList { "X", "Y", "Z" }));
            QCOMPARE(hiddenFiles(fx.path(".")).size(), 1);
            QVERIFY(hiddenFiles(fx.path("."))[0].startsWith(QStringLiteral(".Baza.xml.recovery-")));
        } else {
            QCOMPARE(namesIn(form).mid(0, 2), (QStringList { "A", "B" }));
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
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } } });
        const QByteArray before = readFile(fx.dataFile());
        {
            QFile f(fx.path(".Baza.xml.recovery"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        TForm1 *form = fx.start();
        QCOMPARE(fx.captions(), (QStringList { "Pozdrav", "Greška" }));
        QVERIFY2(fx.shown[1].text.startsWith(
                     QStringLiteral("Datoteka za oporavak \"%1\" nije ispravna")
                         .arg(QDir::toNativeSeparators(fx.path(".Baza.xml.recovery")))),
            qPrintable(fx.shown[1].text));
        const QStringList kept = hiddenFiles(fx.path("."));
        QCOMPARE(kept.size(), 1);
        QVERIFY(kept[0].startsWith(QStringLiteral(".Baza.xml.recovery-")));
        QCOMPARE(readFile(fx.path(kept[0])), content);
        QCOMPARE(readFile(fx.dataFile()), before);
        // The register works on: a new change starts a new journal.
        typeEntry(form, QStringLiteral("B"));
        QVERIFY(QFileInfo::exists(form->recoveryFilePath()));
        QVERIFY(form->close());
        QCOMPARE(fx.savedNames(), (QStringList { "A", "B" }));
    }

    void saveEndsTheJournalAndEraseStartsAfresh()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } } });
        TForm1 *form = fx.start();
        typeEntry(form, QStringLiteral("B"));
        QVERIFY(QFileInfo::exists(form->recoveryFilePath()));
        fx.saveAnswers = { std::nullopt };
        form->BitBtnExport->click();
        QVERIFY(!QFileInfo::exists(form->recoveryFilePath()));

        // Erase, then a crash: the emptied register is what comes back.
        typeEntry(form, QStringLiteral("C"));
        fx.answers = { Answer::Yes, Answer::Yes };
        form->BitBtnErase->click();
        QVERIFY(store::loadDataPacketFile(fx.dataFile()).empty());
        fx.form.reset();
        fx.shown.clear();
        form = fx.start();
        QCOMPARE(fx.captions(), QStringList { "Pozdrav" });
        QCOMPARE(form->CDSetLijekovi->recordCount(), 0);
    }

    void noJournalWithoutTheLock()
    {
        FormFixture fx;
        fx.form = std::make_unique<TForm1>();
        fx.form->setRecoveryAllowed(false);
        fx.form->FormCreate();
        fx.form->show();
        typeEntry(fx.form.get(), QStringLiteral("A"));
        QVERIFY(!QFileInfo::exists(fx.form->recoveryFilePath()));
    }

    // Ending with nobody to answer (a signal, a logout): whatever box is
    // open is answered the safe way, the register is saved, the program ends.
    void endingWithoutAUserSavesEvenWithABoxOpen()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } } });
        TForm1 *form = fx.start();
        typeEntry(form, QStringLiteral("B"));
        // A real box this time: the Erase question, open and waiting.
        toolkit::setMessageBoxHandler({});
        testsupport::ModalPoller poll([&](QWidget *) {
            form->endUnattended();
            return true;
        });
        QTimer::singleShot(0, form, [&] { form->BitBtnErase->click(); });
        QTRY_VERIFY_WITH_TIMEOUT(!form->isVisible(), 5000);
        QVERIFY(poll.done());
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(fx.savedNames(), (QStringList { "A", "B" }));
        QVERIFY(!QFileInfo::exists(form->recoveryFilePath()));
    }

    // The desktop session ends: saved without a question, and the program
    // goes on should the logout be cancelled.
    void endOfSessionSavesWithoutAsking()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } } });
        TForm1 *form = fx.start();
        typeEntry(form, QStringLiteral("B"));
        fx.shown.clear();
        QVERIFY(form->saveUnattended());
        QVERIFY(fx.shown.empty());
        QCOMPARE(fx.savedNames(), (QStringList { "A", "B" }));
        QVERIFY(!QFileInfo::exists(form->recoveryFilePath()));
        QVERIFY(!toolkit::unattended());
        QVERIFY(form->isVisible());
    }

    // Nobody can be asked whether a nameless record with a patient in it may
    // go: it is not saved, and not lost either.
    void endingWithoutAUserKeepsTypedNamelessRecords()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } }, { { "Ljekarna", "L" } } });
        TForm1 *form = fx.start();
        form->BitBtnAdd->click();
        typeText(form->DBEditPacijent, QStringLiteral("Ana"));
        form->endUnattended();
        QTRY_VERIFY_WITH_TIMEOUT(!form->isVisible(), 5000);
        QCOMPARE(fx.savedNames(), QStringList { "A" });
        fx.form.reset();

        toolkit::setUnattended(false);
        fx.shown.clear();
        fx.answers = { Answer::Yes };
        form = fx.start();
        QCOMPARE(fx.shown[1].text, recoveryQuestion.arg(1));
        QCOMPARE(namesIn(form), (QStringList { "A", "" }));
        QCOMPARE(form->CDSetLijekovi->records()[1].text(form->StringField4->index()),
            QStringLiteral("Ana"));
    }
};

QTEST_MAIN(TestRecovery)
#include "tst_recovery.moc"

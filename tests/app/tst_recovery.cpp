#include "tests/app/formfixture.h"
#include "tests/support/modalpoller.h"

#include "store/journal.h"
#include "toolkit/messagebox.h"

#include <QFileInfo>
#include <QLineEdit>
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
// only what the journal holds survives, as after a kill -9. What is typed
// into the window reaches the journal, the recovery question shows as a
// box and its answer reaches the grid; the session's rules for the
// journals found at the start are tested in tests/register.
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

    // Ended by a signal (a logout, a kill) while the greeting or the
    // recovery question waits: nobody answered, so the journal stays where
    // it is, as it was, and the next start asks again.
    void aQuestionNobodyAnsweredChangesNothing_data()
    {
        QTest::addColumn<QString>("openBox");
        QTest::newRow("the greeting") << "Pozdrav";
        QTest::newRow("the recovery question") << "Pažnja!";
    }

    void aQuestionNobodyAnsweredChangesNothing()
    {
        QFETCH(QString, openBox);
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } } });
        TForm1 *form = fx.start();
        typeEntry(form, QStringLiteral("B"));
        fx.form.reset();
        const QString journal = fx.path(".Baza.xml.recovery");
        const QByteArray bytes = readFile(journal);

        fx.shown.clear();
        fx.onMessage = [&](const toolkit::MessageBoxCall &call) {
            if (call.caption == openBox && fx.form)
                fx.form->endUnattended();
        };
        form = fx.start();
        QTRY_VERIFY_WITH_TIMEOUT(!form->isVisible(), 5000);
        fx.onMessage = nullptr;
        // The ending asked an event loop to quit that was not running yet:
        // one that runs now ends at once and takes that wish with it, so
        // no later box of this test program is ended by it.
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
        QCOMPARE(hiddenFiles(fx.path(".")), QStringList { ".Baza.xml.recovery" });
        QCOMPARE(readFile(journal), bytes);
        QCOMPARE(fx.savedNames(), QStringList { "A" });
        fx.form.reset();

        toolkit::setUnattended(false);
        fx.shown.clear();
        fx.answers = { Answer::Yes };
        form = fx.start();
        QCOMPARE(fx.captions(), (QStringList { "Pozdrav", "Pažnja!" }));
        QCOMPARE(fx.shown[1].text, recoveryQuestion.arg(1));
        QCOMPARE(namesIn(form).mid(0, 2), (QStringList { "A", "B" }));
    }

    // The user agreed to close without saving (the save had failed): the
    // entries are kept, and the next start says what happened.
    void closingWithoutSavingIsNotCalledACrash()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } } });
        const QByteArray before = readFile(fx.dataFile());
        // The data file's place is taken by a folder while the program runs:
        // the save fails and the user closes without saving.
        const auto closeUnsaved = [&](TForm1 *form) {
            QVERIFY(QFile::remove(fx.dataFile()));
            QVERIFY(QDir(fx.path(".")).mkpath("Baza.xml/inside"));
            fx.shown.clear();
            fx.answers = { Answer::Yes };
            QVERIFY(form->close());
            QCOMPARE(fx.captions(), (QStringList { "Greška", "Pažnja!" }));
            QCOMPARE(fx.shown[1].text,
                QStringLiteral(
                    "Podaci nisu spremljeni.\nDa: program se zatvara bez spremanja.\nNe: program "
                    "ostaje otvoren.\nZatvoriti program bez spremanja?"));
            fx.form.reset();
            QVERIFY(QDir(fx.dataFile()).removeRecursively());
        };
        TForm1 *form = fx.start();
        typeEntry(form, QStringLiteral("B"));
        closeUnsaved(form);
        {
            QFile f(fx.dataFile());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(before);
        }

        fx.shown.clear();
        fx.answers = { Answer::Yes };
        form = fx.start();
        QCOMPARE(fx.captions(), (QStringList { "Pozdrav", "Pažnja!" }));
        QVERIFY2(fx.shown[1].text.startsWith(QStringLiteral(
                     "Program je zatvoren bez spremanja.\nBroj nespremljenih promjena: ")),
            qPrintable(fx.shown[1].text));
        QVERIFY2(fx.shown[1].text.endsWith(QStringLiteral(".\nVratiti ih?")),
            qPrintable(fx.shown[1].text));
        QCOMPARE(fx.shown[1].style, toolkit::MessageBoxStyle::YesNo);
        QCOMPARE(namesIn(form).mid(0, 2), (QStringList { "A", "B" }));

        // Closed without saving again, and the register changed meanwhile:
        // the other question, worded for a close too, and No its default.
        closeUnsaved(form);
        fx.writeRegister({ { { "Naziv", "X" } }, { { "Naziv", "Y" } } });
        fx.shown.clear();
        fx.answers = { Answer::No };
        form = fx.start();
        QCOMPARE(fx.shown[1].style, toolkit::MessageBoxStyle::YesNoDefaultNo);
        QVERIFY2(fx.shown[1].text.startsWith(
                     QStringLiteral("Program je zatvoren bez spremanja, a registar \"%1\" je u "
                                    "međuvremenu promijenio drugi program ili drugi korisnik.")
                         .arg(QDir::toNativeSeparators(fx.dataFile()))),
            qPrintable(fx.shown[1].text));
        QVERIFY2(fx.shown[1].text.contains(
                     QStringLiteral("Vratiti registar kakav je bio kad je program zatvoren?")),
            qPrintable(fx.shown[1].text));

        // A crash is still called one.
        fx.form.reset();
        fx.shown.clear();
        fx.answers = { Answer::Yes };
        form = fx.start();
        typeEntry(form, QStringLiteral("Z"));
        fx.form.reset();
        fx.shown.clear();
        fx.answers = { Answer::Yes };
        form = fx.start();
        QCOMPARE(fx.shown[1].text, recoveryQuestion.arg(1));
    }

    // Text typed into a grid cell is as much typing as text in a box: it
    // reaches the journal after the same pause, before the cell is left.
    void gridCellTypingIsRecordedAfterAPause()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } }, { { "Naziv", "B" } } });
        TForm1 *form = fx.start();
        form->CDSetLijekovi->first();
        int column = -1;
        for (int c = 0; c < form->DBGridLijekovi->gridModel()->columnCount(); ++c) {
            if (form->DBGridLijekovi->gridModel()->fieldOfColumn(c) == form->StringField4->index())
                column = c;
        }
        QVERIFY(column >= 0);
        form->DBGridLijekovi->setFocus();
        form->DBGridLijekovi->setCurrentIndex(form->DBGridLijekovi->gridModel()->index(0, column));
        QTest::keyClick(form->DBGridLijekovi, 'M');
        QWidget *editor = QApplication::focusWidget();
        QVERIFY(qobject_cast<QLineEdit *>(editor));
        QVERIFY(editor != form->DBEditPacijent);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(form->recoveryFilePath()), 4000);
        // Typing on in the same cell: recorded again within the same delay.
        typeText(editor, QStringLiteral("arija Žužić"));
        // Not in the record: the cell is still open.
        QCOMPARE(form->CDSetLijekovi->records()[0].text(form->StringField4->index()), QString());
        const auto journalled = [&] {
            return store::RecoveryJournal::read(form->recoveryFilePath())
                .rows[0]
                .text(form->StringField4->index());
        };
        QTRY_COMPARE_WITH_TIMEOUT(journalled(), QStringLiteral("Marija Žužić"), 4000);
        fx.form.reset(); // the crash, the cell still open

        fx.shown.clear();
        fx.answers = { Answer::Yes };
        form = fx.start();
        QCOMPARE(fx.shown[1].text, recoveryQuestion.arg(1));
        QCOMPARE(form->CDSetLijekovi->records()[0].text(form->StringField4->index()),
            QStringLiteral("Marija Žužić"));
        QCOMPARE(namesIn(form), (QStringList { "A", "B" }));
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

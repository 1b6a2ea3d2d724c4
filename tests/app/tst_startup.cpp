// The window's life: start-up with and without a register, the greeting, the
// record-limit check on first showing, and saving on close.
#include "tests/app/formfixture.h"
#include "tests/support/modalpoller.h"
#include "tests/support/systemfiles.h"

#include "toolkit/bitbtn.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTimer>

using Answer = toolkit::MessageBoxAnswer;

using store::ClientDataSet;

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void startWithoutDataFileCreatesIt()
    {
        FormFixture fx;
        TForm1 *form = fx.start();
        QCOMPARE(fx.captions(), QStringList { greetingCaption });
        QVERIFY(QFile::exists(fx.dataFile()));
        const QByteArray bytes = readFile(fx.dataFile());
        QCOMPARE(bytes.count("<FIELD "), 17);
        QVERIFY(store::loadDataPacketFile(fx.dataFile()).empty());
        // Patient data: the owner's only (on Windows, by its access list).
        QCOMPARE(testsupport::fileMode(fx.dataFile()) & 0777, 0600u);
        QCOMPARE(form->CDSetLijekovi->state(), ClientDataSet::Insert);
        QCOMPARE(form->CDSetLijekovi->recordCount(), 0);
        QVERIFY(!form->BitBtnDel->isEnabled());
        QVERIFY(form->BitBtnAdd->isEnabled());
        QCOMPARE(form->lblNumOfRecords->text(), QStringLiteral("0"));
        // The folder the window was made in, known to the test beforehand.
        QCOMPARE(form->dataFilePath(), QDir(fx.path(".")).canonicalPath() + "/Baza.xml");
    }

    // The data file's path is fixed when the window is made: a later change
    // of the current directory (a file dialog may make one) does not move
    // where the register is saved.
    void dataFilePathStaysWhenTheDirectoryChanges()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } } });
        TForm1 *form = fx.start();
        const QString made = QDir(fx.path(".")).canonicalPath() + "/Baza.xml";
        QTemporaryDir elsewhere;
        QVERIFY(QDir::setCurrent(elsewhere.path()));
        QCOMPARE(form->dataFilePath(), made);
        form->CDSetLijekovi->insert();
        form->StringField2->setAsString("B");
        form->CDSetLijekovi->post();
        QVERIFY(form->close());
        QCOMPARE(fx.savedNames(), (QStringList { "A", "B" }));
        QVERIFY(!QFile::exists(QDir(elsewhere.path()).filePath("Baza.xml")));
        QVERIFY(form->recoveryFilePath().startsWith(QFileInfo(made).path() + "/"));
    }

    void startWithARegister_data()
    {
        QTest::addColumn<QList<Values>>("records");
        QTest::addColumn<bool>("deleteEnabled");
        QTest::addColumn<QString>("current");
        QTest::newRow("empty file") << QList<Values> {} << false << QString();
        QTest::newRow("one record") << QList<Values> { { { "Naziv", "A" } } } << true << "A";
        QTest::newRow("three records: cursor on the last")
            << QList<Values> { { { "Naziv", "A" } }, { { "Naziv", "B" } }, { { "Naziv", "C" } } }
            << true << "C";
    }

    void startWithARegister()
    {
        QFETCH(QList<Values>, records);
        QFETCH(bool, deleteEnabled);
        QFETCH(QString, current);
        FormFixture fx;
        fx.writeRegister(records);
        TForm1 *form = fx.start();
        QCOMPARE(fx.captions(), QStringList { greetingCaption });
        QCOMPARE(form->CDSetLijekovi->state(), ClientDataSet::Browse);
        QCOMPARE(form->CDSetLijekovi->recordCount(), records.size());
        QCOMPARE(form->BitBtnDel->isEnabled(), deleteEnabled);
        QCOMPARE(form->StringField2->asString(), current);
        QCOMPARE(form->DBEditNaziv->text(), current);
        QCOMPARE(form->lblNumOfRecords->text(), QString::number(records.size()));
    }

    void greetingHasItsFivePieces()
    {
        FormFixture fx;
        fx.start();
        QCOMPARE(fx.shown.size(), size_t(1));
        const FormFixture::Shown &g = fx.shown.front();
        QCOMPARE(g.caption, greetingCaption);
        QCOMPARE(g.style, toolkit::MessageBoxStyle::Ok);
        const QStringList pieces = g.text.split("\n\n");
        QCOMPARE(pieces.size(), 5);
        QCOMPARE(pieces[0], QStringLiteral("Tervalis"));
        QCOMPARE(pieces[1].count('\n'), 1); // street, then postcode, city and country
        const QStringList contact = pieces[2].split('\n');
        QCOMPARE(contact.size(), 3);
        QVERIFY(contact[0].startsWith("Tel: "));
        QVERIFY(contact[1].startsWith("Fax: "));
        QVERIFY(contact[2].startsWith("E-mail: "));
        QVERIFY(pieces[3].startsWith("Web: "));
        QCOMPARE(pieces[4], QStringLiteral("v2.1"));
    }

    void greetingComesBeforeTheRegisterIsRead()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } } });
        bool fileUntouchedAtGreeting = false;
        std::optional<bool> windowHiddenAtGreeting;
        const QByteArray before = readFile(fx.dataFile());
        fx.onMessage = [&](const toolkit::MessageBoxCall &call) {
            if (call.caption != greetingCaption || !fx.form)
                return;
            fileUntouchedAtGreeting
                = !fx.form->CDSetLijekovi->active() && readFile(fx.dataFile()) == before;
            windowHiddenAtGreeting = !fx.form->isVisible();
        };
        fx.start();
        QVERIFY(fileUntouchedAtGreeting);
        // The greeting stands alone: the window comes after it is answered.
        QVERIFY(windowHiddenAtGreeting.has_value());
        QVERIFY(*windowHiddenAtGreeting);
        QVERIFY(fx.form->isVisible());
    }

    void limitCheckedOnFirstShowingOnly()
    {
        FormFixture fx;
        fx.writeRegister(10000);
        TForm1 *form = fx.start();
        QCOMPARE(fx.captions(), (QStringList { greetingCaption, QStringLiteral("Greška") }));
        QCOMPARE(fx.shown.back().text, limitMessage);
        QVERIFY(!form->BitBtnAdd->isEnabled());

        // Activation again (after a box, or a switch back) is not a first showing.
        switchAwayAndBack(form);
        form->hide();
        form->show();
        QApplication::processEvents();
        QCOMPARE(fx.shown.size(), size_t(2));
    }

    void belowTheLimitAddIsEnabled()
    {
        FormFixture fx;
        fx.writeRegister(9999);
        TForm1 *form = fx.start();
        QCOMPARE(fx.captions(), QStringList { greetingCaption });
        QVERIFY(form->BitBtnAdd->isEnabled());
    }

    void closePurgesNamelessRecordsAndSaves_data()
    {
        QTest::addColumn<bool>("byExitButton");
        QTest::newRow("close box") << false;
        QTest::newRow("Exit button") << true;
    }

    void closePurgesNamelessRecordsAndSaves()
    {
        QFETCH(bool, byExitButton);
        FormFixture fx;
        // Nameless records that hold only the carried-over values are the
        // entry loop's leftovers and go without a word.
        fx.writeRegister({ { { "Naziv", "" }, { "Ljekarna", "L" } }, { { "Naziv", "A" } },
            { { "Valuta", "EUR" }, { "Jed_mjere", "kom" }, { "Proizvodjac", "P" } },
            { { "Naziv", "B" } }, {} });
        TForm1 *form = fx.start();
        QCOMPARE(form->CDSetLijekovi->recordCount(), 5);
        if (byExitButton)
            QTest::mouseClick(form->BitBtnExit, Qt::LeftButton);
        else
            QVERIFY(form->close());
        QVERIFY(!form->isVisible());
        QCOMPARE(fx.savedNames(), (QStringList { "A", "B" }));
        QCOMPARE(fx.captions(), QStringList { greetingCaption });
    }

    void pendingNewRecordAtCloseIsPostedThenPurged()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" }, { "Ljekarna", "Centralna" } } });
        TForm1 *form = fx.start();
        // A post remembers the carry-over values; the next new record gets them.
        form->CDSetLijekovi->first();
        form->CDSetLijekovi->edit();
        form->StringField2->setAsString("A2");
        form->CDSetLijekovi->post();
        QTest::mouseClick(form->BitBtnAdd, Qt::LeftButton);
        QCOMPARE(form->CDSetLijekovi->state(), ClientDataSet::Insert);
        QCOMPARE(form->StringField1->asString(), QStringLiteral("Centralna"));
        QVERIFY(form->close());
        QCOMPARE(fx.savedNames(), QStringList { "A2" });
    }

    void pendingNamedRecordAtCloseIsSaved()
    {
        FormFixture fx;
        TForm1 *form = fx.start();
        form->DBEditNaziv->setFocus();
        typeText(form->DBEditNaziv, "Novi");
        QVERIFY(form->close());
        QCOMPARE(fx.savedNames(), QStringList { "Novi" });
    }

    // An unreadable register is never written over except by Erase.
    void unreadableRegisterIsLeftAlone()
    {
        FormFixture fx;
        QFile f(fx.dataFile());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("<?xml version=\"1.0\"?><DATAPACKET Version=\"2.0\"><METADATA>");
        f.close();
        const QByteArray before = readFile(fx.dataFile());

        TForm1 *form = fx.start();
        QCOMPARE(fx.captions(), (QStringList { greetingCaption, QStringLiteral("Greška") }));
        QVERIFY2(fx.shown[1].text.contains(QDir::toNativeSeparators(fx.dataFile())),
            qPrintable(fx.shown[1].text));
        QCOMPARE(form->CDSetLijekovi->state(), ClientDataSet::Inactive);

        fx.shown.clear();
        for (toolkit::BitBtn *button : { form->BitBtnAdd, form->BitBtnDel, form->BitBtnExport }) {
            if (!button->isEnabled())
                continue;
            QTest::mouseClick(button, Qt::LeftButton);
        }
        QVERIFY(!fx.shown.empty());
        for (const auto &s : fx.shown) {
            QCOMPARE(s.caption, QStringLiteral("Greška"));
            QVERIFY2(s.text.contains("nije otvoren"), qPrintable(s.text));
        }
        QVERIFY(fx.offeredNames.isEmpty()); // no export dialog
        // The boxes take no typing while there is no register to type into.
        form->DBEditNaziv->setFocus();
        typeText(form->DBEditNaziv, "x");
        QCOMPARE(form->DBEditNaziv->text(), QString());
        QVERIFY(form->DBEditNaziv->isReadOnly());
        QCOMPARE(readFile(fx.dataFile()), before);

        QVERIFY(form->close());
        QVERIFY(!form->isVisible());
        QCOMPARE(readFile(fx.dataFile()), before);
    }

    // A file that could not be loaded is not this program's to empty:
    // Erase leaves it, and the register closed, and says why.
    void eraseLeavesAnUnreadableRegister()
    {
        FormFixture fx;
        QFile f(fx.dataFile());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("not xml at all");
        f.close();
        TForm1 *form = fx.start();
        QCOMPARE(form->CDSetLijekovi->state(), ClientDataSet::Inactive);
        fx.shown.clear();
        fx.answers = { Answer::Yes, Answer::Yes };
        QTest::mouseClick(form->BitBtnErase, Qt::LeftButton);
        QVERIFY(!form->CDSetLijekovi->active());
        QCOMPARE(readFile(fx.dataFile()), QByteArray("not xml at all"));
        QCOMPARE(fx.captions(), QStringList { QStringLiteral("Greška") });
        QVERIFY(!fx.texts().contains(QStringLiteral("Baze prezne!")));
    }

    void namelessRecordsWithTypedDataAreAskedFor_data()
    {
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<bool>("closed");
        QTest::addColumn<QStringList>("saved");
        QTest::newRow("Yes purges them") << Answer::Yes << true << QStringList { "A", "B" };
        QTest::newRow("No keeps the window")
            << Answer::No << false << QStringList { "A", "B", "", "", "" };
    }

    // A patient, a prescriber or a quantity typed into a record whose
    // medicine was forgotten must not vanish at close without a word.
    void namelessRecordsWithTypedDataAreAskedFor()
    {
        QFETCH(Answer, answer);
        QFETCH(bool, closed);
        QFETCH(QStringList, saved);
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } }, { { "Naziv", "B" } }, { { "Ljekarna", "L" } },
            { { "Tar_br", "1" } }, { { "Pacijent", "x" }, { "Ljekarna", "L" } } });
        TForm1 *form = fx.start();
        form->CDSetLijekovi->insert();
        form->CDSetLijekoviKolicina->setAsString(QStringLiteral("3"));
        const QByteArray before = readFile(fx.dataFile());
        fx.shown.clear();
        fx.answers = { answer };
        QCOMPARE(form->close(), closed);
        QCOMPARE(fx.captions(), QStringList { "Pažnja!" });
        // What is wrong, which entry, what each answer does.
        QCOMPARE(fx.shown[0].text,
            QStringLiteral("Bez naziva lijeka, a s drugim upisanim podacima: 3 zapisa (prvi: "
                           "redak 4).\nZapis bez naziva lijeka ne može se spremiti.\n"
                           "Da: ti se zapisi brišu, a ostali se spremaju.\n"
                           "Ne: ništa se ne briše ni ne sprema, a kursor ide u naziv lijeka "
                           "prvoga od njih.\nObrisati ih?"));
        QCOMPARE(fx.shown[0].style, toolkit::MessageBoxStyle::YesNoDefaultNo);
        if (closed) {
            QCOMPARE(fx.savedNames(), saved);
        } else {
            QVERIFY(form->isVisible());
            QCOMPARE(readFile(fx.dataFile()), before);
            // The cursor shows the first of them, the quantity typed is kept.
            QCOMPARE(form->CDSetLijekovi->currentRow(), 3);
            QCOMPARE(form->DBEditTar_br->text(), QStringLiteral("1"));
            // Ready for the name that was forgotten.
            QCOMPARE(form->focusWidget(), form->DBEditNaziv);
            QCOMPARE(form->CDSetLijekovi->recordCount(), 6);
            QCOMPARE(form->CDSetLijekovi->records()[5].number(form->CDSetLijekoviKolicina->index()),
                std::optional<double>(3));
        }
    }

    // The first such entry is named by its patient where it has one.
    void namelessRecordQuestionNamesThePatient()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } }, { { "Pacijent", "Ana Horvat" } } });
        TForm1 *form = fx.start();
        fx.shown.clear();
        fx.answers = { Answer::No };
        QVERIFY(!form->close());
        QCOMPARE(fx.texts(),
            QStringList { QStringLiteral(
                "Bez naziva lijeka, a s drugim upisanim podacima: 1 zapis (prvi: redak 2, "
                "pacijent „Ana Horvat“).\nZapis bez naziva lijeka ne može se spremiti.\n"
                "Da: ti se zapisi brišu, a ostali se spremaju.\n"
                "Ne: ništa se ne briše ni ne sprema, a kursor ide u naziv lijeka prvoga od "
                "njih.\nObrisati ih?") });
        QCOMPARE(form->CDSetLijekovi->currentRow(), 1);
        QCOMPARE(form->focusWidget(), form->DBEditNaziv);
    }

    void failedSaveOnCloseAsksBeforeLosingEntries()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } } });
        TForm1 *form = fx.start();
        form->CDSetLijekovi->insert();
        form->StringField2->setAsString("B");
        form->CDSetLijekovi->post();

        // The data file's place is taken by a folder: it cannot be replaced.
        QVERIFY(QFile::remove(fx.dataFile()));
        QVERIFY(QDir(fx.path(".")).mkpath("Baza.xml/inside"));

        fx.shown.clear();
        fx.answers = { Answer::No }; // No: keep the window open
        QVERIFY(!form->close());
        QVERIFY(form->isVisible());
        QCOMPARE(fx.captions(), (QStringList { "Greška", "Pažnja!" }));
        QVERIFY(fx.shown[0].text.contains(QDir::toNativeSeparators(fx.dataFile())));
        QCOMPARE(fx.shown[1].text,
            QStringLiteral("Podaci nisu spremljeni.\nDa: program se zatvara bez spremanja.\nNe: "
                           "program ostaje otvoren.\nZatvoriti program bez spremanja?"));
        // Enter by reflex, straight after the error box, must keep the entries.
        QCOMPARE(fx.shown[1].style, toolkit::MessageBoxStyle::YesNoDefaultNo);
        QCOMPARE(form->CDSetLijekovi->recordCount(), 2);

        // The user frees the place and closes again: everything is saved.
        QVERIFY(QDir(fx.dataFile()).removeRecursively());
        QVERIFY(form->close());
        QCOMPARE(fx.savedNames(), (QStringList { "A", "B" }));

        // Answering Yes closes without saving.
        FormFixture fx2;
        TForm1 *form2 = fx2.start();
        QVERIFY(QFile::remove(fx2.dataFile()));
        QVERIFY(QDir(fx2.path(".")).mkpath("Baza.xml/inside"));
        fx2.answers = { Answer::Yes };
        QVERIFY(form2->close());
        QVERIFY(!form2->isVisible());
    }

    // The same on the real boxes, answered as a hurried user does: Enter on
    // the error box and Enter again on the question that follows it.
    void enterOnEveryBoxOfAFailedCloseKeepsTheEntries()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } } });
        TForm1 *form = fx.start();
        form->CDSetLijekovi->insert();
        form->StringField2->setAsString("B");
        form->CDSetLijekovi->post();
        QVERIFY(QFile::remove(fx.dataFile()));
        QVERIFY(QDir(fx.path(".")).mkpath("Baza.xml/inside"));

        toolkit::setMessageBoxHandler({});
        QStringList boxes;
        testsupport::ModalPoller enter([&](QWidget *box) {
            boxes << box->windowTitle();
            QTest::keyClick(box, Qt::Key_Return);
            return false;
        });
        const bool closed = form->close();
        enter.stop();
        QVERIFY(!enter.expired());
        QCOMPARE(boxes, (QStringList { "Greška", "Pažnja!" }));
        QVERIFY(!closed);
        QVERIFY(form->isVisible());
        QCOMPARE(form->CDSetLijekovi->recordCount(), 2);

        QVERIFY(QDir(fx.dataFile()).removeRecursively());
        QVERIFY(form->close());
        QCOMPARE(fx.savedNames(), (QStringList { "A", "B" }));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"

// The record commands as a person uses them: typing entries in tab order,
// the carry-over fields, Delete, Erase, browsing, leaving the grid.
#include "tests/app/formfixture.h"
#include "tests/support/modalpoller.h"

#include "toolkit/bitbtn.h"
#include "toolkit/datasource.h"
#include "toolkit/dbedit.h"
#include "toolkit/dbgrid.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

using Answer = toolkit::MessageBoxAnswer;

using store::ClientDataSet;

namespace {

// Types `text` into the focused box and leaves it with Tab, as a user does.
void typeAndTab(const QString &text)
{
    QWidget *w = QApplication::focusWidget();
    QVERIFY(w);
    if (!text.isEmpty())
        typeText(w, text);
    QTest::keyClick(w, Qt::Key_Tab);
}

QStringList column(const ClientDataSet &ds, const char *field)
{
    QStringList values;
    const int f = store::fieldIndex(QString::fromLatin1(field));
    for (const store::Record &r : ds.records())
        values << (store::textSlot(f) >= 0
                ? r.text(f)
                : (r.number(f) ? QString::number(*r.number(f)) : QString()));
    return values;
}

} // namespace

class TestCommands : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void entryLoopOverThreeRecords()
    {
        QLocale::setDefault(QLocale("hr_HR"));
        FormFixture fx;
        TForm1 *form = fx.start();
        auto *ds = form->CDSetLijekovi;
        form->DBEditTar_br->setFocus();

        // The first entry, every box in tab order.
        const QStringList first { "3004", "Ljekarna Šalata", "Kardiozid", "digoksin", "c01aa05",
            "Pliva", "Ivo Ivić", "P-1", "kom", "2,5", "EUR", "12,75", "dr. Horvat", "KB Dubrava",
            "10000", "Zagreb", "Ilica 1" };
        for (const QString &value : first)
            typeAndTab(value);
        QCOMPARE(QApplication::focusWidget(), form->DBEditTar_br);
        QCOMPARE(ds->state(), ClientDataSet::Insert);
        QCOMPARE(ds->recordCount(), 1);
        QCOMPARE(form->lblNumOfRecords->text(), QStringLiteral("1"));

        // The next two: the carry-over boxes already hold the first's values,
        // so the user passes them with Tab.
        for (const char *naziv : { "Aspirin", "Brufen" }) {
            QCOMPARE(form->DBEditLjekarna->text(), QStringLiteral("Ljekarna Šalata"));
            QCOMPARE(form->DBEditProizvodjac->text(), QStringLiteral("Pliva"));
            QCOMPARE(form->DBEditValuta->text(), QStringLiteral("EUR"));
            QCOMPARE(form->DBEditJed_mjere->text(), QStringLiteral("kom"));
            QCOMPARE(form->DBEditNaziv->text(), QString());
            typeAndTab("1");
            typeAndTab("");
            typeAndTab(naziv);
            for (int i = 3; i < 17; ++i)
                typeAndTab("");
            QCOMPARE(QApplication::focusWidget(), form->DBEditTar_br);
        }
        QCOMPARE(ds->recordCount(), 3);
        QCOMPARE(form->lblNumOfRecords->text(),
            QStringLiteral("3")); // the pending fourth is not counted
        QCOMPARE(column(*ds, "Naziv"), (QStringList { "Kardiozid", "Aspirin", "Brufen" }));
        QCOMPARE(column(*ds, "Ljekarna"), QStringList(3, "Ljekarna Šalata"));
        QCOMPARE(column(*ds, "Proizvodjac"), QStringList(3, "Pliva"));
        QCOMPARE(column(*ds, "Valuta"), QStringList(3, "EUR"));
        QCOMPARE(column(*ds, "Jed_mjere"), QStringList(3, "kom"));
        QCOMPARE(column(*ds, "ATK"), (QStringList { "C01AA05", "", "" }));
        QCOMPARE(column(*ds, "Kolicina"), (QStringList { "2.5", "", "" }));
        QCOMPARE(column(*ds, "Cijena"), (QStringList { "12.75", "", "" }));
        QCOMPARE(column(*ds, "Adresa"), (QStringList { "Ilica 1", "", "" }));
        QVERIFY(form->BitBtnDel->isEnabled());

        // Closing leaves the three named entries in the file, in order.
        QVERIFY(form->close());
        QCOMPARE(fx.savedNames(), (QStringList { "Kardiozid", "Aspirin", "Brufen" }));
    }

    void leavingTheAddressBoxAtTheLimit()
    {
        FormFixture fx;
        fx.writeRegister(10000);
        TForm1 *form = fx.start();
        auto *ds = form->CDSetLijekovi;
        fx.shown.clear();
        form->DBEditAdresa->setFocus();
        QTest::keyClick(form->DBEditAdresa, Qt::Key_Tab);
        QCOMPARE(fx.texts(), QStringList { limitMessage });
        QCOMPARE(ds->state(), ClientDataSet::Browse);
        QCOMPARE(ds->rowCount(), 10000);
        QVERIFY(!form->BitBtnAdd->isEnabled());
    }

    // After each command that changes the number of records the limit is
    // checked again: the message only at the limit, and the Add button
    // enabled exactly when there is room. At the limit Add is already
    // disabled from the start, so a click on it does nothing.
    void recordLimitAfterACommand_data()
    {
        QTest::addColumn<int>("records");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QList<Answer>>("answers");
        QTest::addColumn<int>("recordsAfter");
        QTest::addColumn<bool>("limitShown");
        QTest::addColumn<bool>("addEnabled");
        QTest::addColumn<bool>("focusInTarBr");
        const QList<Answer> yes { Answer::Yes, Answer::Yes };
        const QList<Answer> no { Answer::No };
        QTest::newRow("Add at 9999")
            << 9999 << "BitBtnAdd" << QList<Answer> {} << 9999 << false << true << true;
        QTest::newRow("Add at 10000 (disabled)")
            << 10000 << "BitBtnAdd" << QList<Answer> {} << 10000 << false << false << false;
        QTest::newRow("Delete at 9999")
            << 9999 << "BitBtnDel" << QList<Answer> {} << 9998 << false << true << true;
        QTest::newRow("Delete at 10000")
            << 10000 << "BitBtnDel" << QList<Answer> {} << 9999 << false << true << true;
        QTest::newRow("Erase, Yes, at 9999")
            << 9999 << "BitBtnErase" << yes << 0 << false << true << true;
        QTest::newRow("Erase, Yes, at 10000")
            << 10000 << "BitBtnErase" << yes << 0 << false << true << true;
        QTest::newRow("Erase, No, at 9999")
            << 9999 << "BitBtnErase" << no << 9999 << false << true << true;
        QTest::newRow("Erase, No, at 10000")
            << 10000 << "BitBtnErase" << no << 10000 << true << false << true;
    }

    void recordLimitAfterACommand()
    {
        QFETCH(int, records);
        QFETCH(QString, command);
        QFETCH(QList<Answer>, answers);
        QFETCH(int, recordsAfter);
        QFETCH(bool, limitShown);
        QFETCH(bool, addEnabled);
        QFETCH(bool, focusInTarBr);
        FormFixture fx;
        fx.writeRegister(records);
        TForm1 *form = fx.start();
        QCOMPARE(form->BitBtnAdd->isEnabled(), records < 10000);
        form->DBEditNaziv->setFocus();
        fx.shown.clear();
        fx.answers.assign(answers.begin(), answers.end());
        QTest::mouseClick(form->Panel1->findChild<toolkit::BitBtn *>(command), Qt::LeftButton);
        QCOMPARE(form->CDSetLijekovi->recordCount(), recordsAfter);
        QCOMPARE(fx.texts().count(limitMessage), limitShown ? 1 : 0);
        if (limitShown) {
            QCOMPARE(fx.texts().last(), limitMessage);
            QCOMPARE(fx.shown.back().caption, QStringLiteral("Greška"));
        }
        QCOMPARE(form->BitBtnAdd->isEnabled(), addEnabled);
        QVERIFY(fx.answers.empty());
        QCOMPARE(QApplication::focusWidget() == form->DBEditTar_br, focusInTarBr);
    }

    void leavingTheAddressBoxByClick()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } } });
        TForm1 *form = fx.start();
        form->DBEditAdresa->setFocus();
        typeText(form->DBEditAdresa, "Ilica 2");
        QTest::mouseClick(form->DBEditMjesto, Qt::LeftButton);
        QCOMPARE(form->CDSetLijekovi->recordCount(), 1);
        QCOMPARE(form->CDSetLijekovi->state(), ClientDataSet::Insert);
        QCOMPARE(QApplication::focusWidget(), form->DBEditTar_br);
        QCOMPARE(column(*form->CDSetLijekovi, "Adresa"), QStringList { "Ilica 2" });
    }

    void losingActivationIsNotLeaving()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } } });
        TForm1 *form = fx.start();
        form->DBEditAdresa->setFocus();
        typeText(form->DBEditAdresa, "x");
        switchAwayAndBack(form);
        QCOMPARE(form->CDSetLijekovi->state(), ClientDataSet::Edit);
        QCOMPARE(form->CDSetLijekovi->rowCount(), 1);
    }

    void deleteRecords_data()
    {
        QTest::addColumn<QList<Values>>("records");
        QTest::addColumn<bool>("pendingNew");
        QTest::addColumn<QStringList>("left");
        QTest::addColumn<bool>("deleteEnabled");
        QTest::addColumn<ClientDataSet::State>("state");
        QTest::newRow("the only record")
            << QList<Values> { { { "Naziv", "A" }, { "Ljekarna", "L" }, { "Valuta", "EUR" } } }
            << false << QStringList {} << false << ClientDataSet::Insert;
        QTest::newRow("one of two")
            << QList<Values> { { { "Naziv", "A" } }, { { "Naziv", "B" } } } << false
            << QStringList { "A" } << true << ClientDataSet::Browse;
        QTest::newRow("a pending new record")
            << QList<Values> { { { "Naziv", "A" } }, { { "Naziv", "B" } } } << true
            << QStringList { "A", "B" } << true << ClientDataSet::Browse;
    }

    void deleteRecords()
    {
        QFETCH(QList<Values>, records);
        QFETCH(bool, pendingNew);
        QFETCH(QStringList, left);
        QFETCH(bool, deleteEnabled);
        QFETCH(ClientDataSet::State, state);
        FormFixture fx;
        fx.writeRegister(records);
        TForm1 *form = fx.start();
        auto *ds = form->CDSetLijekovi;
        // Remember carry-over values by posting the current record unchanged in content.
        ds->edit();
        form->StringField2->setAsString(form->StringField2->asString());
        ds->post();
        if (pendingNew)
            QTest::mouseClick(form->BitBtnAdd, Qt::LeftButton);
        QVERIFY(form->BitBtnDel->isEnabled());
        QTest::mouseClick(form->BitBtnDel, Qt::LeftButton);
        QCOMPARE(column(*ds, "Naziv"), left);
        QCOMPARE(form->BitBtnDel->isEnabled(), deleteEnabled);
        QCOMPARE(ds->state(), state);
        QCOMPARE(QApplication::focusWidget(), form->DBEditTar_br);
        QCOMPARE(form->lblNumOfRecords->text(), QString::number(left.size()));
        if (left.isEmpty()) {
            // The new record starts with the values remembered from the last post.
            QCOMPARE(form->StringField1->asString(), QStringLiteral("L"));
            QCOMPARE(form->CDSetLijekoviValuta->asString(), QStringLiteral("EUR"));
            QCOMPARE(form->StringField2->asString(), QString());
        }
        QVERIFY(fx.boxes.unexpected.isEmpty());
    }

    void erase_data()
    {
        QTest::addColumn<QList<Answer>>("answers");
        QTest::addColumn<int>("questions");
        QTest::addColumn<bool>("erased");
        QTest::newRow("No at the first question") << QList<Answer> { Answer::No } << 1 << false;
        QTest::newRow("No at the second question")
            << QList<Answer> { Answer::Yes, Answer::No } << 2 << false;
        QTest::newRow("Yes twice") << QList<Answer> { Answer::Yes, Answer::Yes } << 2 << true;
    }

    void erase()
    {
        QFETCH(QList<Answer>, answers);
        QFETCH(int, questions);
        QFETCH(bool, erased);
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" }, { "Ljekarna", "L" } },
            { { "Naziv", "B" }, { "Ljekarna", "L" } } });
        TForm1 *form = fx.start();
        auto *ds = form->CDSetLijekovi;
        ds->edit(); // remember carry-over values
        form->StringField2->setAsString("B2");
        ds->post();
        const QByteArray fileBefore = readFile(fx.dataFile());
        fx.shown.clear();
        fx.answers.assign(answers.begin(), answers.end());
        form->DBEditNaziv->setFocus();
        QTest::mouseClick(form->BitBtnErase, Qt::LeftButton);

        QStringList expectedTexts { QStringLiteral("Praznim baze?"),
            QStringLiteral("Jeste li SIGURNI?\nNakon ovog nema povratka!") };
        expectedTexts = expectedTexts.mid(0, questions);
        if (erased)
            expectedTexts << QStringLiteral("Baze prezne!");
        QCOMPARE(fx.texts(), expectedTexts);
        for (int i = 0; i < questions; ++i) {
            QCOMPARE(fx.shown[size_t(i)].caption, QStringLiteral("Pažnja!"));
            // Enter pressed by reflex answers No: the safe answer is the default.
            QCOMPARE(fx.shown[size_t(i)].style, toolkit::MessageBoxStyle::YesNoDefaultNo);
        }
        QCOMPARE(QApplication::focusWidget(), form->DBEditTar_br);
        if (!erased) {
            QCOMPARE(ds->recordCount(), 2);
            QCOMPARE(readFile(fx.dataFile()), fileBefore);
            return;
        }
        QCOMPARE(fx.shown.back().caption, QString()); // the platform's own caption
        QCOMPARE(fx.shown.back().style, toolkit::MessageBoxStyle::Ok);
        QCOMPARE(ds->recordCount(), 0);
        QVERIFY(store::loadDataPacketFile(fx.dataFile()).empty());
        QVERIFY(form->BitBtnDel->isEnabled()); // Erase leaves it as it was

        // The first record typed afterwards starts blank: the carry-over is gone.
        typeText(form->DBEditTar_br, "7");
        QCOMPARE(ds->state(), ClientDataSet::Insert);
        QCOMPARE(form->StringField1->asString(), QString());
        QCOMPARE(form->DBEditLjekarna->text(), QString());
    }

    void eraseAnsweredInARealBox()
    {
        // The production path: a real modal box, answered by a click.
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } } });
        TForm1 *form = fx.start();
        toolkit::setMessageBoxHandler({});
        QStringList seen;
        testsupport::ModalPoller answer([&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            if (!box)
                return false;
            seen << box->windowTitle() + "|" + box->text();
            for (QAbstractButton *b : box->buttons()) {
                if (b->text() == QStringLiteral("&Ne"))
                    QTest::mouseClick(b, Qt::LeftButton);
            }
            return true;
        });
        QTest::mouseClick(form->BitBtnErase, Qt::LeftButton);
        QVERIFY(!answer.expired());
        QCOMPARE(seen, QStringList { QStringLiteral("Pažnja!|Praznim baze?") });
        QCOMPARE(form->CDSetLijekovi->recordCount(), 1);
    }

    // Return, Return on the real boxes: each press answers the box it lands
    // on with its default, which must keep the register and its file.
    void eraseReturnReturnKeepsTheRegister()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } }, { { "Naziv", "B" } } });
        TForm1 *form = fx.start();
        const QByteArray fileBefore = readFile(fx.dataFile());
        toolkit::setMessageBoxHandler({});
        QStringList seen;
        testsupport::ModalPoller answer([&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            if (!box)
                return false;
            seen << box->text();
            QTest::keyClick(box, Qt::Key_Return);
            return false; // every box that comes gets its Return
        });
        QTest::mouseClick(form->BitBtnErase, Qt::LeftButton);
        answer.stop();
        QVERIFY(!answer.expired());
        QCOMPARE(seen, QStringList { QStringLiteral("Praznim baze?") });
        QCOMPARE(form->CDSetLijekovi->recordCount(), 2);
        QCOMPARE(readFile(fx.dataFile()), fileBefore);
    }

    // Two entries for the same patient: what was typed into the first
    // entry's box is not undone into the second one's.
    void undoNeverReachesAnotherRecord()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" }, { "Pacijent", "Ana Horvat" } },
            { { "Naziv", "B" }, { "Pacijent", "Ana Horvat" } } });
        TForm1 *form = fx.start();
        auto *ds = form->CDSetLijekovi;
        const QByteArray fileBefore = readFile(fx.dataFile());
        QTest::mouseClick(form->BitBtnFirst, Qt::LeftButton);
        QTest::mouseClick(form->DBEditPacijent, Qt::LeftButton);
        // Typed over and typed back: the same text, with history behind it.
        QTest::keyClick(form->DBEditPacijent, Qt::Key_A, Qt::ControlModifier);
        typeText(form->DBEditPacijent, "Marija Kovač");
        QTest::keyClick(form->DBEditPacijent, Qt::Key_A, Qt::ControlModifier);
        typeText(form->DBEditPacijent, "Ana Horvat");

        QTest::mouseClick(form->BitBtnNext, Qt::LeftButton);
        QCOMPARE(ds->currentRow(), 1);
        QTest::mouseClick(form->DBEditPacijent, Qt::LeftButton);
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(form->DBEditPacijent, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(form->DBEditPacijent->text(), QStringLiteral("Ana Horvat"));
        QCOMPARE(form->StringField4->asString(), QStringLiteral("Ana Horvat"));
        QCOMPARE(ds->state(), ClientDataSet::Browse);

        // Nor in a grid cell's editor: its history is that cell's only.
        auto *grid = form->DBGridLijekovi;
        const int pacijent = store::fieldIndex(u"Pacijent");
        int column = -1;
        for (int c = 0; c < grid->gridModel()->columnCount(); ++c) {
            if (grid->gridModel()->fieldOfColumn(c) == pacijent)
                column = c;
        }
        QVERIFY(column >= 0);
        grid->setFocus();
        grid->setCurrentIndex(grid->model()->index(0, column));
        QTest::keyClick(grid, Qt::Key_F2);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
        typeText(QApplication::focusWidget(), "Ana Horvat");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        grid->setCurrentIndex(grid->model()->index(1, column));
        QTest::keyClick(grid, Qt::Key_F2);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(grid->model()->index(1, column).data().toString(), QStringLiteral("Ana Horvat"));

        QVERIFY(form->close());
        QCOMPARE(readFile(fx.dataFile()), fileBefore);
    }

    // Enter presses the button that has the focus, as Space does; in a box
    // it presses none, since no button is the window's default.
    void enterOnTheFocusedButton()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } }, { { "Naziv", "B" } }, { { "Naziv", "C" } } });
        TForm1 *form = fx.start();
        auto *ds = form->CDSetLijekovi;
        fx.shown.clear();
        QCOMPARE(ds->currentRow(), 2);
        form->BitBtnFirst->setFocus(Qt::TabFocusReason);
        QTest::keyClick(form->BitBtnFirst, Qt::Key_Return);
        QCOMPARE(ds->currentRow(), 0);
        form->BitBtnNext->setFocus(Qt::TabFocusReason);
        QTest::keyClick(form->BitBtnNext, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(ds->currentRow(), 1);
        QTest::keyClick(form->BitBtnNext, Qt::Key_Space);
        QCOMPARE(ds->currentRow(), 2);

        form->DBEditNaziv->setFocus();
        QTest::keyClick(form->DBEditNaziv, Qt::Key_Return);
        QCOMPARE(ds->currentRow(), 2);
        QCOMPARE(ds->state(), ClientDataSet::Browse);
        QCOMPARE(ds->recordCount(), 3);
        QCOMPARE(QApplication::focusWidget(), form->DBEditNaziv);
        QVERIFY(fx.texts().isEmpty());
    }

    void navigation_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("expected");
        QTest::newRow("First") << "BitBtnFirst"
                               << "A";
        QTest::newRow("Prior") << "BitBtnPrev"
                               << "A";
        QTest::newRow("Next") << "BitBtnNext"
                              << "C";
        QTest::newRow("Last") << "BitBtnLast"
                              << "C";
    }

    void navigation()
    {
        QFETCH(QString, button);
        QFETCH(QString, expected);
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } }, { { "Naziv", "B" } }, { { "Naziv", "C" } } });
        TForm1 *form = fx.start();
        form->CDSetLijekovi->first();
        form->CDSetLijekovi->next(); // on B
        QTest::mouseClick(form->Panel1->findChild<toolkit::BitBtn *>(button), Qt::LeftButton);
        QCOMPARE(form->StringField2->asString(), expected);
        QCOMPARE(form->DBEditNaziv->text(), expected);
        QCOMPARE(form->DBGridLijekovi->currentIndex().row(), form->CDSetLijekovi->currentRow());
    }

    // Every move reaches the boxes at once, however many a command makes;
    // inside the bracket a long walk (the export's) puts around itself the
    // boxes stay still and show the record the walk ended on once it closes.
    void boxesFollowEveryMoveAndCatchUpAfterABracket()
    {
        FormFixture fx;
        QList<Values> records;
        for (int i = 0; i < 40; ++i)
            records << Values { { "Naziv", QStringLiteral("L%1").arg(i) },
                { "Mjesto", QStringLiteral("M%1").arg(i) } };
        fx.writeRegister(records);
        TForm1 *form = fx.start();
        form->DBEditNaziv->setFocus();
        for (form->CDSetLijekovi->first(); !form->CDSetLijekovi->eof();
             form->CDSetLijekovi->next()) {
            const int row = form->CDSetLijekovi->currentRow();
            QCOMPARE(form->DBEditNaziv->text(), QStringLiteral("L%1").arg(row));
            QCOMPARE(form->DBEditMjesto->text(), QStringLiteral("M%1").arg(row));
        }
        form->CDSetLijekovi->first();
        {
            const toolkit::ControlsDisabled quiet(*form->DataSourceLijekovi);
            for (int i = 0; i < 30; ++i)
                form->CDSetLijekovi->next();
            QCOMPARE(form->DBEditNaziv->text(), QStringLiteral("L0"));
            // The count label and the grid's current row follow every move.
            QCOMPARE(form->lblNumOfRecords->text(), QStringLiteral("40"));
            QCOMPARE(form->DBGridLijekovi->currentIndex().row(), 30);
        }
        QCOMPARE(form->DBEditNaziv->text(), QStringLiteral("L30"));
        QCOMPARE(form->DBEditMjesto->text(), QStringLiteral("M30"));
        // and typing then edits that record, not another.
        typeText(form->DBEditNaziv, "x");
        QCOMPARE(form->StringField2->asString(), QStringLiteral("L30x"));
    }

    void navigationOnAnInactiveTableDoesNothing()
    {
        FormFixture fx;
        TForm1 *form = fx.start();
        form->CDSetLijekovi->close();
        fx.shown.clear();
        for (const char *name : { "BitBtnFirst", "BitBtnPrev", "BitBtnNext", "BitBtnLast" })
            QTest::mouseClick(form->Panel1->findChild<toolkit::BitBtn *>(name), Qt::LeftButton);
        QVERIFY(fx.shown.empty());
        QCOMPARE(form->CDSetLijekovi->state(), ClientDataSet::Inactive);
    }

    void leavingTheGridPostsAnEdit()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } }, { { "Naziv", "B" } } });
        TForm1 *form = fx.start();
        auto *ds = form->CDSetLijekovi;
        auto *grid = form->DBGridLijekovi;
        grid->setFocus();
        const QModelIndex cell = grid->model()->index(0, 2);
        grid->setCurrentIndex(cell);
        QCOMPARE(ds->currentRow(), 0);
        QVERIFY(grid->model()->setData(cell, "A2"));
        QCOMPARE(ds->state(), ClientDataSet::Edit);
        QTest::mouseClick(form->DBEditMjesto, Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), form->DBEditMjesto);
        QCOMPARE(ds->state(), ClientDataSet::Browse);
        QCOMPARE(column(*ds, "Naziv"), (QStringList { "A2", "B" }));

        // A new record stays pending when the focus leaves the grid.
        QTest::mouseClick(form->BitBtnAdd, Qt::LeftButton);
        grid->setFocus();
        form->DBEditNaziv->setFocus(Qt::TabFocusReason);
        QCOMPARE(ds->state(), ClientDataSet::Insert);
    }

    void aNumberThatIsNotOneIsRefusedAtPost_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("typed");
        QTest::newRow("range in Kolicina") << "DBEditKolicina"
                                           << "1-2";
        QTest::newRow("bare exponent in Cijena") << "DBEditCijena"
                                                 << "e";
    }

    void aNumberThatIsNotOneIsRefusedAtPost()
    {
        QFETCH(QString, box);
        QFETCH(QString, typed);
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } } });
        TForm1 *form = fx.start();
        auto *ds = form->CDSetLijekovi;
        auto *edit = form->Panel1->findChild<toolkit::DBEdit *>(box);
        edit->setFocus();
        typeText(edit, typed);
        QCOMPARE(edit->text(), typed);
        fx.shown.clear();
        QTest::mouseClick(form->BitBtnAdd, Qt::LeftButton);
        QCOMPARE(fx.captions(), QStringList { "Greška" });
        // The field as the window labels it, and the text as typed.
        const QString label = QString::fromUtf8(
            store::importRecordFields()[size_t(store::fieldIndex(edit->dataField()))].label);
        QCOMPARE(fx.shown[0].text,
            QStringLiteral("Neispravan broj u polju \"%1\": \"%2\".").arg(label, typed));
        QCOMPARE(ds->state(), ClientDataSet::Edit);
        QCOMPARE(ds->rowCount(), 1);
        QCOMPARE(form->StringField2->asString(), QStringLiteral("A"));
        QCOMPARE(edit->text(), typed);
        // Corrected, the record posts.
        edit->clear();
        typeText(edit, "3");
        QTest::mouseClick(form->BitBtnAdd, Qt::LeftButton);
        QCOMPARE(ds->recordCount(), 1);
        QCOMPARE(ds->state(), ClientDataSet::Insert);
    }

    void charactersTheCodePageLacksAreRefused_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("paste");
        QTest::newRow("typed CJK") << QStringLiteral("日") << false;
        QTest::newRow("typed emoji") << QStringLiteral("\U0001F600") << false;
        QTest::newRow("pasted CJK") << QStringLiteral("ab日") << true;
        QTest::newRow("pasted tab") << QStringLiteral("a\tb") << true;
        QTest::newRow("pasted control") << QStringLiteral("a\x01"
                                                          "b")
                                        << true;
    }

    void charactersTheCodePageLacksAreRefused()
    {
        QFETCH(QString, input);
        QFETCH(bool, paste);
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } } });
        TForm1 *form = fx.start();
        form->DBEditNaziv->setFocus();
        form->DBEditNaziv->end(false);
        if (paste) {
            QApplication::clipboard()->setText(input);
            form->DBEditNaziv->paste();
        } else {
            typeText(form->DBEditNaziv, input);
        }
        QCOMPARE(form->DBEditNaziv->text(), QStringLiteral("A"));
        QCOMPARE(form->StringField2->asString(), QStringLiteral("A"));
        // Croatian letters are the code page's own.
        typeText(form->DBEditNaziv, QStringLiteral("čćžšđ"));
        QCOMPARE(form->StringField2->asString(), QStringLiteral("Ačćžšđ"));
    }
};

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"

// Finding an entry in the window with the real keys: Ctrl+F, typed text,
// Enter, F3, Shift+F3, Escape; where the cursor and the focus end up, and
// what becomes of a record that was being typed.
#include "tests/app/formfixture.h"

#include "toolkit/dbedit.h"
#include "toolkit/dbgrid.h"
#include "toolkit/findbox.h"

#include <QLineEdit>
#include <QPushButton>

using store::ClientDataSet;

namespace {

// Four entries; "saric" is in the second and the fourth. The window starts
// on the last one.
const QList<Values> Register {
    { { "Naziv", "Keppra" }, { "Pacijent", "Ivo Horvat" }, { "Mjesto", "Zagreb" } },
    { { "Naziv", "Sabril" }, { "Pacijent", "Ivana Šarić" }, { "Adresa", "Ilica 1" } },
    { { "Naziv", "Diacomit" }, { "Pacijent", "Marko Babić" }, { "Ustanova", "KBC Osijek" } },
    { { "Naziv", "Fycompa" }, { "Pacijent", "Ana Saric" }, { "Mjesto", "Đakovo" } },
};

toolkit::FindBox *findBox(TForm1 *form) { return form->findChild<toolkit::FindBox *>(); }

void pressCtrlF() { QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::ControlModifier); }

// Ctrl+F, the text typed over whatever the box held, Enter.
void searchFor(TForm1 *form, const QString &text)
{
    pressCtrlF();
    toolkit::FindBox *box = findBox(form);
    QVERIFY(box);
    // A dialog counts as active while its parent is (QWindow::isActive()),
    // so the wait is for the activation itself.
    QTRY_COMPARE(QApplication::activeWindow(), box);
    QCOMPARE(QApplication::focusWidget(), box->field());
    typeText(box->field(), text);
    QTest::keyClick(box->field(), Qt::Key_Return);
}

// Escape in the find box: it closes and the window has the keyboard again.
void closeFindBox(TForm1 *form)
{
    toolkit::FindBox *box = findBox(form);
    QTest::keyClick(box->field(), Qt::Key_Escape);
    QVERIFY(!box->isVisible());
    form->activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), form);
}

// Where the grid shows its current row, on the screen.
QRect currentRowOnScreen(const QTableView *grid)
{
    const QRect cell = grid->visualRect(grid->currentIndex());
    const QWidget *viewport = grid->viewport();
    return QRect(
        viewport->mapToGlobal(QPoint(0, cell.top())), QSize(viewport->width(), cell.height()));
}

QString naziv(const store::Record &r) { return r.text(store::fieldIndex(u"Naziv")); }

} // namespace

class TestFind : public QObject
{
    Q_OBJECT

private slots:
    void findFromAnywhere_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QStringList>("names"); // the register afterwards, posted records
        QTest::addColumn<ClientDataSet::State>("state");

        const QStringList four { "Keppra", "Sabril", "Diacomit", "Fycompa" };
        QTest::newRow("from a box") << "box"
                                    << "saric" << 1 << "DBEditPacijent"
                                    << "Šarić" << four << ClientDataSet::Browse;
        QTest::newRow("from the grid") << "grid"
                                       << "ŠARIĆ" << 1 << "DBEditPacijent"
                                       << "Šarić" << four << ClientDataSet::Browse;
        QTest::newRow("a field without a grid column")
            << "box"
            << "kbc osijek" << 2 << "DBEditUstanova"
            << "KBC Osijek" << four << ClientDataSet::Browse;
        QTest::newRow("dj for đ") << "box"
                                  << "djakovo" << 3 << "DBEditMjesto"
                                  << "Đakovo" << four << ClientDataSet::Browse;
        // The cell's text is written into the record, which the move posts.
        QTest::newRow("from a grid cell being typed in")
            << "cell"
            << "saric" << 1 << "DBEditPacijent"
            << "Šarić" << QStringList { "KeppraX", "Sabril", "Diacomit", "Fycompa" }
            << ClientDataSet::Browse;
        // Leaving the address box starts the next entry; a find jumping
        // away from it does not.
        QTest::newRow("from the address box of a new entry")
            << "address"
            << "saric" << 1 << "DBEditPacijent"
            << "Šarić" << QStringList { "Keppra", "Sabril", "Diacomit", "Fycompa", "Novi" }
            << ClientDataSet::Browse;
        // A new entry is posted when left, even with nothing typed: the
        // carry-over fields were written into it. The next save drops it.
        QTest::newRow("from a new entry with nothing typed")
            << "added"
            << "saric" << 1 << "DBEditPacijent"
            << "Šarić" << QStringList { "Keppra", "Sabril", "Diacomit", "Fycompa", "" }
            << ClientDataSet::Browse;
        // Found in the entry being typed: it stays there, not posted.
        QTest::newRow("in the new entry itself") << "address"
                                                 << "ilica 5" << 4 << "DBEditAdresa"
                                                 << "Ilica 5" << four << ClientDataSet::Insert;
    }

    void findFromAnywhere()
    {
        QFETCH(QString, from);
        QFETCH(QString, text);
        QFETCH(int, row);
        QFETCH(QString, box);
        QFETCH(QString, selected);
        QFETCH(QStringList, names);
        QFETCH(ClientDataSet::State, state);

        FormFixture fx;
        fx.writeRegister(Register);
        TForm1 *form = fx.start();
        auto *ds = form->CDSetLijekovi;
        auto *grid = form->DBGridLijekovi;
        if (from == u"box") {
            form->DBEditNaziv->setFocus();
        } else if (from == u"grid") {
            grid->setFocus();
        } else if (from == u"cell") {
            grid->setFocus();
            grid->setCurrentIndex(grid->model()->index(0, 2));
            QTest::keyClick(grid, Qt::Key_F2);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_End);
            typeText(QApplication::focusWidget(), "X");
            QVERIFY(grid->isAncestorOf(QApplication::focusWidget()));
        } else if (from == u"address" || from == u"added") {
            QTest::mouseClick(form->BitBtnAdd, Qt::LeftButton);
            if (from == u"address") {
                QTest::mouseClick(form->DBEditNaziv, Qt::LeftButton);
                typeText(form->DBEditNaziv, "Novi");
                QTest::mouseClick(form->DBEditAdresa, Qt::LeftButton);
                typeText(form->DBEditAdresa, "Ilica 5");
            }
            QCOMPARE(ds->state(), ClientDataSet::Insert);
        }
        fx.shown.clear();

        searchFor(form, text);
        toolkit::FindBox *findBox = ::findBox(form);
        QVERIFY(fx.texts().isEmpty());
        QCOMPARE(ds->currentRow(), row);
        QCOMPARE(ds->state(), state);
        QStringList posted;
        for (const store::Record &r : ds->records())
            posted << naziv(r);
        QCOMPARE(posted, names);
        // The data-change handler ran as for any move.
        QCOMPARE(form->lblNumOfRecords->text(), QString::number(names.size()));
        QCOMPARE(grid->currentIndex().row(), row);
        // The find box stands over the grid, but not over the row found.
        QVERIFY(findBox->frameGeometry().intersects(
            grid->viewport()->rect().translated(grid->viewport()->mapToGlobal(QPoint(0, 0)))));
        QVERIFY(!findBox->frameGeometry().intersects(currentRowOnScreen(grid)));
        // The box of the field found takes the focus in the window, with the
        // match selected; the find box keeps the keyboard for the next Enter.
        auto *found = form->findChild<toolkit::DBEdit *>(box);
        QVERIFY(found);
        QCOMPARE(form->focusWidget(), found);
        QCOMPARE(found->selectedText(), selected);
        QVERIFY(findBox->isVisible());
        QCOMPARE(QApplication::focusWidget(), findBox->field());

        // A click into the box found: the user works on the match, and
        // closing the find box leaves the keyboard there.
        QTest::mouseClick(found, Qt::LeftButton);
        closeFindBox(form);
        QCOMPARE(QApplication::focusWidget(), found);
        QCOMPARE(ds->currentRow(), row);
        QCOMPARE(ds->state(), state);
        QCOMPARE(ds->recordCount(), names.size());
        QVERIFY(fx.texts().isEmpty());
    }

    void escapeReturnsToWhereTheFindBegan_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<bool>("byButton"); // "Zatvori" instead of Escape
        for (const char *from : { "box", "grid", "entry", "added" }) {
            QTest::addRow("%s, Escape", from) << QString::fromLatin1(from) << false;
            QTest::addRow("%s, Zatvori", from) << QString::fromLatin1(from) << true;
        }
    }

    // Ctrl+F in the middle of an entry, a match in an old record, then the
    // find box closed: the keyboard is back in the record and the box it
    // was in, caret where it was, and what is typed next goes on with the
    // entry. The old record found is left as it was.
    void escapeReturnsToWhereTheFindBegan()
    {
        QFETCH(QString, from);
        QFETCH(bool, byButton);
        FormFixture fx;
        fx.writeRegister(Register);
        TForm1 *form = fx.start();
        auto *ds = form->CDSetLijekovi;
        auto *grid = form->DBGridLijekovi;
        QWidget *origin = nullptr;
        int originRow = 3;
        if (from == u"box") {
            // In an old record's box, caret in the middle of its text.
            QTest::mouseClick(form->BitBtnFirst, Qt::LeftButton);
            form->DBEditPacijent->setFocus();
            form->DBEditPacijent->setCursorPosition(3);
            origin = form->DBEditPacijent;
            originRow = 0;
        } else if (from == u"grid") {
            grid->setFocus();
            grid->setCurrentIndex(grid->model()->index(0, 2));
            origin = grid;
            originRow = 0;
        } else {
            QTest::mouseClick(form->BitBtnAdd, Qt::LeftButton);
            if (from == u"entry") {
                QTest::mouseClick(form->DBEditNaziv, Qt::LeftButton);
                typeText(form->DBEditNaziv, "Novi");
                QTest::mouseClick(form->DBEditPacijent, Qt::LeftButton);
                typeText(form->DBEditPacijent, "Petar Pe");
                form->DBEditPacijent->setCursorPosition(5);
                origin = form->DBEditPacijent;
            } else {
                origin = form->DBEditTar_br;
            }
            originRow = 4;
        }
        const QString originText
            = qobject_cast<QLineEdit *>(origin) ? qobject_cast<QLineEdit *>(origin)->text() : "";
        const int originCursor = qobject_cast<QLineEdit *>(origin)
            ? qobject_cast<QLineEdit *>(origin)->cursorPosition()
            : -1;
        fx.shown.clear();

        searchFor(form, "saric");
        QCOMPARE(ds->currentRow(), 1);
        QCOMPARE(form->focusWidget(), form->DBEditPacijent);
        QCOMPARE(form->DBEditPacijent->selectedText(), QStringLiteral("Šarić"));
        const std::vector<store::Record> found = { ds->records().at(1) };

        toolkit::FindBox *box = findBox(form);
        if (byButton)
            QTest::mouseClick(box->closeButton(), Qt::LeftButton);
        else
            QTest::keyClick(box->field(), Qt::Key_Escape);
        QVERIFY(!box->isVisible());
        QTRY_COMPARE(QApplication::activeWindow(), form);
        QCOMPARE(ds->currentRow(), originRow);
        QCOMPARE(QApplication::focusWidget(), origin);
        if (auto *edit = qobject_cast<QLineEdit *>(origin)) {
            QCOMPARE(edit->text(), originText);
            QCOMPARE(edit->cursorPosition(), originCursor);
            QVERIFY(!edit->hasSelectedText());
        } else {
            QCOMPARE(grid->currentIndex(), grid->model()->index(0, 2));
        }

        // The next keys go on where the user left off, never into the match.
        if (from == u"entry") {
            typeText(form->DBEditPacijent, "X");
            QCOMPARE(form->StringField4->asString(), QStringLiteral("PetarX Pe"));
        } else if (from == u"added") {
            typeText(form->DBEditTar_br, "77");
            QCOMPARE(form->CDSetLijekoviTar_br->asString(), QStringLiteral("77"));
            QTest::mouseClick(form->DBEditNaziv, Qt::LeftButton);
            typeText(form->DBEditNaziv, "Novi");
        } else if (from == u"box") {
            typeText(form->DBEditPacijent, "X");
            QCOMPARE(form->StringField4->asString(), QStringLiteral("IvoX Horvat"));
        }
        QCOMPARE(ds->currentRow(), originRow);
        QCOMPARE(ds->records().at(1), found.front());
        QVERIFY(fx.texts().isEmpty());

        // And so into the file.
        QVERIFY(form->close());
        const std::vector<store::Record> saved = store::loadDataPacketFile(fx.dataFile());
        QCOMPARE(saved.at(1), found.front());
        if (from == u"entry" || from == u"added")
            QCOMPARE(saved.size(), size_t(5));
        if (from == u"entry") {
            QCOMPARE(saved.at(4).text(store::fieldIndex(u"Pacijent")), QStringLiteral("PetarX Pe"));
        }
    }

    void f3AndShiftF3RepeatWithTheBoxClosed()
    {
        FormFixture fx;
        fx.writeRegister(Register);
        TForm1 *form = fx.start();
        auto *ds = form->CDSetLijekovi;
        form->DBEditNaziv->setFocus();
        fx.shown.clear();

        // With nothing searched yet, F3 opens the box.
        QTest::keyClick(form->DBEditNaziv, Qt::Key_F3);
        QVERIFY(findBox(form));
        QTRY_COMPARE(QApplication::activeWindow(), findBox(form));
        QCOMPARE(ds->currentRow(), 3);
        closeFindBox(form);

        searchFor(form, "saric");
        QCOMPARE(ds->currentRow(), 1);
        // Clicked into, the match is where the user goes on.
        QTest::mouseClick(form->DBEditPacijent, Qt::LeftButton);
        closeFindBox(form);
        QCOMPARE(QApplication::focusWidget(), form->DBEditPacijent);

        const auto press = [&](Qt::KeyboardModifiers modifiers) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_F3, modifiers);
        };
        press(Qt::NoModifier);
        QCOMPARE(ds->currentRow(), 3);
        QCOMPARE(form->DBEditPacijent->selectedText(), QStringLiteral("Saric"));
        press(Qt::NoModifier); // past the last round to the first
        QCOMPARE(ds->currentRow(), 1);
        QCOMPARE(form->DBEditPacijent->selectedText(), QStringLiteral("Šarić"));
        press(Qt::ShiftModifier); // back past the first round to the last
        QCOMPARE(ds->currentRow(), 3);
        press(Qt::ShiftModifier);
        QCOMPARE(ds->currentRow(), 1);
        QCOMPARE(QApplication::focusWidget(), form->DBEditPacijent);
        QVERIFY(!findBox(form)->isVisible());

        // From the grid, too, and from a box whose exit starts a new entry.
        form->DBGridLijekovi->setFocus();
        press(Qt::NoModifier);
        QCOMPARE(ds->currentRow(), 3);
        QCOMPARE(QApplication::focusWidget(), form->DBEditPacijent);
        form->DBEditAdresa->setFocus();
        press(Qt::ShiftModifier);
        QCOMPARE(ds->currentRow(), 1);
        QCOMPARE(QApplication::focusWidget(), form->DBEditPacijent);
        QCOMPARE(ds->state(), ClientDataSet::Browse);
        QCOMPARE(ds->rowCount(), 4);
        QVERIFY(fx.texts().isEmpty());
    }

    void enterAndShiftF3InTheBox()
    {
        FormFixture fx;
        fx.writeRegister(Register);
        TForm1 *form = fx.start();
        auto *ds = form->CDSetLijekovi;
        form->DBEditNaziv->setFocus();
        searchFor(form, "ic");
        // Horvat has no "ic": Šarić, Babić, Saric in turn, round and back.
        QCOMPARE(ds->currentRow(), 1);
        QLineEdit *field = findBox(form)->field();
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(ds->currentRow(), 2);
        QCOMPARE(form->focusWidget(), form->DBEditPacijent);
        QCOMPARE(form->DBEditPacijent->selectedText(), QStringLiteral("ić"));
        QTest::mouseClick(findBox(form)->findNextButton(), Qt::LeftButton);
        QCOMPARE(ds->currentRow(), 3);
        QTest::keyClick(field, Qt::Key_F3);
        QCOMPARE(ds->currentRow(), 1);
        QTest::keyClick(field, Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(ds->currentRow(), 3);
        QCOMPARE(QApplication::activeWindow(), findBox(form));
    }

    void noMatch()
    {
        FormFixture fx;
        fx.writeRegister(Register);
        TForm1 *form = fx.start();
        auto *ds = form->CDSetLijekovi;
        // A new entry being typed stays as it is: nothing moved.
        QTest::mouseClick(form->BitBtnAdd, Qt::LeftButton);
        typeText(form->DBEditTar_br, "3004");
        fx.shown.clear();

        searchFor(form, "Zrinski");
        QCOMPARE(fx.shown.size(), size_t(1));
        QCOMPARE(fx.shown[0].text, QStringLiteral("Nije pronađeno: „Zrinski“."));
        QCOMPARE(fx.shown[0].caption, QStringLiteral("Poruka"));
        QCOMPARE(fx.shown[0].style, toolkit::MessageBoxStyle::Ok);
        QCOMPARE(ds->state(), ClientDataSet::Insert);
        QCOMPARE(ds->currentRow(), 4);
        QCOMPARE(ds->recordCount(), 4);
        QCOMPARE(form->DBEditTar_br->text(), QStringLiteral("3004"));
        QCOMPARE(form->focusWidget(), form->DBEditTar_br);

        // F3 with the box closed says the same.
        closeFindBox(form);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F3);
        QCOMPARE(fx.texts().size(), 2);
        QCOMPARE(fx.texts().last(), QStringLiteral("Nije pronađeno: „Zrinski“."));
        QCOMPARE(ds->state(), ClientDataSet::Insert);
        QCOMPARE(QApplication::focusWidget(), form->DBEditTar_br);
    }

    // A record that cannot be posted keeps the cursor, as a click in the
    // grid would: the user is told why.
    void aRecordThatCannotBePostedStays()
    {
        FormFixture fx;
        fx.writeRegister(Register);
        TForm1 *form = fx.start();
        auto *ds = form->CDSetLijekovi;
        QTest::mouseClick(form->DBEditKolicina, Qt::LeftButton);
        typeText(form->DBEditKolicina, "1e");
        fx.shown.clear();

        searchFor(form, "saric");
        QCOMPARE(fx.captions(), QStringList { QStringLiteral("Greška") });
        QCOMPARE(ds->currentRow(), 3);
        QCOMPARE(ds->state(), ClientDataSet::Edit);
        QCOMPARE(form->DBEditKolicina->text(), QStringLiteral("1e"));
    }

    void theBoxMovesNothingAndGoesWithTheWindow()
    {
        FormFixture fx;
        fx.writeRegister(Register);
        TForm1 *form = fx.start();
        QHash<QWidget *, QRect> before;
        for (QWidget *w : form->findChildren<QWidget *>())
            before[w] = w->geometry();
        form->DBEditNaziv->setFocus();
        pressCtrlF();
        toolkit::FindBox *box = findBox(form);
        QVERIFY(box);
        QVERIFY(box->isWindow());
        QVERIFY(!box->isModal());
        for (QWidget *w : form->findChildren<QWidget *>()) {
            if (w != box && !box->isAncestorOf(w))
                QCOMPARE(w->geometry(), before.value(w));
        }
        QVERIFY(form->close());
        QVERIFY(!box->isVisible());
    }
};

QTEST_MAIN(TestFind)
#include "tst_find.moc"

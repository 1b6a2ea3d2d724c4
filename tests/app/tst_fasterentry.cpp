// Faster entry in the real window, with the real keys: the lists of values
// from the register under the boxes, a picked medicine filling in its
// details, and Ctrl+Z bringing back what Izbriši deleted.
#include "tests/app/formfixture.h"

#include "store/journal.h"
#include "toolkit/dbedit.h"
#include "toolkit/suggestionlist.h"

#include <QListWidget>

using store::ClientDataSet;
using toolkit::DBEdit;
using toolkit::SuggestionList;

namespace {

// Two entries of Keppra (the later one with its ATK code in small letters,
// as an older file may hold it), and two others. The window starts on the
// last one.
const QList<Values> Register {
    { { "Naziv", "Keppra 500 mg tbl." }, { "Gen_ime", "levetiracetam" }, { "ATK", "N03AX14" },
        { "Proizvodjac", "UCB Pharma" }, { "Jed_mjere", "kom" }, { "Mjesto", "Šibenik" },
        { "Ljekarna", "Ljekarna Čakovec" } },
    { { "Naziv", "Sabril 500 mg gran." }, { "Gen_ime", "vigabatrin" }, { "ATK", "N03AG04" },
        { "Proizvodjac", "Sanofi-Aventis" }, { "Jed_mjere", "vrećica" }, { "Mjesto", "Split" } },
    { { "Naziv", "Keppra 500 mg tbl." }, { "Gen_ime", "levetiracetam" }, { "ATK", "n03ax14" },
        { "Proizvodjac", "UCB Pharma S.A." }, { "Jed_mjere", "tbl" }, { "Mjesto", "Sisak" } },
    { { "Naziv", "Frisium 10 mg" }, { "Gen_ime", "klobazam" }, { "ATK", "N05BA09" },
        { "Proizvodjac", "Sanofi-Aventis" }, { "Jed_mjere", "kom" }, { "Mjesto", "Zadar" } },
};

// The window started, and active, as a user's window is once it shows.
TForm1 *start(FormFixture &fx)
{
    TForm1 *form = fx.start();
    if (!QTest::qWaitForWindowActive(form))
        qWarning("the window was not activated");
    return form;
}

void typeInto(DBEdit *box, const QString &text)
{
    box->setFocus();
    QCOMPARE(QApplication::focusWidget(), box);
    typeText(box, text);
}

SuggestionList *listOf(DBEdit *box) { return SuggestionList::of(box); }

void key(int k, Qt::KeyboardModifiers modifiers = {})
{
    QTest::keyClick(QApplication::focusWidget(), Qt::Key(k), modifiers);
}

QStringList names(const std::vector<store::Record> &rows)
{
    QStringList out;
    for (const store::Record &r : rows)
        out << r.text(store::fieldIndex(u"Naziv"));
    return out;
}

} // namespace

class TestFasterEntry : public QObject
{
    Q_OBJECT

private slots:
    void textBoxesOfferTheRegistersValues();
    void keysInTheWindow_data();
    void keysInTheWindow();
    void pickedMedicineFillsIn_data();
    void pickedMedicineFillsIn();
    void ctrlZBringsBackDeletedRecords();
    void ctrlZInABoxUndoesTheBoxFirst();
    void ctrlZAfterTheLastRecordWasDeleted();
    void ctrlZBackToTheLimitRunsTheLimitCheck();
    void anotherChangeEndsWhatCanBeBroughtBack_data();
    void anotherChangeEndsWhatCanBeBroughtBack();
};

void TestFasterEntry::textBoxesOfferTheRegistersValues()
{
    FormFixture fx;
    fx.writeRegister(Register);
    TForm1 *form = start(fx);
    // Every box but the two numbers has a list.
    for (DBEdit *box : form->Panel1->findChildren<DBEdit *>()) {
        const bool number = box == form->DBEditKolicina || box == form->DBEditCijena;
        QVERIFY2(bool(listOf(box)) != number, qPrintable(box->objectName()));
    }
    QTest::mouseClick(form->BitBtnAdd, Qt::LeftButton);
    // Diacritics and case aside, the most recently entered first.
    typeInto(form->DBEditMjesto, "s");
    QVERIFY(listOf(form->DBEditMjesto)->isShown());
    QCOMPARE(listOf(form->DBEditMjesto)->values(), (QStringList { "Sisak", "Split", "Šibenik" }));
    typeText(form->DBEditMjesto, "ib");
    QCOMPARE(listOf(form->DBEditMjesto)->values(), QStringList { "Šibenik" });
    // Each value once.
    typeInto(form->DBEditProizvodjac, "san");
    QCOMPARE(listOf(form->DBEditProizvodjac)->values(), QStringList { "Sanofi-Aventis" });
    // The list stands under its box and leaves the window as designed.
    const QRect box(
        form->DBEditProizvodjac->mapToGlobal(QPoint(0, 0)), form->DBEditProizvodjac->size());
    QCOMPARE(listOf(form->DBEditProizvodjac)->view()->geometry().topLeft(),
        box.bottomLeft() + QPoint(0, 1));
    QCOMPARE(form->DBEditProizvodjac->geometry(), QRect(320, 124, 425, 21));
    QCOMPARE(QApplication::focusWidget(), form->DBEditProizvodjac);
    // A new entry, once posted, is offered too.
    typeInto(form->DBEditNaziv, "Ospolot 200 mg tbl.");
    QTest::mouseClick(form->BitBtnAdd, Qt::LeftButton);
    typeInto(form->DBEditNaziv, "o");
    QCOMPARE(listOf(form->DBEditNaziv)->values(), QStringList { "Ospolot 200 mg tbl." });
}

void TestFasterEntry::keysInTheWindow_data()
{
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<QString>("mjesto");
    QTest::addColumn<QString>("focus");
    using K = QList<int>;
    // "s" typed into Mjesto offers Sisak, Split, Šibenik.
    QTest::newRow("Down, Enter") << K { Qt::Key_Down, Qt::Key_Return } << "Sisak"
                                 << "DBEditMjesto";
    QTest::newRow("Down, Down, Tab") << K { Qt::Key_Down, Qt::Key_Down, Qt::Key_Tab } << "Split"
                                     << "DBEditAdresa";
    QTest::newRow("Escape") << K { Qt::Key_Down, Qt::Key_Escape } << "s"
                            << "DBEditMjesto";
    QTest::newRow("Escape, Enter") << K { Qt::Key_Escape, Qt::Key_Return } << "s"
                                   << "DBEditMjesto";
    QTest::newRow("typing on") << K { Qt::Key_Down, Qt::Key_P } << "sp"
                               << "DBEditMjesto";
    QTest::newRow("Tab") << K { Qt::Key_Tab } << "s"
                         << "DBEditAdresa";
}

void TestFasterEntry::keysInTheWindow()
{
    QFETCH(QList<int>, keys);
    QFETCH(QString, mjesto);
    QFETCH(QString, focus);
    FormFixture fx;
    fx.writeRegister(Register);
    TForm1 *form = start(fx);
    QTest::mouseClick(form->BitBtnAdd, Qt::LeftButton);
    typeInto(form->DBEditMjesto, "s");
    QVERIFY(listOf(form->DBEditMjesto)->isShown());
    for (int k : keys) {
        if (k == Qt::Key_P)
            typeText(QApplication::focusWidget(), "p");
        else
            key(k);
    }
    QCOMPARE(form->DBEditMjesto->text(), mjesto);
    QCOMPARE(form->CDSetLijekoviMjesto->asString(), mjesto);
    QCOMPARE(form->CDSetLijekovi->state(), ClientDataSet::Insert);
    QCOMPARE(QApplication::focusWidget()->objectName(), focus);
}

void TestFasterEntry::pickedMedicineFillsIn_data()
{
    QTest::addColumn<QString>("before"); // typed before the pick, "box=text;box=text"
    QTest::addColumn<bool>("carriedOver"); // an entry posted first leaves values to carry
    QTest::addColumn<bool>("picked"); // Naziv picked from the list, or typed in full
    QTest::addColumn<QStringList>("expected"); // Gen_ime, ATK, Proizvodjac, Jed_mjere

    // From the last Keppra: its ATK code as the box turns it, in capitals.
    const QStringList known { "levetiracetam", "N03AX14", "UCB Pharma S.A.", "tbl" };
    QTest::newRow("empty boxes") << QString() << false << true << known;
    QTest::newRow("carried-over values") << QString() << true << true << known;
    QTest::newRow("typed values stay")
        << "DBEditGen_ime=moje ime;DBEditJed_mjere=bočica" << false << true
        << QStringList { "moje ime", "N03AX14", "UCB Pharma S.A.", "bočica" };
    QTest::newRow("typed over a carried-over value")
        << "DBEditProizvodjac=Desitin GmbH" << true << true
        << QStringList { "levetiracetam", "N03AX14", "Desitin GmbH", "tbl" };
    QTest::newRow("typed in full: nothing filled")
        << QString() << false << false << QStringList { "", "", "", "" };
    QTest::newRow("typed in full after a carry-over: nothing filled")
        << QString() << true << false << QStringList { "", "", "Desitin", "bočica" };
}

void TestFasterEntry::pickedMedicineFillsIn()
{
    QFETCH(QString, before);
    QFETCH(bool, carriedOver);
    QFETCH(bool, picked);
    QFETCH(QStringList, expected);
    FormFixture fx;
    fx.writeRegister(Register);
    TForm1 *form = start(fx);
    QTest::mouseClick(form->BitBtnAdd, Qt::LeftButton);
    if (carriedOver) {
        typeInto(form->DBEditNaziv, "Ospolot 200 mg tbl.");
        typeInto(form->DBEditProizvodjac, "Desitin");
        typeInto(form->DBEditJed_mjere, "bočica");
        QTest::mouseClick(form->BitBtnAdd, Qt::LeftButton);
        QCOMPARE(form->DBEditProizvodjac->text(), QStringLiteral("Desitin"));
    }
    for (const QString &typed : before.split(u';', Qt::SkipEmptyParts)) {
        auto *box = form->findChild<DBEdit *>(typed.section(u'=', 0, 0));
        box->setFocus();
        box->selectAll();
        typeText(box, typed.section(u'=', 1));
    }
    if (picked) {
        typeInto(form->DBEditNaziv, "kep");
        QCOMPARE(listOf(form->DBEditNaziv)->values(), QStringList { "Keppra 500 mg tbl." });
        key(Qt::Key_Down);
        key(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), form->DBEditGen_ime);
    } else {
        typeInto(form->DBEditNaziv, "Keppra 500 mg tbl.");
        QVERIFY(!listOf(form->DBEditNaziv)->isShown());
        key(Qt::Key_Tab);
    }
    QCOMPARE(form->DBEditNaziv->text(), QStringLiteral("Keppra 500 mg tbl."));
    DBEdit *boxes[]
        = { form->DBEditGen_ime, form->DBEdit1, form->DBEditProizvodjac, form->DBEditJed_mjere };
    QStringList shown, stored;
    for (DBEdit *box : boxes) {
        shown << box->text();
        stored << box->field()->asString();
    }
    QCOMPARE(shown, expected);
    QCOMPARE(stored, expected);
    // As typed: the filled box's own undo takes its value back.
    if (picked && expected[0] == QLatin1String("levetiracetam")) {
        QVERIFY(form->DBEditGen_ime->isUndoAvailable());
        key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(form->DBEditGen_ime->text(), QString());
        QCOMPARE(form->CDSetLijekoviGen_ime->asString(), QString());
    }
    // And the entry is saved as shown.
    form->DBEditGen_ime->setFocus();
    QTest::mouseClick(form->BitBtnExit, Qt::LeftButton);
    const std::vector<store::Record> saved = store::loadDataPacketFile(fx.dataFile());
    QCOMPARE(saved.back().text(store::fieldIndex(u"ATK")), expected[1]);
    QCOMPARE(saved.back().text(store::fieldIndex(u"Proizvodjac")), expected[2]);
}

// Three deletes at different places, then Ctrl+Z three times: each record
// back where it stood, as the current record, in the journal at once, and
// the file after Izlaz as it was before the deletes.
void TestFasterEntry::ctrlZBringsBackDeletedRecords()
{
    FormFixture fx;
    fx.writeRegister({ { { "Naziv", "A" } }, { { "Naziv", "B" }, { "Pacijent", "Ana" } },
        { { "Naziv", "C" }, { "Kolicina", "2.5" } }, { { "Naziv", "D" } }, { { "Naziv", "E" } } });
    const QByteArray fileBefore = readFile(fx.dataFile());
    TForm1 *form = start(fx);
    ClientDataSet *ds = form->CDSetLijekovi;
    QTest::mouseClick(form->BitBtnFirst, Qt::LeftButton);
    QTest::mouseClick(form->BitBtnNext, Qt::LeftButton);
    QTest::mouseClick(form->BitBtnDel, Qt::LeftButton); // B
    QTest::mouseClick(form->BitBtnDel, Qt::LeftButton); // C
    QTest::mouseClick(form->BitBtnLast, Qt::LeftButton);
    QTest::mouseClick(form->BitBtnDel, Qt::LeftButton); // E
    QCOMPARE(names(ds->records()), (QStringList { "A", "D" }));
    QCOMPARE(form->lblNumOfRecords->text(), QStringLiteral("2"));
    QCOMPARE(QApplication::focusWidget(), form->DBEditTar_br);

    const struct
    {
        QStringList order;
        int current;
    } steps[] = {
        { { "A", "D", "E" }, 2 },
        { { "A", "C", "D", "E" }, 1 },
        { { "A", "B", "C", "D", "E" }, 1 },
    };
    for (const auto &step : steps) {
        key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(names(ds->records()), step.order);
        QCOMPARE(ds->currentRow(), step.current);
        QCOMPARE(ds->state(), ClientDataSet::Browse);
        QCOMPARE(form->DBEditNaziv->text(), step.order[step.current]);
        QCOMPARE(form->lblNumOfRecords->text(), QString::number(step.order.size()));
        QVERIFY(form->BitBtnDel->isEnabled());
        QVERIFY(form->BitBtnAdd->isEnabled());
        // In the journal at once.
        QCOMPARE(names(store::RecoveryJournal::read(form->recoveryFilePath()).rows), step.order);
    }
    // Nothing more to bring back.
    key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(ds->recordCount(), 5);
    QCOMPARE(fx.captions(), QStringList { greetingCaption });

    QTest::mouseClick(form->BitBtnExit, Qt::LeftButton);
    QCOMPARE(readFile(fx.dataFile()), fileBefore);
}

void TestFasterEntry::ctrlZInABoxUndoesTheBoxFirst()
{
    FormFixture fx;
    fx.writeRegister({ { { "Naziv", "A" } }, { { "Naziv", "B" } }, { { "Naziv", "C" } } });
    TForm1 *form = start(fx);
    ClientDataSet *ds = form->CDSetLijekovi;
    QTest::mouseClick(form->BitBtnFirst, Qt::LeftButton);
    QTest::mouseClick(form->BitBtnDel, Qt::LeftButton); // A
    QCOMPARE(QApplication::focusWidget(), form->DBEditTar_br);
    typeText(form->DBEditTar_br, "x");
    key(Qt::Key_Z, Qt::ControlModifier); // the box's own undo
    QCOMPARE(form->DBEditTar_br->text(), QString());
    QCOMPARE(names(ds->records()), (QStringList { "B", "C" }));
    key(Qt::Key_Z, Qt::ControlModifier); // the box has nothing left: the delete
    QCOMPARE(names(ds->records()), (QStringList { "A", "B", "C" }));
    QCOMPARE(ds->currentRow(), 0);
    // From a button and from the grid too.
    QTest::mouseClick(form->BitBtnDel, Qt::LeftButton);
    form->BitBtnLast->setFocus();
    key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(names(ds->records()), (QStringList { "A", "B", "C" }));
    QTest::mouseClick(form->BitBtnDel, Qt::LeftButton);
    form->DBGridLijekovi->setFocus();
    key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(names(ds->records()), (QStringList { "A", "B", "C" }));
}

// Izbriši on the only record leaves a blank new record; Ctrl+Z drops it
// and brings the record back, with Izbriši enabled again.
void TestFasterEntry::ctrlZAfterTheLastRecordWasDeleted()
{
    FormFixture fx;
    fx.writeRegister({ { { "Naziv", "A" }, { "Ljekarna", "L" } } });
    const QByteArray fileBefore = readFile(fx.dataFile());
    TForm1 *form = start(fx);
    ClientDataSet *ds = form->CDSetLijekovi;
    QTest::mouseClick(form->BitBtnDel, Qt::LeftButton);
    QCOMPARE(ds->recordCount(), 0);
    QCOMPARE(ds->state(), ClientDataSet::Insert);
    QVERIFY(!form->BitBtnDel->isEnabled());
    key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(names(ds->records()), QStringList { "A" });
    QCOMPARE(ds->state(), ClientDataSet::Browse);
    QCOMPARE(ds->currentRow(), 0);
    QVERIFY(form->BitBtnDel->isEnabled());
    QCOMPARE(form->lblNumOfRecords->text(), QStringLiteral("1"));
    QTest::mouseClick(form->BitBtnExit, Qt::LeftButton);
    QCOMPARE(readFile(fx.dataFile()), fileBefore);
}

// A record brought back counts as one added: at the limit the message
// comes again and Dodaj is disabled, as after Dodaj itself.
void TestFasterEntry::ctrlZBackToTheLimitRunsTheLimitCheck()
{
    FormFixture fx;
    fx.writeRegister(10000);
    TForm1 *form = start(fx);
    QVERIFY(!form->BitBtnAdd->isEnabled());
    QTest::mouseClick(form->BitBtnDel, Qt::LeftButton);
    QVERIFY(form->BitBtnAdd->isEnabled());
    fx.shown.clear();
    key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(form->CDSetLijekovi->recordCount(), 10000);
    QCOMPARE(fx.texts(), QStringList { limitMessage });
    QVERIFY(!form->BitBtnAdd->isEnabled());
}

void TestFasterEntry::anotherChangeEndsWhatCanBeBroughtBack_data()
{
    QTest::addColumn<int>("change");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("an entry posted: ends") << 0 << QStringList { "B", "C", "N" };
    QTest::newRow("Erase: ends") << 2 << QStringList {};
    // A save that purges nothing and a move change no record.
    QTest::newRow("an export's save: goes on") << 1 << QStringList { "A", "B", "C" };
    QTest::newRow("a move: goes on") << 3 << QStringList { "A", "B", "C" };
}

void TestFasterEntry::anotherChangeEndsWhatCanBeBroughtBack()
{
    QFETCH(int, change);
    QFETCH(QStringList, after);
    FormFixture fx;
    fx.writeRegister({ { { "Naziv", "A" } }, { { "Naziv", "B" } }, { { "Naziv", "C" } } });
    TForm1 *form = start(fx);
    ClientDataSet *ds = form->CDSetLijekovi;
    QTest::mouseClick(form->BitBtnFirst, Qt::LeftButton);
    QTest::mouseClick(form->BitBtnDel, Qt::LeftButton); // A
    switch (change) {
    case 0:
        QTest::mouseClick(form->BitBtnAdd, Qt::LeftButton);
        typeInto(form->DBEditNaziv, "N");
        QTest::mouseClick(form->BitBtnLast, Qt::LeftButton);
        break;
    case 1:
        fx.saveAnswers.push_back(std::nullopt); // the export itself is cancelled
        QTest::mouseClick(form->BitBtnExport, Qt::LeftButton);
        break;
    case 2:
        fx.answers = { toolkit::MessageBoxAnswer::Yes, toolkit::MessageBoxAnswer::Yes };
        QTest::mouseClick(form->BitBtnErase, Qt::LeftButton);
        break;
    case 3:
        QTest::mouseClick(form->BitBtnLast, Qt::LeftButton);
        break;
    }
    form->BitBtnLast->setFocus();
    key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(names(ds->records()), after);
}

QTEST_MAIN(TestFasterEntry)
#include "tst_fasterentry.moc"

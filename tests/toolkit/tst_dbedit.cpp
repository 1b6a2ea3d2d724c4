#include "tests/support/scriptedmessageboxes.h"
#include "tests/support/typing.h"
#include "tests/toolkit/tablefixture.h"
#include "toolkit/datasource.h"
#include "toolkit/dbedit.h"
#include "toolkit/fieldvalidator.h"
#include "toolkit/handlers.h"

#include "store/exception.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

using store::ClientDataSet;
using testsupport::typeText;
using toolkit::DataSource;
using toolkit::DBEdit;

// A window with one box per field under test, over a small table.
class Form
{
public:
    explicit Form(int records)
        : table(makeTable(records))
    {
        source.setDataSet(table.get());
        auto *layout = new QVBoxLayout(&window);
        for (const char *name : { "Naziv", "Tar_br", "Valuta", "ATK", "Kolicina", "Cijena" }) {
            auto *edit = new DBEdit(&window);
            edit->setObjectName(QString::fromLatin1(name));
            edit->setDataSource(&source);
            edit->setDataField(QString::fromLatin1(name));
            layout->addWidget(edit);
        }
        window.show();
        window.activateWindow();
    }
    DBEdit *edit(const char *name) { return window.findChild<DBEdit *>(QString::fromLatin1(name)); }

    std::unique_ptr<ClientDataSet> table;
    DataSource source;
    QWidget window;
};

namespace {

void paste(DBEdit *edit, const QString &text)
{
    QGuiApplication::clipboard()->setText(text);
    edit->paste();
}

void typeByInputMethod(QWidget *w, const QString &text)
{
    QInputMethodEvent event;
    event.setCommitString(text);
    QCoreApplication::sendEvent(w, &event);
}

} // namespace

class TestDBEdit : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void showsCurrentRecordAndFollowsMoves();
    void showsNumbersToTenDigits();
    void typingWritesTheRecord();
    void typingIntoEmptyRegisterStartsRecord();
    void ownWriteDoesNotResetText();
    void undoStaysWithItsRecord_data();
    void undoStaysWithItsRecord();
    void maxLengthIsFieldSize_data();
    void maxLengthIsFieldSize();
    void upperCase_data();
    void upperCase();
    void refusedCharacters_data();
    void refusedCharacters();
    void numberBoxFilter_data();
    void numberBoxFilter();
    void numberUsesTheLocaleSeparator();
    void pointIsReadOnlyAsItArrives();
    void halfTypedNumberRefusedAtPost();
    void halfTypedNumberSurvivesOtherBoxes();
    void halfTypedNumberDroppedByCancel();
    void numberReformattedOnLeaving();
    void storedCharacterOutsideCodePageStaysEditable();
};

void TestDBEdit::init() { QLocale::setDefault(QLocale::c()); }

void TestDBEdit::cleanup() { QLocale::setDefault(QLocale::system()); }

void TestDBEdit::showsCurrentRecordAndFollowsMoves()
{
    Form form(3);
    QCOMPARE(form.edit("Naziv")->text(), QStringLiteral("Lijek 1"));
    QCOMPARE(form.edit("Kolicina")->text(), QStringLiteral("1"));
    QCOMPARE(form.edit("Valuta")->text(), QString());

    form.table->next();
    QCOMPARE(form.edit("Naziv")->text(), QStringLiteral("Lijek 2"));
    form.table->last();
    QCOMPARE(form.edit("Kolicina")->text(), QStringLiteral("3"));

    form.table->edit();
    form.table->fieldByName(QStringLiteral("Naziv"))->setAsString(QStringLiteral("Promijenjeno"));
    QCOMPARE(form.edit("Naziv")->text(), QStringLiteral("Promijenjeno"));

    form.table->close();
    QCOMPARE(form.edit("Naziv")->text(), QString());
}

void TestDBEdit::showsNumbersToTenDigits()
{
    Form form(1);
    form.table->edit();
    form.table->fieldByName(QStringLiteral("Cijena"))->setAsFloat(1234.56789012345);
    form.table->post();
    QCOMPARE(form.edit("Cijena")->text(), QStringLiteral("1234.56789"));
}

void TestDBEdit::typingWritesTheRecord()
{
    Form form(2);
    form.table->next();
    DBEdit *naziv = form.edit("Naziv");
    naziv->setFocus();
    naziv->end(false);
    typeText(naziv, QStringLiteral(" forte"));
    QCOMPARE(form.table->state(), ClientDataSet::Edit);
    QCOMPARE(fieldText(*form.table, "Naziv"), QStringLiteral("Lijek 2 forte"));

    DBEdit *kolicina = form.edit("Kolicina");
    kolicina->selectAll();
    typeText(kolicina, QStringLiteral("2.5"));
    QCOMPARE(form.table->fieldByName(QStringLiteral("Kolicina"))->asFloat(), 2.5);

    form.table->post();
    QCOMPARE(form.table->records()[1].text(store::fieldIndex(u"Naziv")),
        QStringLiteral("Lijek 2 forte"));
}

void TestDBEdit::typingIntoEmptyRegisterStartsRecord()
{
    Form form(0);
    form.table->afterInsert = [&] {
        form.table->fieldByName(QStringLiteral("Valuta"))->setAsString(QStringLiteral("EUR"));
    };
    DBEdit *naziv = form.edit("Naziv");
    naziv->setFocus();
    typeText(naziv, QStringLiteral("Aspirin"));

    QCOMPARE(form.table->state(), ClientDataSet::Insert);
    QCOMPARE(form.table->rowCount(), 1);
    QCOMPARE(fieldText(*form.table, "Naziv"), QStringLiteral("Aspirin"));
    // The defaults the form filled in show in the other boxes.
    QCOMPARE(form.edit("Valuta")->text(), QStringLiteral("EUR"));
    QCOMPARE(naziv->text(), QStringLiteral("Aspirin"));
}

void TestDBEdit::undoStaysWithItsRecord_data()
{
    QTest::addColumn<QString>("move");
    QTest::newRow("next record") << "next";
    QTest::newRow("record deleted, the next one takes its row") << "delete";
    QTest::newRow("new record with the value carried over") << "insert";
    QTest::newRow("edit cancelled") << "cancel";
    QTest::newRow("table reloaded with the same records") << "reload";
}

// Text typed into a box belongs to the record it was typed in: when another
// record comes, Ctrl+Z has nothing to undo, even where that record holds the
// same value and the box's text never changed.
void TestDBEdit::undoStaysWithItsRecord()
{
    QFETCH(QString, move);
    Form form(3);
    ClientDataSet &ds = *form.table;
    store::Field *valuta = ds.fieldByName(QStringLiteral("Valuta"));
    for (int row = 0; row < 3; ++row) {
        ds.moveTo(row);
        ds.edit();
        valuta->setAsString(QStringLiteral("EUR"));
        ds.post();
    }
    ds.first();
    ds.afterInsert = [valuta] { valuta->setAsString(QStringLiteral("EUR")); };

    DBEdit *box = form.edit("Valuta");
    box->setFocus();
    // Retyped as it was: the text is the same, the box has something to undo.
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    typeText(box, QStringLiteral("EUR"));
    QVERIFY(box->isUndoAvailable());
    QCOMPARE(ds.state(), ClientDataSet::Edit);

    if (move == QLatin1String("next")) {
        ds.next();
    } else if (move == QLatin1String("delete")) {
        ds.deleteRecord();
    } else if (move == QLatin1String("insert")) {
        ds.insert();
    } else if (move == QLatin1String("cancel")) {
        ds.cancel();
    } else {
        const std::vector<store::Record> same = ds.records();
        ds.assignRecords(same);
    }
    QCOMPARE(box->text(), QStringLiteral("EUR"));
    QVERIFY(!box->isUndoAvailable());
    const auto stateBefore = ds.state();
    const int rowBefore = ds.currentRow();
    QTest::keyClick(box, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(box->text(), QStringLiteral("EUR"));
    QCOMPARE(valuta->asString(), QStringLiteral("EUR"));
    QCOMPARE(ds.state(), stateBefore);
    QCOMPARE(ds.currentRow(), rowBefore);

    // Within the record, undo still works: what is typed now can be taken back.
    QTest::keyClick(box, Qt::Key_End);
    QTest::keyClick(box, Qt::Key_Backspace);
    QCOMPARE(valuta->asString(), QStringLiteral("EU"));
    QTest::keyClick(box, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(valuta->asString(), QStringLiteral("EUR"));
}

void TestDBEdit::ownWriteDoesNotResetText()
{
    Form form(1);
    DBEdit *kolicina = form.edit("Kolicina");
    kolicina->setFocus();
    kolicina->selectAll();
    typeText(kolicina, QStringLiteral("1.50"));
    // The record holds 1.5; the box keeps what was typed.
    QCOMPARE(form.table->fieldByName(QStringLiteral("Kolicina"))->asFloat(), 1.5);
    QCOMPARE(kolicina->text(), QStringLiteral("1.50"));

    DBEdit *naziv = form.edit("Naziv");
    naziv->setFocus();
    naziv->setCursorPosition(2);
    QTest::keyClick(naziv, Qt::Key_X);
    QCOMPARE(naziv->text(), QStringLiteral("Lixjek 1"));
    // The record's change notice came back to this box; the cursor stayed put.
    QCOMPARE(naziv->cursorPosition(), 3);
    // So it does when the form's code writes another field meanwhile.
    form.table->fieldByName(QStringLiteral("Valuta"))->setAsString(QStringLiteral("EUR"));
    QCOMPARE(form.edit("Valuta")->text(), QStringLiteral("EUR"));
    QCOMPARE(naziv->cursorPosition(), 3);
}

void TestDBEdit::maxLengthIsFieldSize_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("size");
    QTest::newRow("Tar_br") << "Tar_br" << 10;
    QTest::newRow("Valuta") << "Valuta" << 3;
    QTest::newRow("Naziv") << "Naziv" << 100;
}

void TestDBEdit::maxLengthIsFieldSize()
{
    QFETCH(QString, field);
    QFETCH(int, size);
    Form form(1);
    DBEdit *edit = form.edit(qPrintable(field));
    QCOMPARE(edit->maxLength(), size);
    edit->setFocus();
    edit->selectAll();
    typeText(edit, QString(size + 5, u'A'));
    QCOMPARE(edit->text().size(), size);
    QCOMPARE(form.table->fieldByName(field)->asString(), QString(size, u'A'));

    paste(edit, QString(size + 1, u'B'));
    QCOMPARE(form.table->fieldByName(field)->asString().size(), size);
}

void TestDBEdit::upperCase_data()
{
    QTest::addColumn<bool>("pasted");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    QTest::newRow("typed") << false << "n02be01"
                           << "N02BE01";
    QTest::newRow("pasted") << true << "n02be01"
                            << "N02BE01";
    QTest::newRow("croatian letters") << false << "čćžšđ"
                                      << "ČĆŽŠĐ";
    // Their capitals are not in the code page (ß has none as one letter).
    QTest::newRow("micro and sharp s") << true << "µß"
                                       << "µß";
}

void TestDBEdit::upperCase()
{
    QFETCH(bool, pasted);
    QFETCH(QString, input);
    QFETCH(QString, expected);
    Form form(1);
    DBEdit *atk = form.edit("ATK");
    atk->setCharCase(DBEdit::Upper);
    atk->setFocus();
    if (pasted)
        paste(atk, input);
    else
        typeText(atk, input);
    QCOMPARE(atk->text(), expected);
    QCOMPARE(fieldText(*form.table, "ATK"), expected);
}

void TestDBEdit::refusedCharacters_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    // A refused character leaves the box (and the record) as they were.
    QTest::newRow("typed greek") << "typed"
                                 << "aΩb"
                                 << "Lijek 1ab";
    QTest::newRow("typed cyrillic") << "typed"
                                    << "жx"
                                    << "Lijek 1x";
    QTest::newRow("typed emoji") << "typed"
                                 << "\U0001F600"
                                 << "Lijek 1";
    QTest::newRow("typed euro sign") << "typed"
                                     << "€"
                                     << "Lijek 1€";
    QTest::newRow("pasted greek") << "pasted"
                                  << "abΩ"
                                  << "Lijek 1";
    QTest::newRow("pasted tab") << "pasted"
                                << "a\tb"
                                << "Lijek 1";
    QTest::newRow("pasted newline") << "pasted"
                                    << "a\nb"
                                    << "Lijek 1";
    QTest::newRow("pasted C1 control") << "pasted"
                                       << "a\u0085"
                                       << "Lijek 1";
    QTest::newRow("pasted croatian") << "pasted"
                                     << "čđ"
                                     << "Lijek 1čđ";
    QTest::newRow("input method control") << "im"
                                          << "\x01"
                                          << "Lijek 1";
    QTest::newRow("input method escape") << "im"
                                         << "\x1b"
                                         << "Lijek 1";
    QTest::newRow("input method hebrew") << "im"
                                         << "א"
                                         << "Lijek 1";
}

void TestDBEdit::refusedCharacters()
{
    QFETCH(QString, how);
    QFETCH(QString, input);
    QFETCH(QString, expected);
    Form form(1);
    DBEdit *naziv = form.edit("Naziv");
    naziv->setFocus();
    naziv->end(false);
    if (how == u"typed")
        typeText(naziv, input);
    else if (how == u"pasted")
        paste(naziv, input);
    else
        typeByInputMethod(naziv, input);
    QCOMPARE(naziv->text(), expected);
    QCOMPARE(fieldText(*form.table, "Naziv"), expected);
}

void TestDBEdit::numberBoxFilter_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    QTest::newRow("letters dropped") << "1a2b"
                                     << "12";
    QTest::newRow("exponent kept") << "1e3"
                                   << "1e3";
    QTest::newRow("capital exponent kept") << "2E1"
                                           << "2E1";
    QTest::newRow("signs kept") << "-+5"
                                << "-+5";
    QTest::newRow("separator kept") << "0.25"
                                    << "0.25";
    // Under a locale that writes "." it may be a decimal comma or grouping;
    // kept, so that post refuses it instead of the box making 1000 of "1,5".
    QTest::newRow("comma kept") << "1,000"
                                << "1,000";
    QTest::newRow("space refused") << "1 2"
                                   << "12";
}

void TestDBEdit::numberBoxFilter()
{
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    Form form(1);
    DBEdit *kolicina = form.edit("Kolicina");
    kolicina->setFocus();
    kolicina->clear();
    typeText(kolicina, typed);
    QCOMPARE(kolicina->text(), expected);

    // Pasting letters into a number box is refused as a whole.
    paste(kolicina, QStringLiteral("7x"));
    QCOMPARE(kolicina->text(), expected);
}

void TestDBEdit::numberUsesTheLocaleSeparator()
{
    QLocale::setDefault(QLocale(QLocale::Croatian, QLocale::Croatia));
    Form form(1);
    DBEdit *cijena = form.edit("Cijena");
    cijena->setFocus();
    typeText(cijena, QStringLiteral("12,5"));
    QCOMPARE(form.table->fieldByName(QStringLiteral("Cijena"))->asFloat(), 12.5);

    form.table->fieldByName(QStringLiteral("Cijena"))->setAsFloat(-2.5);
    cijena->clearFocus();
    QCOMPARE(cijena->text(), QStringLiteral("-2,5"));
    cijena->setFocus();
    cijena->end(false);
    QTest::keyClick(cijena, Qt::Key_5);
    QCOMPARE(form.table->fieldByName(QStringLiteral("Cijena"))->asFloat(), -2.55);

    // The locale's own minus sign (U+2212 in Croatian), as pasted from
    // another program, is a minus too.
    cijena->selectAll();
    typeText(cijena, QStringLiteral("\u22123"));
    QCOMPARE(form.table->fieldByName(QStringLiteral("Cijena"))->asFloat(), -3.0);
}

// A "." becomes the separator when it is typed or pasted into a text that
// holds none; one the box kept beside a "," is not read again later.
void TestDBEdit::pointIsReadOnlyAsItArrives()
{
    // The box keeps a point as typed; the table reads it by its rule, and
    // the box shows the number as the table holds it once it is left.
    QLocale::setDefault(QLocale(QLocale::Croatian, QLocale::Croatia));
    Form form(1);
    QVERIFY(QTest::qWaitForWindowActive(&form.window));
    DBEdit *cijena = form.edit("Cijena");
    store::Field *field = form.table->fieldByName(QStringLiteral("Cijena"));
    cijena->setFocus();
    cijena->selectAll();
    typeText(cijena, QStringLiteral("1.25"));
    QCOMPARE(cijena->text(), QStringLiteral("1.25"));
    QCOMPARE(field->asFloat(), 1.25);
    form.edit("Naziv")->setFocus();
    QCOMPARE(cijena->text(), QStringLiteral("1,25"));

    // "1.000" is a thousand to some and one to others: kept in the box, and
    // refused at post with both readings, while the record keeps its value.
    cijena->setFocus();
    cijena->selectAll();
    typeText(cijena, QStringLiteral("1.000"));
    QCOMPARE(cijena->text(), QStringLiteral("1.000"));
    testsupport::ScriptedMessageBoxes boxes;
    toolkit::runHandler([&] { form.table->post(); });
    QCOMPARE(boxes.texts(),
        QStringList { QStringLiteral("Cijena \"1.000\": za 1000 upišite 1000, a za 1 upišite "
                                     "1,000.") });
    QCOMPARE(form.table->state(), ClientDataSet::Edit);
    QCOMPARE(cijena->text(), QStringLiteral("1.000"));

    // Pasted with both separators: refused, not read one way or the other.
    cijena->selectAll();
    paste(cijena, QStringLiteral("1.234,50"));
    QCOMPARE(cijena->text(), QStringLiteral("1.234,50"));
    boxes.shown.clear();
    toolkit::runHandler([&] { form.table->post(); });
    QCOMPARE(boxes.texts(),
        QStringList { QStringLiteral("Neispravan broj u polju \"Cijena\": \"1.234,50\".") });
}

void TestDBEdit::halfTypedNumberRefusedAtPost()
{
    Form form(1);
    DBEdit *naziv = form.edit("Naziv");
    naziv->setFocus();
    naziv->selectAll();
    typeText(naziv, QStringLiteral("Novi"));
    DBEdit *kolicina = form.edit("Kolicina");
    kolicina->setFocus();
    kolicina->selectAll();
    typeText(kolicina, QStringLiteral("1-2"));
    QCOMPARE(kolicina->text(), QStringLiteral("1-2"));

    testsupport::ScriptedMessageBoxes boxes;
    toolkit::runHandler([&] { form.table->post(); });
    QCOMPARE(boxes.calls(),
        QList<toolkit::MessageBoxCall>({ { QStringLiteral("Neispravan broj u polju "
                                                          "\"Količina\": \"1-2\"."),
            QStringLiteral("Greška"), toolkit::MessageBoxStyle::Ok } }));
    QCOMPARE(form.table->state(), ClientDataSet::Edit);
    QCOMPARE(fieldText(*form.table, "Naziv"), QStringLiteral("Novi"));
    QCOMPARE(kolicina->text(), QStringLiteral("1-2"));
    QCOMPARE(form.table->records()[0].text(store::fieldIndex(u"Naziv")), QStringLiteral("Lijek 1"));

    // Leaving the record is refused the same way.
    QVERIFY_THROWS_EXCEPTION(store::Exception, form.table->first());
    QCOMPARE(form.table->state(), ClientDataSet::Edit);

    QTest::keyClick(kolicina, Qt::Key_Backspace);
    QTest::keyClick(kolicina, Qt::Key_Backspace);
    QCOMPARE(kolicina->text(), QStringLiteral("1"));
    form.table->post();
    QCOMPARE(form.table->state(), ClientDataSet::Browse);
    QCOMPARE(form.table->records()[0].number(store::fieldIndex(u"Kolicina")), 1.0);
    QCOMPARE(form.table->records()[0].text(store::fieldIndex(u"Naziv")), QStringLiteral("Novi"));
}

void TestDBEdit::halfTypedNumberSurvivesOtherBoxes()
{
    Form form(0);
    DBEdit *kolicina = form.edit("Kolicina");
    kolicina->setFocus();
    // The first character already starts the record; "1e" is no number yet.
    typeText(kolicina, QStringLiteral("1e"));
    QCOMPARE(form.table->state(), ClientDataSet::Insert);
    QVERIFY(form.table->modified());

    DBEdit *naziv = form.edit("Naziv");
    naziv->setFocus();
    typeText(naziv, QStringLiteral("Lijek"));
    QCOMPARE(kolicina->text(), QStringLiteral("1e"));

    kolicina->setFocus();
    kolicina->end(false);
    QTest::keyClick(kolicina, Qt::Key_2);
    form.table->post();
    QCOMPARE(form.table->recordCount(), 1);
    QCOMPARE(form.table->records()[0].number(store::fieldIndex(u"Kolicina")), 100.0);
}

void TestDBEdit::halfTypedNumberDroppedByCancel()
{
    Form form(2);
    DBEdit *kolicina = form.edit("Kolicina");
    kolicina->setFocus();
    kolicina->selectAll();
    typeText(kolicina, QStringLiteral("-"));
    QCOMPARE(form.table->state(), ClientDataSet::Edit);
    form.table->cancel();
    QCOMPARE(kolicina->text(), QStringLiteral("1"));

    // Pending text also gives way when the record is left without a post.
    typeText(kolicina, QStringLiteral("e"));
    QCOMPARE(kolicina->text(), QStringLiteral("1e"));
    kolicina->selectAll();
    QTest::keyClick(kolicina, Qt::Key_Delete);
    form.table->next();
    QCOMPARE(kolicina->text(), QStringLiteral("2"));
    QCOMPARE(form.table->records()[0].number(store::fieldIndex(u"Kolicina")), std::nullopt);
}

void TestDBEdit::numberReformattedOnLeaving()
{
    Form form(1);
    QVERIFY(QTest::qWaitForWindowActive(&form.window));
    DBEdit *kolicina = form.edit("Kolicina");
    kolicina->setFocus();
    kolicina->selectAll();
    typeText(kolicina, QStringLiteral("1e3"));
    QCOMPARE(kolicina->text(), QStringLiteral("1e3"));
    form.edit("Naziv")->setFocus();
    QCOMPARE(kolicina->text(), QStringLiteral("1000"));
}

void TestDBEdit::storedCharacterOutsideCodePageStaysEditable()
{
    Form form(1);
    form.table->edit();
    form.table->fieldByName(QStringLiteral("Naziv"))->setAsString(QStringLiteral("Ωmega"));
    form.table->post();
    DBEdit *naziv = form.edit("Naziv");
    QCOMPARE(naziv->text(), QStringLiteral("Ωmega"));
    naziv->setFocus();
    naziv->end(false);
    typeText(naziv, QStringLiteral(" 3"));
    QCOMPARE(fieldText(*form.table, "Naziv"), QStringLiteral("Ωmega 3"));
    // New ones are still refused.
    typeText(naziv, QStringLiteral("Ψ"));
    QCOMPARE(naziv->text(), QStringLiteral("Ωmega 3"));
}

QTEST_MAIN(TestDBEdit)
#include "tst_dbedit.moc"

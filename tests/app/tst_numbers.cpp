// Quantities and prices as people type and paste them, under the regional
// settings CTest starts this suite with: Croatian (decimal comma) and C
// (decimal point). A point typed out of habit, or from the numeric keypad,
// must never make a number ten or a hundred times larger.
#include "tests/app/formfixture.h"

#include "toolkit/dbedit.h"
#include "toolkit/dbgrid.h"

#include <QClipboard>
#include <QLineEdit>

using store::ClientDataSet;

namespace {

// The suite's expectations depend on which separator the locale writes.
bool decimalComma() { return QLocale().decimalPoint() == QLatin1String(","); }

toolkit::DBEdit *numberBox(TForm1 *form, const QString &field)
{
    return form->Panel1->findChild<toolkit::DBEdit *>(QStringLiteral("DBEdit") + field);
}

// The grid's cell of `field` in `row`.
QModelIndex gridCell(TForm1 *form, int row, const QString &field)
{
    const toolkit::DBGridModel *model = form->DBGridLijekovi->gridModel();
    for (int column = 0; column < model->columnCount(); ++column) {
        if (model->fieldOfColumn(column) == store::fieldIndex(field))
            return model->index(row, column);
    }
    return {};
}

QString shownInGrid(TForm1 *form, int row, const QString &field)
{
    return gridCell(form, row, field).data(Qt::DisplayRole).toString();
}

// The open cell editor of the grid, if any.
QLineEdit *cellEditor(TForm1 *form)
{
    for (QLineEdit *e : form->DBGridLijekovi->viewport()->findChildren<QLineEdit *>()) {
        if (e->isVisible())
            return e;
    }
    return nullptr;
}

// A posted entry's number, NaN when it has none.
double stored(const ClientDataSet &ds, int row, const QString &field)
{
    return ds.records().at(size_t(row)).number(store::fieldIndex(field)).value_or(qQNaN());
}

double current(const ClientDataSet &ds, const QString &field)
{
    return ds.fieldByName(field)->asFloat().value_or(qQNaN());
}

// The numeric keypad's decimal key. X11 reports it as Key_Period (KP_Decimal)
// or Key_Comma (KP_Separator), with "." or "," as the keyboard layout has it.
void keypadDecimal(QWidget *w, Qt::Key key, const QString &text)
{
    QTest::sendKeyEvent(QTest::Press, w, key, text, Qt::KeypadModifier);
    QTest::sendKeyEvent(QTest::Release, w, key, text, Qt::KeypadModifier);
}

// Replaces the box's text as a person does: select all, then type or paste.
void enter(QWidget *box, const QString &text, bool paste)
{
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    if (paste) {
        QApplication::clipboard()->setText(text);
        QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    } else {
        QTest::keyClicks(box, text);
    }
}

QString refusal(const QString &field, const QString &text)
{
    // The field as the window labels it.
    const QString label = field == QLatin1String("Kolicina") ? QStringLiteral("Količina") : field;
    return QStringLiteral("Neispravan broj u polju \"%1\": \"%2\".").arg(label, text);
}

// One entry with both numbers filled, so that a refused text visibly leaves
// the old value alone.
void writeOneEntry(FormFixture &fx)
{
    fx.writeRegister({ { { "Naziv", "A" }, { "Kolicina", "7" }, { "Cijena", "7" } } });
}

} // namespace

class TestNumbers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // CTest runs the suite under LC_ALL=hr_HR.UTF-8 and LC_ALL=C; Qt
        // takes the locale from there even where the C library lacks it.
        const QString wanted = qEnvironmentVariable("LC_ALL");
        if (wanted.startsWith(QLatin1String("hr_HR")))
            QCOMPARE(QLocale().decimalPoint(), QStringLiteral(","));
        else if (wanted == QLatin1String("C"))
            QCOMPARE(QLocale().decimalPoint(), QStringLiteral("."));
        QVERIFY2(QLocale().decimalPoint() == QLatin1String(",")
                || QLocale().decimalPoint() == QLatin1String("."),
            "expectations are written for a decimal comma and a decimal point");
    }

    void typedAndPasted_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("paste");
        // What the box shows once the text is in.
        QTest::addColumn<QString>("shown");
        // What the field holds after post, or NaN when post refuses the text.
        QTest::addColumn<double>("held");
        // What the box and the grid show after the post.
        QTest::addColumn<QString>("shownAfter");

        QTest::addColumn<QString>("message"); // the refusal, when refused

        const double refused = qQNaN();
        // Under a decimal comma, then under a decimal point. The box keeps
        // what was typed or pasted as it is; the post reads it.
        struct Case
        {
            const char *input;
            double commaHeld;
            const char *commaAfter;
            double pointHeld;
            const char *pointAfter;
            // Under a decimal comma the text also reads as thousands grouped
            // by points: the refusal names both readings.
            const char *grouped = nullptr;
            const char *decimal = nullptr;
        };
        const Case cases[] = {
            { "1.5", 1.5, "1,5", 1.5, "1.5" },
            // A comma under the C locale may be a decimal comma or grouping:
            // refused, never dropped into 15.
            { "1,5", 1.5, "1,5", refused, "" },
            { "12.40", 12.4, "12,4", 12.4, "12.4" },
            { "0.125", 0.125, "0,125", 0.125, "0.125" },
            { "1.2345", 1.2345, "1,2345", 1.2345, "1.2345" },
            { "-0.5", -0.5, "-0,5", -0.5, "-0.5" },
            { "1e3", 1000, "1000", 1000, "1000" },
            // Both separators: refused rather than read as 1.2345 or 123450.
            { "1.234,50", refused, "", refused, "" },
            { ".5", 0.5, "0,5", 0.5, "0.5" },
            // One thousand the Croatian way, or one with a decimal point:
            // never silently either under a decimal comma.
            { "1.000", refused, "", 1, "1", "1000", "1" },
            { "12.500", refused, "", 12.5, "12.5", "12500", "12,5" },
            { "-1.000", refused, "", -1, "-1", "-1000", "-1" },
        };
        const bool comma = decimalComma();
        for (const char *field : { "Kolicina", "Cijena" }) {
            const QString label
                = QString::fromUtf8(field == QByteArray("Kolicina") ? "Količina" : "Cijena");
            for (const Case &c : cases) {
                for (const bool paste : { false, true }) {
                    const QString input = QString::fromLatin1(c.input);
                    QString message = refusal(QString::fromLatin1(field), input);
                    if (comma && c.grouped) {
                        QString typedDecimal = input;
                        typedDecimal.replace(QLatin1Char('.'), QLatin1Char(','));
                        message = QStringLiteral("%1 \"%2\": za %3 upišite %3, a za %4 upišite %5.")
                                      .arg(label, input, QString::fromLatin1(c.grouped),
                                          QString::fromUtf8(c.decimal), typedDecimal);
                    }
                    QTest::addRow("%s %s \"%s\"", field, paste ? "pasted" : "typed", c.input)
                        << QString::fromLatin1(field) << input << paste << input
                        << (comma ? c.commaHeld : c.pointHeld)
                        << QString::fromLatin1(comma ? c.commaAfter : c.pointAfter) << message;
                }
            }
        }
    }

    void typedAndPasted()
    {
        QFETCH(QString, field);
        QFETCH(QString, input);
        QFETCH(bool, paste);
        QFETCH(QString, shown);
        QFETCH(double, held);
        QFETCH(QString, shownAfter);
        QFETCH(QString, message);
        FormFixture fx;
        writeOneEntry(fx);
        TForm1 *form = fx.start();
        auto *ds = form->CDSetLijekovi;
        toolkit::DBEdit *box = numberBox(form, field);
        QVERIFY(box);
        box->setFocus();
        enter(box, input, paste);
        QCOMPARE(box->text(), shown);

        // Posted by moving to the first entry, which stays the current one.
        fx.shown.clear();
        QTest::mouseClick(form->BitBtnFirst, Qt::LeftButton);
        if (qIsNaN(held)) {
            QCOMPARE(fx.captions(), QStringList { QStringLiteral("Greška") });
            QCOMPARE(fx.texts(), QStringList { message });
            QCOMPARE(ds->state(), ClientDataSet::Edit);
            QCOMPARE(box->text(), shown);
            QCOMPARE(shownInGrid(form, 0, field), shown);
            QCOMPARE(stored(*ds, 0, field), 7.0);
            return;
        }
        QCOMPARE(fx.texts(), QStringList());
        QCOMPARE(ds->state(), ClientDataSet::Browse);
        QCOMPARE(stored(*ds, 0, field), held);
        QCOMPARE(box->text(), shownAfter);
        QCOMPARE(shownInGrid(form, 0, field), shownAfter);

        // And so into the register's file.
        QVERIFY(form->close());
        const std::vector<store::Record> saved = store::loadDataPacketFile(fx.dataFile());
        QCOMPARE(saved.size(), size_t(1));
        QCOMPARE(saved[0].number(store::fieldIndex(field)).value_or(qQNaN()), held);
    }

    void keypadDecimalKey_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<bool>("inGrid");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("text");
        const struct
        {
            const char *name;
            Qt::Key key;
            const char *text;
        } keys[] = {
            { "KP_Decimal giving \".\"", Qt::Key_Period, "." },
            { "KP_Decimal giving \",\"", Qt::Key_Period, "," },
            { "KP_Separator giving \",\"", Qt::Key_Comma, "," },
        };
        for (const char *field : { "Kolicina", "Cijena" }) {
            for (const bool inGrid : { false, true }) {
                for (const auto &k : keys) {
                    QTest::addRow("%s %s, %s", field, inGrid ? "cell" : "box", k.name)
                        << QString::fromLatin1(field) << inGrid << int(k.key)
                        << QString::fromLatin1(k.text);
                }
            }
        }
    }

    // The keypad's decimal key gives the locale's separator in boxes and in
    // the grid's cells alike, whatever character the layout sends with it.
    void keypadDecimalKey()
    {
        QFETCH(QString, field);
        QFETCH(bool, inGrid);
        QFETCH(int, key);
        QFETCH(QString, text);
        FormFixture fx;
        writeOneEntry(fx);
        TForm1 *form = fx.start();
        auto *ds = form->CDSetLijekovi;
        const QString expected
            = QStringLiteral("1") + QLocale().decimalPoint() + QStringLiteral("5");
        QWidget *editor = nullptr;
        if (inGrid) {
            auto *grid = form->DBGridLijekovi;
            grid->setFocus();
            grid->setCurrentIndex(gridCell(form, 0, field));
            // Typing on a cell opens its editor with the key.
            QTest::keyClick(grid, Qt::Key_1);
            editor = cellEditor(form);
            QVERIFY(editor);
        } else {
            editor = numberBox(form, field);
            editor->setFocus();
            QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(editor, Qt::Key_1);
        }
        keypadDecimal(editor, Qt::Key(key), text);
        QTest::keyClick(editor, Qt::Key_5);
        QCOMPARE(qobject_cast<QLineEdit *>(editor)->text(), expected);

        if (inGrid)
            QTest::keyClick(editor, Qt::Key_Return);
        fx.shown.clear();
        QTest::mouseClick(form->BitBtnFirst, Qt::LeftButton);
        QCOMPARE(fx.texts(), QStringList());
        QCOMPARE(ds->state(), ClientDataSet::Browse);
        QCOMPARE(stored(*ds, 0, field), 1.5);
        QCOMPARE(numberBox(form, field)->text(), expected);
        QCOMPARE(shownInGrid(form, 0, field), expected);
    }

    void gridCells_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("paste");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<double>("held");
        const bool comma = decimalComma();
        QTest::addColumn<QString>("message"); // the refusal, when refused
        const QString none;
        QTest::newRow("typed 12.40") << "12.40" << false << "12.40" << 12.4 << none;
        QTest::newRow("pasted .5") << ".5" << true << ".5" << 0.5 << none;
        QTest::newRow("pasted 1.234,50") << "1.234,50" << true << "1.234,50" << qQNaN()
                                         << refusal(QStringLiteral("Cijena"), "1.234,50");
        QTest::newRow("typed 1,5") << "1,5" << false << "1,5" << (comma ? 1.5 : qQNaN())
                                   << refusal(QStringLiteral("Cijena"), "1,5");
        QTest::newRow("typed 1.000")
            << "1.000" << false << "1.000" << (comma ? qQNaN() : 1.0)
            << QStringLiteral("Cijena \"1.000\": za 1000 upišite 1000, a za 1 upišite 1,000.");
    }

    // A grid cell takes typed and pasted numbers as a box does.
    void gridCells()
    {
        QFETCH(QString, input);
        QFETCH(bool, paste);
        QFETCH(QString, shown);
        QFETCH(double, held);
        QFETCH(QString, message);
        FormFixture fx;
        writeOneEntry(fx);
        TForm1 *form = fx.start();
        auto *ds = form->CDSetLijekovi;
        auto *grid = form->DBGridLijekovi;
        grid->setFocus();
        grid->setCurrentIndex(gridCell(form, 0, QStringLiteral("Cijena")));
        QTest::keyClick(grid, Qt::Key_F2);
        QLineEdit *editor = cellEditor(form);
        QVERIFY(editor);
        enter(editor, input, paste);
        QCOMPARE(editor->text(), shown);
        fx.shown.clear();
        QTest::keyClick(editor, Qt::Key_Return);
        if (qIsNaN(held)) {
            QTRY_COMPARE(fx.texts(), QStringList { message });
            QCOMPARE(current(*ds, QStringLiteral("Cijena")), 7.0);
            return;
        }
        QTRY_COMPARE(current(*ds, QStringLiteral("Cijena")), held);
        QTest::mouseClick(form->BitBtnFirst, Qt::LeftButton);
        QCOMPARE(fx.texts(), QStringList());
        QCOMPARE(stored(*ds, 0, QStringLiteral("Cijena")), held);
    }

    // While a box holds text that is not a number, the grid shows that text
    // in the field's cell, not the value the box is about to replace.
    void gridShowsWhatTheBoxHolds()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" }, { "Kolicina", "7" } }, { { "Naziv", "B" } } });
        TForm1 *form = fx.start();
        auto *ds = form->CDSetLijekovi;
        QTest::mouseClick(form->BitBtnFirst, Qt::LeftButton);
        const QString sep = QLocale().decimalPoint();
        const QString kolicina = QStringLiteral("Kolicina");
        toolkit::DBEdit *box = form->DBEditKolicina;
        box->setFocus();
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box, QStringLiteral("2") + sep + QStringLiteral("5"));
        QCOMPARE(shownInGrid(form, 0, kolicina), QStringLiteral("2") + sep + QStringLiteral("5"));
        const QString notANumber
            = QStringLiteral("2") + sep + QStringLiteral("5") + sep + QStringLiteral("5");
        QTest::keyClicks(box, sep + QStringLiteral("5"));
        QCOMPARE(box->text(), notANumber);
        QCOMPARE(shownInGrid(form, 0, kolicina), notANumber);
        QCOMPARE(gridCell(form, 0, kolicina).data(Qt::EditRole).toString(), notANumber);
        // Other rows and fields show their own values.
        QCOMPARE(shownInGrid(form, 1, kolicina), QString());
        QCOMPARE(shownInGrid(form, 0, QStringLiteral("Cijena")), QString());

        // Post refuses it, and both still show it.
        fx.shown.clear();
        QTest::mouseClick(form->BitBtnNext, Qt::LeftButton);
        QCOMPARE(fx.texts(), QStringList { refusal(kolicina, notANumber) });
        QCOMPARE(ds->currentRow(), 0);
        QCOMPARE(box->text(), notANumber);
        QCOMPARE(shownInGrid(form, 0, kolicina), notANumber);
        QCOMPARE(stored(*ds, 0, kolicina), 7.0);

        // Corrected in the box: both show the number.
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Backspace);
        QTest::keyClick(box, Qt::Key_Backspace);
        QCOMPARE(shownInGrid(form, 0, kolicina), QStringLiteral("2") + sep + QStringLiteral("5"));
        QTest::keyClicks(box, sep + QStringLiteral("5"));
        QCOMPARE(shownInGrid(form, 0, kolicina), notANumber);

        // Corrected in the grid's cell instead: the cell's value is the
        // newest, and the box gives up its unfinished text for it.
        auto *grid = form->DBGridLijekovi;
        grid->setFocus();
        grid->setCurrentIndex(gridCell(form, 0, kolicina));
        QTest::keyClick(grid, Qt::Key_F2);
        QLineEdit *editor = cellEditor(form);
        QVERIFY(editor);
        QCOMPARE(editor->text(), notANumber);
        QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(editor, QStringLiteral("3"));
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(box->text(), QStringLiteral("3"));
        QCOMPARE(shownInGrid(form, 0, kolicina), QStringLiteral("3"));
        fx.shown.clear();
        QTest::mouseClick(form->BitBtnNext, Qt::LeftButton);
        QCOMPARE(fx.texts(), QStringList());
        QCOMPARE(stored(*ds, 0, kolicina), 3.0);
        QCOMPARE(ds->currentRow(), 1);
        QCOMPARE(shownInGrid(form, 0, kolicina), QStringLiteral("3"));

        // The same in a new entry's row.
        QTest::mouseClick(form->BitBtnAdd, Qt::LeftButton);
        QCOMPARE(ds->state(), ClientDataSet::Insert);
        QCOMPARE(ds->currentRow(), 2);
        box->setFocus();
        QTest::keyClicks(box, notANumber);
        QCOMPARE(shownInGrid(form, 2, kolicina), notANumber);
        QCOMPARE(shownInGrid(form, 0, kolicina), QStringLiteral("3"));
    }
};

QTEST_MAIN(TestNumbers)
#include "tst_numbers.moc"

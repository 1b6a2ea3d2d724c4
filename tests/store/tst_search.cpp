// Finding an entry: which record and field the search lands on, in which
// order it visits the records, and how it reads case and diacritics.
#include "store/clientdataset.h"
#include "store/schema.h"
#include "store/search.h"

#include <QLocale>
#include <QTest>

using store::ClientDataSet;
using store::SearchDirection;
using store::SearchText;

// Field name and text (numbers in the locale's notation), in any order.
using Values = QList<QPair<QString, QString>>;

namespace {

void setValues(ClientDataSet &ds, const Values &values)
{
    for (const auto &[name, text] : values)
        ds.fieldByName(name)->setAsString(text);
}

// A table holding `records`, its cursor on `current`; then, for `pending`
// "insert", a new record holding `pendingValues` is started (and becomes
// current), for "edit", the current record is changed to them; neither is
// posted.
void fill(ClientDataSet &ds, const QList<Values> &records, int current, const QString &pending,
    const Values &pendingValues)
{
    ds.createDataSet();
    for (const Values &values : records) {
        ds.insert();
        setValues(ds, values);
        ds.post();
    }
    if (current >= 0)
        ds.moveTo(current);
    if (pending == QLatin1String("insert")) {
        ds.insert();
        setValues(ds, pendingValues);
    } else if (pending == QLatin1String("edit")) {
        ds.edit();
        setValues(ds, pendingValues);
    }
}

QList<Values> names(const QStringList &nazivi)
{
    QList<Values> records;
    for (const QString &naziv : nazivi)
        records << Values { { "Naziv", naziv } };
    return records;
}

} // namespace

class TestSearch : public QObject
{
    Q_OBJECT

private slots:
    // A Croatian user's numbers: decimal comma.
    void init() { QLocale::setDefault(QLocale(QLocale::Croatian, QLocale::Croatia)); }
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void findRecord_data()
    {
        QTest::addColumn<QList<Values>>("records");
        QTest::addColumn<int>("current");
        QTest::addColumn<QString>("pending");
        QTest::addColumn<Values>("pendingValues");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("backward");
        QTest::addColumn<int>("row"); // -1: no match
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("matched"); // the piece of the field's shown text

        const auto patients = [](const QStringList &people) {
            QList<Values> records;
            for (const QString &p : people)
                records << Values { { "Pacijent", p } };
            return records;
        };

        // Case and diacritics.
        QTest::newRow("plain letters find Š and ć")
            << patients({ "Ivo Horvat", "Ivana Šarić" }) << 0 << "" << Values {} << "saric" << false
            << 1 << "Pacijent"
            << "Šarić";
        QTest::newRow("Š and ć find plain letters")
            << patients({ "Ivo Horvat", "Ana Saric" }) << 0 << "" << Values {} << "ŠARIĆ" << false
            << 1 << "Pacijent"
            << "Saric";
        QTest::newRow("capitals find small letters")
            << names({ "x", "keppra 500 mg" }) << 0 << "" << Values {} << "KEPPRA" << false << 1
            << "Naziv"
            << "keppra";
        QTest::newRow("small letters find capitals")
            << names({ "x", "KEPPRA 500 MG" }) << 0 << "" << Values {} << "keppra 500" << false << 1
            << "Naziv"
            << "KEPPRA 500";
        QTest::newRow("č, ć, ž, š, đ in capitals and small letters")
            << patients({ "x", "ČĆŽŠĐ čćžšđ" }) << 0 << "" << Values {} << "ccZsDJ CCZSDJ" << false
            << 1 << "Pacijent"
            << "ČĆŽŠĐ čćžšđ";
        QTest::newRow("dj finds đ") << patients({ "x", "Anđela Perić" }) << 0 << "" << Values {}
                                    << "andjela" << false << 1 << "Pacijent"
                                    << "Anđela";
        QTest::newRow("DJ finds Đ") << patients({ "x", "Ljekarna Đakovo" }) << 0 << "" << Values {}
                                    << "DJAKOVO" << false << 1 << "Pacijent"
                                    << "Đakovo";
        QTest::newRow("đ finds dj") << patients({ "x", "Djuro Babić" }) << 0 << "" << Values {}
                                    << "đuro" << false << 1 << "Pacijent"
                                    << "Djuro";
        QTest::newRow("d finds đ, as the start of dj")
            << patients({ "x", "Đurić" }) << 0 << "" << Values {} << "d" << false << 1 << "Pacijent"
            << "Đ";
        QTest::newRow("đ does not stand for a plain d")
            << patients({ "x", "Đakovo" }) << 0 << "" << Values {} << "dakovo" << false << -1 << ""
            << "";
        QTest::newRow("diacritics written as combining marks")
            << patients({ "x", QStringLiteral("Ivana S\u030Cari\u0107") }) << 0 << "" << Values {}
            << "šarić" << false << 1 << "Pacijent" << QStringLiteral("S\u030Cari\u0107");
        QTest::newRow("the digraph letter dž")
            << patients({ "x", QStringLiteral("\u01C6ep") }) << 0 << "" << Values {} << "dzep"
            << false << 1 << "Pacijent" << QStringLiteral("\u01C6ep");

        // Every field, the five without a grid column among them. Each in a
        // record of its own, after an empty one.
        const auto &fields = store::importRecordFields();
        for (const store::FieldDef &def : fields) {
            const QString name = QLatin1String(def.name);
            const bool number = def.type == store::FieldType::Float;
            const QString value = number ? QStringLiteral("2,75") : QStringLiteral("Traženo");
            const QString text = number ? QStringLiteral("2,75") : QStringLiteral("trazeno");
            QTest::newRow(qPrintable(QStringLiteral("field %1").arg(name)))
                << QList<Values> { {}, { { name, value } } } << 0 << "" << Values {} << text
                << false << 1 << name << value;
        }

        // Numbers as the boxes show them.
        const QList<Values> price { {}, { { "Cijena", "1234567,891234" } } };
        QTest::newRow("a number with the decimal comma")
            << price << 0 << "" << Values {} << "567,891" << false << 1 << "Cijena"
            << "567,891";
        QTest::newRow("digits past the shown precision")
            << price << 0 << "" << Values {} << "891234" << false << -1 << ""
            << "";
        QTest::newRow("a decimal point where a comma is shown")
            << price << 0 << "" << Values {} << "567.891" << false << -1 << ""
            << "";
        QTest::newRow("a number in exponent form")
            << QList<Values> { {}, { { "Kolicina", "1e20" } } } << 0 << "" << Values {} << "e+2"
            << false << 1 << "Kolicina"
            << "E+2";
        QTest::newRow("a number found by its digits")
            << QList<Values> { {}, { { "Kolicina", "12" } } } << 0 << "" << Values {} << "12"
            << false << 1 << "Kolicina"
            << "12";

        // Of several fields, the first in the table's order.
        QTest::newRow("the first field in the table's order") << QList<Values> { {},
            { { "Adresa", "Ilica 1" }, { "Mjesto", "Ilica" }, { "Ljekarna", "Ljekarna Ilica" } } }
                                                              << 0 << "" << Values {} << "ilica"
                                                              << false << 1 << "Ljekarna"
                                                              << "Ilica";

        // The order of the records.
        const QList<Values> abab = names({ "aspirin", "brufen", "aspirin forte", "brufen" });
        QTest::newRow("forward: the next after the current one")
            << abab << 0 << "" << Values {} << "aspirin" << false << 2 << "Naziv"
            << "aspirin";
        QTest::newRow("forward: past the last round to the first")
            << abab << 2 << "" << Values {} << "aspirin" << false << 0 << "Naziv"
            << "aspirin";
        QTest::newRow("forward: from the last record")
            << abab << 3 << "" << Values {} << "aspirin" << false << 0 << "Naziv"
            << "aspirin";
        QTest::newRow("backward: the one before the current one")
            << abab << 3 << "" << Values {} << "aspirin" << true << 2 << "Naziv"
            << "aspirin";
        QTest::newRow("backward: past the first round to the last")
            << abab << 0 << "" << Values {} << "brufen" << true << 3 << "Naziv"
            << "brufen";
        QTest::newRow("the current record comes last")
            << abab << 2 << "" << Values {} << "forte" << false << 2 << "Naziv"
            << "forte";
        QTest::newRow("the current record comes last, backward")
            << abab << 2 << "" << Values {} << "forte" << true << 2 << "Naziv"
            << "forte";

        // Records not posted yet.
        QTest::newRow("the new record being typed")
            << names({ "aspirin", "brufen" }) << 1 << "insert"
            << Values { { "Naziv", "Kardiozid" } } << "kardio" << false << 2 << "Naziv"
            << "Kardio";
        QTest::newRow("past the new record to the first")
            << names({ "aspirin", "brufen" }) << 1 << "insert" << Values { { "Naziv", "x" } }
            << "aspirin" << false << 0 << "Naziv"
            << "aspirin";
        QTest::newRow("backward from the new record")
            << names({ "aspirin", "brufen" }) << 1 << "insert" << Values { { "Naziv", "x" } }
            << "aspirin" << true << 0 << "Naziv"
            << "aspirin";
        QTest::newRow("an edited record: its new text")
            << names({ "aspirin", "brufen" }) << 0 << "edit" << Values { { "Naziv", "andol" } }
            << "andol" << false << 0 << "Naziv"
            << "andol";
        QTest::newRow("an edited record: not its old text")
            << names({ "aspirin", "brufen" }) << 0 << "edit" << Values { { "Naziv", "andol" } }
            << "aspirin" << false << -1 << ""
            << "";

        // Nothing to find.
        QTest::newRow("empty text") << abab << 0 << "" << Values {} << "" << false << -1 << ""
                                    << "";
        QTest::newRow("only a mark, which does not count")
            << abab << 0 << "" << Values {} << QStringLiteral("\u0301") << false << -1 << ""
            << "";
        QTest::newRow("text that occurs nowhere")
            << abab << 0 << "" << Values {} << "aspirinx" << false << -1 << ""
            << "";
        QTest::newRow("no match across two fields")
            << QList<Values> { {}, { { "Tar_br", "30" }, { "Ljekarna", "04" } } } << 0 << ""
            << Values {} << "3004" << false << -1 << ""
            << "";
        QTest::newRow("an empty register")
            << QList<Values> {} << -1 << "" << Values {} << "a" << false << -1 << ""
            << "";
    }

    void findRecord()
    {
        QFETCH(QList<Values>, records);
        QFETCH(int, current);
        QFETCH(QString, pending);
        QFETCH(Values, pendingValues);
        QFETCH(QString, text);
        QFETCH(bool, backward);
        QFETCH(int, row);
        QFETCH(QString, field);
        QFETCH(QString, matched);

        ClientDataSet ds;
        fill(ds, records, current, pending, pendingValues);
        const int before = ds.currentRow();
        const ClientDataSet::State state = ds.state();

        const auto hit = store::findRecord(
            ds, SearchText(text), backward ? SearchDirection::Backward : SearchDirection::Forward);
        if (row < 0) {
            QVERIFY2(!hit, hit ? qPrintable(QStringLiteral("found in row %1").arg(hit->row)) : "");
        } else {
            QVERIFY(hit);
            QCOMPARE(hit->row, row);
            QCOMPARE(QLatin1String(store::importRecordFields()[size_t(hit->field)].name), field);
            const QString shown = store::displayedText(ds.rowRecord(hit->row), hit->field);
            QCOMPARE(shown.mid(hit->span.start, hit->span.length), matched);
        }
        // Looking moves nothing and posts nothing.
        QCOMPARE(ds.currentRow(), before);
        QCOMPARE(ds.state(), state);
    }

    void neverOpenedTable()
    {
        const ClientDataSet ds;
        QVERIFY(!store::findRecord(ds, SearchText(u"a"), SearchDirection::Forward));
    }

    // The records are searched in their stored form (UTF-8) and the match is
    // then placed in the shown text (UTF-16); both must read every character
    // alike, or a found record would show no match, or a match be missed.
    void everyCharacterFindsItself()
    {
        ClientDataSet ds;
        ds.createDataSet();
        ds.insert();
        store::Field *pacijent = ds.fieldByName(QStringLiteral("Pacijent"));
        QStringList missed;
        const auto check = [&](char32_t c) {
            const QString text = u'x' + QString::fromUcs4(&c, 1) + u'y';
            pacijent->setAsString(text);
            const auto hit = store::findRecord(ds, SearchText(text), SearchDirection::Forward);
            if (!hit || hit->span.start != 0 || hit->span.length != text.size())
                missed << QString::number(uint(c), 16);
        };
        for (char32_t c = 1; c < 0x3400; ++c) {
            if (!QChar::isSurrogate(c))
                check(c);
        }
        for (char32_t c : { 0xAC00, 0xFB01, 0xFDFA, 0xFF21, 0x1D400, 0x1F600 })
            check(c);
        QVERIFY2(missed.isEmpty(), qPrintable(missed.join(u' ')));
    }

    // Long runs of plain letters are read several at a time: every piece
    // of a long field, in the other case, must still be found there, and
    // the field after it must not leak into it.
    void everyPieceOfALongField()
    {
        const QStringList texts {
            QStringLiteral("@AZ[`az{ Mixed CASE text, ŠARIĆ i šarić, Đuro 12345 ~\x7f"),
            QStringLiteral("Ljekarna Đakovo d.o.o. - ZAGREB, Ilica 242 / KBC Sestre milosrdnice"),
            QStringLiteral("ščćžđŠČĆŽĐ ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnopqrstuvwxyz"),
        };
        ClientDataSet ds;
        ds.createDataSet();
        ds.insert();
        // The next text field holds capitals that a reading past the end of
        // the patient's text would see.
        ds.fieldByName(QStringLiteral("Jed_mjere"))->setAsString(QStringLiteral("QQQQQQQQQQ"));
        QStringList missed;
        for (const QString &text : texts) {
            ds.fieldByName(QStringLiteral("Pacijent"))->setAsString(text);
            for (qsizetype start = 0; start < text.size(); ++start) {
                for (qsizetype length = 1; length <= 12 && start + length <= text.size();
                     ++length) {
                    const QString piece = text.mid(start, length);
                    const QString swapped = piece.isLower() ? piece.toUpper() : piece.toLower();
                    const SearchText wanted(swapped);
                    const auto hit = store::findRecord(ds, wanted, SearchDirection::Forward);
                    // The piece found holds what was looked for (a "d" may be
                    // found as the start of an "đ").
                    if (!hit || hit->field != store::fieldIndex(u"Pacijent")
                        || SearchText(text.mid(hit->span.start, hit->span.length))
                                .folded()
                                .find(wanted.folded())
                            == std::string::npos)
                        missed << swapped;
                }
            }
            const QString acrossTheEnd = text.right(3) + QStringLiteral("qq");
            if (store::findRecord(ds, SearchText(acrossTheEnd), SearchDirection::Forward))
                missed << acrossTheEnd;
        }
        QVERIFY2(missed.isEmpty(), qPrintable(missed.join(QStringLiteral(" | "))));
    }
};

QTEST_GUILESS_MAIN(TestSearch)
#include "tst_search.moc"

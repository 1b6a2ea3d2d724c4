#include "store/record.h"
#include "store/schema.h"

#include <QTest>

#include <array>
#include <optional>

using store::FieldCount;
using store::Record;
using store::RecordBuilder;

namespace {

// What a record should hold, field by field: text for text fields, the
// number (or null) for the two float fields.
struct Values
{
    std::array<QByteArray, FieldCount> text;
    std::array<std::optional<double>, FieldCount> number;
};

bool isText(int field) { return store::textSlot(field) >= 0; }

int firstFloatField()
{
    for (int f = 0; f < FieldCount; ++f) {
        if (!isText(f))
            return f;
    }
    return -1;
}

int lastFloatField()
{
    for (int f = FieldCount - 1; f >= 0; --f) {
        if (!isText(f))
            return f;
    }
    return -1;
}

// Set one field at a time on the record itself, last field first, so that
// every change rebuilds the record around fields already there.
Record bySetters(const Values &v)
{
    Record r;
    for (int f = FieldCount - 1; f >= 0; --f) {
        if (isText(f))
            r.setTextUtf8(f, v.text[size_t(f)]);
        else
            r.setNumber(f, v.number[size_t(f)]);
    }
    return r;
}

// All fields through a builder, in order, with a wrong value first for each
// so that only the last one may count.
Record byBuilder(const Values &v)
{
    RecordBuilder b;
    for (int f = 0; f < FieldCount; ++f) {
        if (isText(f)) {
            b.setTextUtf8(f, "wrong");
            b.setTextUtf8(f, v.text[size_t(f)]);
        } else {
            b.setNumber(f, 99.0);
            b.setNumber(f, v.number[size_t(f)]);
        }
    }
    return b.take();
}

void compareWith(const Record &r, const Values &v)
{
    QByteArray all;
    for (int f = 0; f < FieldCount; ++f) {
        if (isText(f)) {
            QCOMPARE(r.textUtf8(f), QByteArrayView(v.text[size_t(f)]));
            QCOMPARE(r.isEmpty(f), v.text[size_t(f)].isEmpty());
            all += v.text[size_t(f)];
        } else {
            QCOMPARE(r.number(f), v.number[size_t(f)]);
            QCOMPARE(r.isEmpty(f), !v.number[size_t(f)].has_value());
        }
    }
    QCOMPARE(r.allTextUtf8(), QByteArrayView(all));
}

} // namespace

Q_DECLARE_METATYPE(Values)

class TestRecord : public QObject
{
    Q_OBJECT

private slots:
    // Records of every size the layout distinguishes: nothing at all, a
    // number alone, text whose ends fit one byte, two bytes or need four.
    void holdsWhatWasSet_data()
    {
        QTest::addColumn<Values>("values");
        const int kol = firstFloatField();
        const int cij = lastFloatField();
        Values v;
        QTest::newRow("empty") << v;

        Values one;
        one.text[0] = "1";
        QTest::newRow("one character in the first field") << one;

        Values last;
        last.text[FieldCount - 1] = "Ilica 1";
        QTest::newRow("only the last field") << last;

        Values numbers;
        numbers.number[size_t(kol)] = 2.5;
        QTest::newRow("first number only") << numbers;
        numbers.number[size_t(kol)].reset();
        numbers.number[size_t(cij)] = -0.0;
        QTest::newRow("second number only, negative zero") << numbers;

        Values both;
        both.number[size_t(kol)] = 0.0;
        both.number[size_t(cij)] = 1e300;
        both.text[2] = "Aspirin";
        both.text[7] = QByteArray("Ivana Žužić");
        QTest::newRow("both numbers and text") << both;

        for (const int total : { 255, 256, 65535, 65536, 15 * 65536 }) {
            Values t;
            for (int f = 0, left = total; f < FieldCount && left > 0; ++f) {
                if (!isText(f))
                    continue;
                const int n = std::min(left, 65536);
                t.text[size_t(f)] = QByteArray(n, char('a' + f));
                left -= n;
            }
            t.number[size_t(cij)] = 12.75;
            QTest::addRow("%d bytes of text", total) << t;
        }
    }

    void holdsWhatWasSet()
    {
        QFETCH(Values, values);
        const Record a = bySetters(values);
        const Record b = byBuilder(values);
        compareWith(a, values);
        compareWith(b, values);
        QCOMPARE(a, b);

        // A change anywhere makes them differ; taking it back makes them equal.
        for (int f = 0; f < FieldCount; ++f) {
            Record c = a;
            if (isText(f))
                c.setTextUtf8(f, values.text[size_t(f)] + "x");
            else
                c.setNumber(f, values.number[size_t(f)] ? std::nullopt : std::optional(0.0));
            QVERIFY2(c != a, qPrintable(QString::number(f)));
            if (isText(f))
                c.setTextUtf8(f, values.text[size_t(f)]);
            else
                c.setNumber(f, values.number[size_t(f)]);
            QVERIFY2(c == a, qPrintable(QString::number(f)));
            compareWith(a, values); // the original never changed
        }
    }

    // The same bytes split differently between fields, or a number that is
    // zero rather than null, are different records.
    void equalityLooksAtEachField()
    {
        Record ab;
        ab.setTextUtf8(0, "ab");
        Record aAndB;
        aAndB.setTextUtf8(0, "a");
        aAndB.setTextUtf8(1, "b");
        QCOMPARE(ab.allTextUtf8(), aAndB.allTextUtf8());
        QVERIFY(ab != aAndB);

        const int kol = firstFloatField();
        Record zero;
        zero.setNumber(kol, 0.0);
        QVERIFY(zero != Record());
        zero.setNumber(kol, std::nullopt);
        QCOMPARE(zero, Record());

        Record emptied;
        emptied.setTextUtf8(3, "x");
        emptied.setTextUtf8(3, "");
        QCOMPARE(emptied, Record());
    }

    void copiesAndMovesKeepTheirOwnValues()
    {
        Record a;
        a.setTextUtf8(2, "Brufen");
        Record copy = a;
        copy.setTextUtf8(2, "Aspirin");
        QCOMPARE(a.textUtf8(2), QByteArrayView("Brufen"));
        QCOMPARE(copy.textUtf8(2), QByteArrayView("Aspirin"));

        Record &self = a;
        a = self;
        QCOMPARE(a.textUtf8(2), QByteArrayView("Brufen"));

        Record moved = std::move(copy);
        QCOMPARE(moved.textUtf8(2), QByteArrayView("Aspirin"));
        copy = a; // a moved-from record can be assigned again
        QCOMPARE(copy, a);

        RecordBuilder start(a);
        start.setTextUtf8(7, "Pacijent");
        const Record grown = start.take();
        QCOMPARE(grown.textUtf8(2), QByteArrayView("Brufen"));
        QCOMPARE(grown.textUtf8(7), QByteArrayView("Pacijent"));
        QCOMPARE(start.take(), Record()); // the builder starts over
    }
};

QTEST_APPLESS_MAIN(TestRecord)
#include "tst_record.moc"

// The register's data file: what is saved must load back exactly, files
// from elsewhere must be read or refused with a clear reason, and no failure
// while saving may cost the file that was there.

#include "store/datapacket.h"
#include "store/datapacket_p.h"
#include "store/exception.h"
#include "store/messagetext.h"
#include "store/schema.h"
#include "tests/support/systemfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

using namespace Qt::Literals::StringLiterals;
using store::Record;
using Rows = std::vector<Record>;
Q_DECLARE_METATYPE(Rows)
Q_DECLARE_METATYPE(store::Record)

namespace {

int field(const char *name)
{
    const int index = store::fieldIndex(QString::fromLatin1(name));
    if (index < 0)
        qFatal("no field %s", name);
    return index;
}

bool isText(int f) { return store::importRecordFields()[size_t(f)].type == store::FieldType::Text; }

// A record from field/value pairs: a QString for a text field, a double for a number.
Record rec(std::initializer_list<std::pair<const char *, QVariant>> values)
{
    Record r;
    for (const auto &[name, value] : values) {
        const int f = field(name);
        if (isText(f))
            r.setText(f, value.toString());
        else
            r.setNumber(f, value.toDouble());
    }
    return r;
}

QString show(const Record &r, int f)
{
    if (isText(f))
        return u'"' + r.text(f) + u'"';
    const std::optional<double> n = r.number(f);
    return n ? QString::number(*n, 'g', 17) : u"null"_s;
}

// Names the first difference, so a failure says which row and field.
bool sameRows(const Rows &actual, const Rows &expected, QString *why)
{
    if (actual.size() != expected.size()) {
        *why = u"%1 rows, expected %2"_s.arg(actual.size()).arg(expected.size());
        return false;
    }
    for (size_t i = 0; i < actual.size(); ++i) {
        if (actual[i] == expected[i])
            continue;
        for (int f = 0; f < store::FieldCount; ++f) {
            const std::optional<double> a = isText(f) ? std::nullopt : actual[i].number(f);
            const std::optional<double> b = isText(f) ? std::nullopt : expected[i].number(f);
            const bool equal = isText(f)
                ? actual[i].textUtf8(f) == expected[i].textUtf8(f)
                : (a.has_value() == b.has_value()
                    && (!a || std::memcmp(&*a, &*b, sizeof(double)) == 0)); // tells -0 from 0
            if (!equal) {
                *why = u"row %1, field %2: %3, expected %4"_s.arg(i).arg(
                    QLatin1StringView(store::importRecordFields()[size_t(f)].name),
                    show(actual[i], f), show(expected[i], f));
                return false;
            }
        }
        *why = u"row %1 differs in its layout"_s.arg(i);
        return false;
    }
    return true;
}

#define COMPARE_ROWS(actual, expected)                                                             \
    do {                                                                                           \
        QString why_;                                                                              \
        QVERIFY2(sameRows((actual), (expected), &why_), qPrintable(why_));                         \
    } while (false)

// The message of the store::Exception `action` throws, or a null string.
QString refusal(const std::function<void()> &action)
{
    try {
        action();
    } catch (const store::Exception &e) {
        return e.message().isNull() ? u""_s : e.message();
    }
    return {};
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<" + f.errorString().toUtf8() + ">";
    return f.readAll();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

// Every character Windows-1250 has above ASCII, in byte order, as the public
// mapping lists them (the undefined bytes as the C1 controls of their value).
QString windows1250High()
{
    return QString::fromUtf16(u"\u20AC\u0081\u201A\u0083\u201E\u2026\u2020\u2021\u0088\u2030\u0160"
                              u"\u2039\u015A\u0164\u017D\u0179"
                              u"\u0090\u2018\u2019\u201C\u201D\u2022\u2013\u2014\u0098\u2122\u0161"
                              u"\u203A\u015B\u0165\u017E\u017A"
                              u"\u00A0\u02C7\u02D8\u0141\u00A4\u0104\u00A6\u00A7\u00A8\u00A9\u015E"
                              u"\u00AB\u00AC\u00AD\u00AE\u017B"
                              u"\u00B0\u00B1\u02DB\u0142\u00B4\u00B5\u00B6\u00B7\u00B8\u0105\u015F"
                              u"\u00BB\u013D\u02DD\u013E\u017C"
                              u"\u0154\u00C1\u00C2\u0102\u00C4\u0139\u0106\u00C7\u010C\u00C9\u0118"
                              u"\u00CB\u011A\u00CD\u00CE\u010E"
                              u"\u0110\u0143\u0147\u00D3\u00D4\u0150\u00D6\u00D7\u0158\u016E\u00DA"
                              u"\u0170\u00DC\u00DD\u0162\u00DF"
                              u"\u0155\u00E1\u00E2\u0103\u00E4\u013A\u0107\u00E7\u010D\u00E9\u0119"
                              u"\u00EB\u011B\u00ED\u00EE\u010F"
                              u"\u0111\u0144\u0148\u00F3\u00F4\u0151\u00F6\u00F7\u0159\u016F\u00FA"
                              u"\u0171\u00FC\u00FD\u0163\u02D9");
}

// A register that looks like a real one: Croatian names, prices, amounts.
Rows sampleRows(int count, quint32 seed)
{
    static const char *const words[] = { "Zagreb", "Ljekarna", "Horvat", "Kovačević", "tablete",
        "mg", "Split", "Ivan", "Marija", "Ulica", "bolnica", "Rijeka", "Osijek", "KBC", "dr.",
        "Babić", "ampule", "10", "500", "Đakovo", "Šibenik", "Čakovec" };
    constexpr int wordCount = int(sizeof words / sizeof *words);
    QRandomGenerator rng(seed);
    const auto &fields = store::importRecordFields();
    Rows rows;
    rows.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        Record r;
        for (int f = 0; f < store::FieldCount; ++f) {
            if (!isText(f)) {
                r.setNumber(f, rng.bounded(100000) / 100.0);
                continue;
            }
            QString v;
            const int want = std::min(fields[size_t(f)].size, 4 + int(rng.bounded(24)));
            while (v.size() < want) {
                if (!v.isEmpty())
                    v += u' ';
                v += QString::fromUtf8(words[rng.bounded(wordCount)]);
            }
            r.setText(f, v.left(want));
        }
        rows.push_back(std::move(r));
    }
    return rows;
}

// Values that have broken hand-made XML writers before.
Rows trickyRows()
{
    Rows rows;
    rows.push_back(rec({ { "Naziv", windows1250High() },
        { "Pacijent", u"ČĆŽŠĐ čćžšđ Ąą Łł Őő Űű Ťť Ďď Ňň Řř Ůů Ĺĺ Ŕŕ"_s } }));
    rows.push_back(rec({ { "Tar_br", u"a&b"_s }, { "Ljekarna", u"a & b < c > d \" e ' f"_s },
        { "Naziv", u"&amp; &#269; ]]> <![CDATA[ --> <!--"_s },
        { "Adresa", u"redak 1\nredak 2\r\nredak 3\rkraj\tstupac"_s },
        { "Mjesto", u"  razmaci s obje strane  "_s }, { "Protokol", u"日本 😀 € ſ"_s },
        { "Propisivac", u"del\x7f znak"_s }, { "Kolicina", 2.5 }, { "Cijena", 0.1 } }));
    rows.push_back(rec({ { "Valuta", QString(300, u'V') }, { "Hpbroj", QString(1000, u'č') },
        { "Tar_br", u"12345678901234567890"_s } }));
    rows.push_back(Record());
    rows.push_back(rec({ { "Kolicina", -0.0 }, { "Cijena", 1e300 } }));
    rows.push_back(rec({ { "Kolicina", 123456789.123456789 }, { "Naziv", u" "_s } }));
    return rows;
}

// The field list exactly as the program writes it.
const QByteArray fieldList = R"(<FIELD attrname="Tar_br" fieldtype="string" WIDTH="10"/>
<FIELD attrname="Ljekarna" fieldtype="string" WIDTH="100"/>
<FIELD attrname="Naziv" fieldtype="string" WIDTH="100"/>
<FIELD attrname="Gen_ime" fieldtype="string" WIDTH="150"/>
<FIELD attrname="ATK" fieldtype="string" WIDTH="10"/>
<FIELD attrname="Proizvodjac" fieldtype="string" WIDTH="150"/>
<FIELD attrname="Kolicina" fieldtype="r8"/>
<FIELD attrname="Pacijent" fieldtype="string" WIDTH="255"/>
<FIELD attrname="Jed_mjere" fieldtype="string" WIDTH="10"/>
<FIELD attrname="Valuta" fieldtype="string" WIDTH="3"/>
<FIELD attrname="Cijena" fieldtype="r8"/>
<FIELD attrname="Protokol" fieldtype="string" WIDTH="100"/>
<FIELD attrname="Propisivac" fieldtype="string" WIDTH="255"/>
<FIELD attrname="Ustanova" fieldtype="string" WIDTH="255"/>
<FIELD attrname="Hpbroj" fieldtype="string" WIDTH="6"/>
<FIELD attrname="Mjesto" fieldtype="string" WIDTH="255"/>
<FIELD attrname="Adresa" fieldtype="string" WIDTH="255"/>
)";

const QByteArray declaration = R"(<?xml version="1.0" standalone="yes"?>)"
                               "\n";

// A packet around `rowData`, with the program's field list unless told otherwise.
QByteArray packet(const QByteArray &rowData, const QByteArray &fields = fieldList,
    const QByteArray &decl = declaration)
{
    return decl
        + R"(<DATAPACKET Version="2.0"><METADATA><FIELDS>)"
          "\n"
        + fields + "</FIELDS><PARAMS/></METADATA><ROWDATA>\n" + rowData
        + "</ROWDATA></DATAPACKET>\n";
}

QByteArray fieldsWith(const QByteArray &from, const QByteArray &to)
{
    QByteArray f = fieldList;
    if (!f.contains(from))
        qFatal("field list has no %s", from.constData());
    return f.replace(from, to);
}

QString fixture(const QString &name)
{
    return QStringLiteral(LIJEKOVI_FIXTURES "/packets/") + name;
}

// --- child processes: a save that runs out of room, and one that gets killed

constexpr char childFsizeArg[] = "--save-within-size-limit";
constexpr char childLoopArg[] = "--save-in-a-loop";

#ifdef Q_OS_UNIX
int childSaveWithinSizeLimit(const QString &path, int rowCount, rlim_t limit)
{
    const Rows rows = sampleRows(rowCount, 7);
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit rl { limit, limit };
    if (setrlimit(RLIMIT_FSIZE, &rl) != 0)
        return 4;
    try {
        store::saveDataPacketFile(path, rows);
    } catch (const store::Exception &e) {
        QTextStream(stdout) << e.message();
        return 0;
    }
    return 2;
}
#endif

int childSaveInALoop(const QString &path, int rowCount, quint32 seed)
{
    const Rows rows = sampleRows(rowCount, seed);
    QTextStream out(stdout);
    out << "ready" << Qt::endl;
    for (;;)
        store::saveDataPacketFile(path, rows);
}

} // namespace

class TestDataPacket : public QObject
{
    Q_OBJECT

private slots:
    // A file that cannot be opened is named as it is and the reason given
    // in Croatian before the system's own words. Old behaviour caught: the
    // system's English text alone, and a name's U+202E left to turn the
    // rest of the message around.
    void openFailureIsSaidInCroatian()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("nema\u202Eovdje.xml"));
        QString message;
        try {
            store::loadDataPacketFile(path);
        } catch (const store::Exception &e) {
            message = e.message();
        }
        QCOMPARE(message,
            QStringLiteral(
                "Datoteka \"%1\" ne može se otvoriti: datoteka ili mapa ne postoji (%2).")
                .arg(
                    QDir::toNativeSeparators(dir.filePath(QStringLiteral("nema<U+202E>ovdje.xml"))),
                    testsupport::missingText(path)));
    }

    void savedRowsLoadBackExactly();
    void numbersRoundTripWithShortestText_data();
    void numbersRoundTripWithShortestText();
    void serialisedLayoutIsExact();
    void savedFileIsPlainAsciiXml();
    void valuesAFileCannotHoldAreRefusedOnSave_data();
    void valuesAFileCannotHoldAreRefusedOnSave();
    void savesOnlyWhatItCanReadBack_data();
    void savesOnlyWhatItCanReadBack();

    void readsHandWrittenPackets_data();
    void readsHandWrittenPackets();
    void readsEveryWindows1250Character_data();
    void readsEveryWindows1250Character();
    void keepsCharactersOutsideWindows1250();
    void numberForms_data();
    void numberForms();

    void refusesBrokenAndHostileFiles_data();
    void refusesBrokenAndHostileFiles();
    void loadsAtTheBounds_data();
    void loadsAtTheBounds();
    void bothReadersAgree_data();
    void bothReadersAgree();
    void refusesEveryTruncation();
    void pointsAtTheFaultInALargeFile();
    void loadingALargeFileGivesWhatParsingGives_data();
    void loadingALargeFileGivesWhatParsingGives();
    void refusesOversizedFileUnread();
    void reportsWhyAFileCannotBeOpened_data();
    void reportsWhyAFileCannotBeOpened();

    void failedSaveKeepsOldFile_data();
    void failedSaveKeepsOldFile();
    void saveThatRunsOutOfRoomKeepsOldFile_data();
    void saveThatRunsOutOfRoomKeepsOldFile();
    void saveOnFullFileSystemKeepsOldFile();
    void killedSaveLeavesOldOrNewFile();
    void newFileIsPrivateReplacedFileKeepsMode_data();
    void newFileIsPrivateReplacedFileKeepsMode();

private:
    QTemporaryDir m_dir;
};

// ---------------------------------------------------------------------------
// Writing and reading back

void TestDataPacket::savedRowsLoadBackExactly()
{
    const Rows rows = trickyRows();
    const QString path = m_dir.filePath(u"Baza.xml"_s);
    store::saveDataPacketFile(path, rows);
    COMPARE_ROWS(store::loadDataPacketFile(path), rows);

    // Saving what was loaded gives the same bytes: nothing drifts from one
    // session to the next.
    const QByteArray first = readAll(path);
    store::saveDataPacketFile(path, store::loadDataPacketFile(path));
    QCOMPARE(readAll(path), first);

    // An empty register is a valid file too.
    store::saveDataPacketFile(path, {});
    QVERIFY(store::loadDataPacketFile(path).empty());
}

void TestDataPacket::numbersRoundTripWithShortestText_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("2.5") << 2.5 << QByteArray("2.5");
    QTest::newRow("0.1") << 0.1 << QByteArray("0.1");
    QTest::newRow("1e300") << 1e300 << QByteArray("1e+300");
    QTest::newRow("negative zero") << -0.0 << QByteArray("-0");
    QTest::newRow("zero") << 0.0 << QByteArray("0");
    QTest::newRow("17 digits") << 123456789.123456789 << QByteArray("123456789.12345679");
    QTest::newRow("one third") << 1.0 / 3 << QByteArray("0.3333333333333333");
    QTest::newRow("largest") << 1.7976931348623157e308 << QByteArray("1.7976931348623157e+308");
    QTest::newRow("smallest subnormal") << 5e-324 << QByteArray("5e-324");
    QTest::newRow("negative small") << -1e-7 << QByteArray("-1e-07");
    QTest::newRow("whole") << 1500.0 << QByteArray("1500");
    QTest::newRow("money") << 1234.56 << QByteArray("1234.56");
}

void TestDataPacket::numbersRoundTripWithShortestText()
{
    QFETCH(double, value);
    QFETCH(QByteArray, text);
    // A comma locale must not leak into the file.
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::Croatian, QLocale::Croatia));
    auto restore = qScopeGuard([&before] { QLocale::setDefault(before); });

    const Rows rows { rec({ { "Cijena", value } }) };
    const QByteArray bytes = store::serializeDataPacket(rows);
    QVERIFY2(bytes.contains("<ROW Cijena=\"" + text + "\"/>"), bytes.constData());
    COMPARE_ROWS(store::parseDataPacket(bytes, u"x"_s), rows);
}

void TestDataPacket::serialisedLayoutIsExact()
{
    const Rows rows { rec({ { "Tar_br", u"A&B"_s }, { "Naziv", u"Čaj \"od\" <šipka>"_s },
                          { "Kolicina", 2.5 }, { "Valuta", u"EUR"_s },
                          { "Adresa", u"a\tb\nc\rd 日"_s } }),
        Record(), rec({ { "Cijena", -0.0 }, { "Mjesto", u"Zagreb"_s } }) };
    const QByteArray expected = R"(<?xml version="1.0" standalone="yes"?>
<DATAPACKET Version="2.0"><METADATA><FIELDS>
<FIELD attrname="Tar_br" fieldtype="string" WIDTH="10"/>
<FIELD attrname="Ljekarna" fieldtype="string" WIDTH="100"/>
<FIELD attrname="Naziv" fieldtype="string" WIDTH="100"/>
<FIELD attrname="Gen_ime" fieldtype="string" WIDTH="150"/>
<FIELD attrname="ATK" fieldtype="string" WIDTH="10"/>
<FIELD attrname="Proizvodjac" fieldtype="string" WIDTH="150"/>
<FIELD attrname="Kolicina" fieldtype="r8"/>
<FIELD attrname="Pacijent" fieldtype="string" WIDTH="255"/>
<FIELD attrname="Jed_mjere" fieldtype="string" WIDTH="10"/>
<FIELD attrname="Valuta" fieldtype="string" WIDTH="3"/>
<FIELD attrname="Cijena" fieldtype="r8"/>
<FIELD attrname="Protokol" fieldtype="string" WIDTH="100"/>
<FIELD attrname="Propisivac" fieldtype="string" WIDTH="255"/>
<FIELD attrname="Ustanova" fieldtype="string" WIDTH="255"/>
<FIELD attrname="Hpbroj" fieldtype="string" WIDTH="6"/>
<FIELD attrname="Mjesto" fieldtype="string" WIDTH="255"/>
<FIELD attrname="Adresa" fieldtype="string" WIDTH="255"/>
</FIELDS><PARAMS/></METADATA><ROWDATA>
<ROW Tar_br="A&amp;B" Naziv="&#268;aj &quot;od&quot; &lt;&#353;ipka&gt;" Kolicina="2.5" Valuta="EUR" Adresa="a&#9;b&#10;c&#13;d &#26085;"/>
<ROW/>
<ROW Cijena="-0" Mjesto="Zagreb"/>
</ROWDATA></DATAPACKET>
)";
    QCOMPARE(store::serializeDataPacket(rows), expected);
    // The hand-made packets of the other tests start from this same list.
    QVERIFY(expected.contains(fieldList));
}

void TestDataPacket::savedFileIsPlainAsciiXml()
{
    const QString path = m_dir.filePath(u"ascii.xml"_s);
    store::saveDataPacketFile(path, trickyRows());
    const QByteArray bytes = readAll(path);
    const auto high
        = std::find_if(bytes.cbegin(), bytes.cend(), [](char c) { return uchar(c) >= 0x80; });
    QVERIFY2(high == bytes.cend(),
        qPrintable(u"byte above 127 at offset %1"_s.arg(high - bytes.cbegin())));

    const QString xmllint = QStandardPaths::findExecutable(u"xmllint"_s);
    if (xmllint.isEmpty())
        QSKIP("xmllint is not installed");
    QProcess lint;
    lint.setProcessChannelMode(QProcess::MergedChannels);
    lint.start(xmllint, { u"--noout"_s, path });
    QVERIFY(lint.waitForFinished(60000));
    const QByteArray said = lint.readAll();
    QVERIFY2(said.isEmpty(), said.constData());
    QCOMPARE(lint.exitCode(), 0);
}

void TestDataPacket::valuesAFileCannotHoldAreRefusedOnSave_data()
{
    QTest::addColumn<Record>("record");
    QTest::addColumn<QString>("reason");
    QTest::newRow("control character")
        << rec({ { "Naziv", u"prije\x01poslije"_s } }) << u"polje \"Naziv\" sadrži znak U+0001"_s;
    QTest::newRow("escape character")
        << rec({ { "Adresa", u"\x1b[0m"_s } }) << u"polje \"Adresa\" sadrži znak U+001B"_s;
    QTest::newRow("U+FFFF") << rec({ { "Mjesto", QString(QChar(0xFFFF)) } })
                            << u"polje \"Mjesto\" sadrži znak U+FFFF"_s;
    QTest::newRow("infinity") << rec({ { "Kolicina", qInf() } })
                              << u"polje \"Kolicina\" nema konačnu"_s;
    QTest::newRow("not a number") << rec({ { "Cijena", qQNaN() } })
                                  << u"polje \"Cijena\" nema konačnu"_s;
    Record badUtf8;
    badUtf8.setTextUtf8(field("Pacijent"), "\xC3\x28");
    QTest::newRow("broken UTF-8") << badUtf8 << u"polje \"Pacijent\" sadrži neispravan"_s;
    // The readers refuse longer text; a file they refuse is not written.
    QTest::newRow("text over 64 KB") << rec({ { "Ustanova", QString(64 * 1024 + 1, u'x') } })
                                     << u"polje \"Ustanova\" ima tekst dulji od 64 KB"_s;
}

// A value the file format cannot carry must stop the save, not turn into a
// file that no reader accepts at the next start.
void TestDataPacket::valuesAFileCannotHoldAreRefusedOnSave()
{
    QFETCH(Record, record);
    QFETCH(QString, reason);
    const QString path = m_dir.filePath(u"unsavable.xml"_s);
    store::saveDataPacketFile(path, sampleRows(3, 1));
    const QByteArray before = readAll(path);

    const Rows rows { Record(), Record(), record };
    const QString message = refusal([&] { store::saveDataPacketFile(path, rows); });
    QVERIFY2(message.contains(store::shownPath(path)), qPrintable(message));
    QVERIFY2(message.contains(u"3. zapis"_s), qPrintable(message));
    QVERIFY2(message.contains(reason), qPrintable(message));
    QCOMPARE(readAll(path), before);
    QVERIFY(!refusal([&] { store::serializeDataPacket(rows); }).isEmpty());
}

void TestDataPacket::savesOnlyWhatItCanReadBack_data()
{
    QTest::addColumn<Rows>("rows");
    QTest::addColumn<QString>("reason");
    QTest::newRow("more rows than a file may hold")
        << Rows(size_t(store::packet::MaxRows) + 1) << u"registar ima 200001 zapis,"_s;
    // Quotes take six bytes each in the file: 23 such records make 132 MB.
    Record quotes;
    for (int f = 0; f < store::FieldCount; ++f) {
        if (isText(f))
            quotes.setText(f, QString(64 * 1024, u'"'));
    }
    QTest::newRow("a file over the size limit") << Rows(23, quotes) << u"zauzeo više od 128 MB"_s;
}

// The register on disk stays one the program can open: a save whose file
// the readers would refuse is refused, and the old file stays.
void TestDataPacket::savesOnlyWhatItCanReadBack()
{
    QFETCH(Rows, rows);
    QFETCH(QString, reason);
    const QString path = m_dir.filePath(u"readback.xml"_s);
    store::saveDataPacketFile(path, sampleRows(3, 1));
    const QByteArray before = readAll(path);
    const QString message = refusal([&] { store::saveDataPacketFile(path, rows); });
    QVERIFY2(
        message.startsWith(u"Datoteka \"%1\" ne može se spremiti: "_s.arg(store::shownPath(path))),
        qPrintable(message));
    QVERIFY2(message.contains(reason), qPrintable(message));
    QCOMPARE(readAll(path), before);
}

// ---------------------------------------------------------------------------
// Reading files written elsewhere

void TestDataPacket::readsHandWrittenPackets_data()
{
    QTest::addColumn<QString>("file");
    const Rows common {
        rec({ { "Tar_br", u"0001"_s }, { "Ljekarna", u"Ljekarna Čakovec"_s },
            { "Naziv", u"Čaj od šipka"_s }, { "Gen_ime", u"Rosa canina"_s }, { "Kolicina", 2.5 },
            { "Pacijent", u"Đurđa Žužić"_s }, { "Valuta", u"EUR"_s }, { "Cijena", 12.75 },
            { "Mjesto", u"Čakovec"_s }, { "Adresa", u"Ulica Ćirila i Metoda 5"_s } }),
        rec({ { "Naziv", u"ŠĐČĆŽ šđčćž"_s }, { "Kolicina", -0.125 } }),
        Record(),
    };
    QTest::addColumn<Rows>("expected");
    QTest::newRow("windows-1250 declared, real bytes") << u"windows1250_declared.xml"_s << common;
    QTest::newRow("cp1250 declared, single quotes") << u"cp1250_declared.xml"_s << common;
    QTest::newRow("undeclared, not UTF-8: windows-1250")
        << u"windows1250_undeclared.xml"_s << common;
    QTest::newRow("UTF-8 declared") << u"utf8_declared.xml"_s << common;
    QTest::newRow("UTF-8 with BOM, no encoding") << u"utf8_bom.xml"_s << common;
    QTest::newRow("UTF-8 without any declaration") << u"utf8_undeclared.xml"_s << common;
    QTest::newRow("pure ASCII with references") << u"ascii_references.xml"_s << common;
    QTest::newRow("US-ASCII declared") << u"us_ascii_declared.xml"_s << common;
    QTest::newRow("unknown attributes, PARAMS, comments, CRLF, other widths")
        << u"legacy_extras.xml"_s << common;
}

void TestDataPacket::readsHandWrittenPackets()
{
    QFETCH(QString, file);
    QFETCH(Rows, expected);
    const QString path = fixture(file);
    const QByteArray before = readAll(path);
    COMPARE_ROWS(store::loadDataPacketFile(path), expected);
    QCOMPARE(readAll(path), before);
}

void TestDataPacket::readsEveryWindows1250Character_data()
{
    QTest::addColumn<QByteArray>("declaration");
    QTest::newRow("declared") << QByteArray(
        R"(<?xml version="1.0" encoding="windows-1250" standalone="yes"?>)");
    QTest::newRow("undeclared") << QByteArray(R"(<?xml version="1.0" standalone="yes"?>)");
}

// Every byte above 127 decodes as the system's Windows-1250 codec decodes it.
void TestDataPacket::readsEveryWindows1250Character()
{
    QFETCH(QByteArray, declaration);
    QByteArray high;
    for (int b = 0x80; b <= 0xFF; ++b)
        high.append(char(b));
    const QByteArray bytes = packet("<ROW Naziv=\"" + high + "\"/>\n", fieldList, declaration);
    COMPARE_ROWS(
        store::parseDataPacket(bytes, u"x"_s), Rows { rec({ { "Naziv", windows1250High() } }) });
}

void TestDataPacket::keepsCharactersOutsideWindows1250()
{
    const Rows expected { rec({ { "Naziv", u"日本 lijek €"_s }, { "Pacijent", u"Ærø Ñandú 😀"_s },
        { "Kolicina", 1e300 } }) };
    const QString path = fixture(u"utf8_outside_windows1250.xml"_s);
    const Rows rows = store::loadDataPacketFile(path);
    COMPARE_ROWS(rows, expected);

    // And they survive a save as references.
    const QString copy = m_dir.filePath(u"outside.xml"_s);
    store::saveDataPacketFile(copy, rows);
    QVERIFY(readAll(copy).contains("Naziv=\"&#26085;&#26412; lijek &#8364;\""));
    COMPARE_ROWS(store::loadDataPacketFile(copy), expected);
}

void TestDataPacket::numberForms_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("exponent with capital E and sign") << QByteArray("1.5E+3") << 1500.0;
    QTest::newRow("no leading digit") << QByteArray(".5") << 0.5;
    QTest::newRow("negative") << QByteArray("-12.75") << -12.75;
    QTest::newRow("integer") << QByteArray("42") << 42.0;
    QTest::newRow("long mantissa") << QByteArray("0.1000000000000000055511151231257827") << 0.1;
}

void TestDataPacket::numberForms()
{
    QFETCH(QByteArray, text);
    QFETCH(double, value);
    const QByteArray bytes = packet("<ROW Kolicina=\"" + text + "\"/>\n");
    COMPARE_ROWS(store::parseDataPacket(bytes, u"x"_s), Rows { rec({ { "Kolicina", value } }) });

    // An empty value is no value, as the writer leaves it out.
    COMPARE_ROWS(
        store::parseDataPacket(packet("<ROW Kolicina=\"\"/>\n"), u"x"_s), Rows { Record() });
}

// ---------------------------------------------------------------------------
// Refusals

namespace {

// The program's packet with `content` in its PARAMS element (on line 20).
QByteArray withParams(const QByteArray &content)
{
    return packet("<ROW Naziv=\"x\"/>\n").replace("<PARAMS/>", "<PARAMS>" + content + "</PARAMS>");
}

// The program's packet with `markup` after the declaration (on line 2).
QByteArray withComment(const QByteArray &markup)
{
    return packet("<ROW Naziv=\"x\"/>\n").insert(declaration.size(), markup);
}

// `depth` elements, each inside the one before.
QByteArray nested(int depth)
{
    return QByteArray("<a>").repeated(depth) + QByteArray("</a>").repeated(depth);
}

// A ROW with a name and `count - 1` attributes the program does not know.
QByteArray rowWithAttributes(int count)
{
    QByteArray row = "<ROW Naziv=\"x\"";
    for (int i = 1; i < count; ++i)
        row += " a" + QByteArray::number(i) + "=\"" + QByteArray::number(i) + "\"";
    return row + "/>\n";
}

// Files that must be refused: `reason` is part of the message, `line` the
// line it names (0 when the reason has no position).
void forEachBrokenFile(const std::function<void(
        const char *name, const QByteArray &bytes, const QString &reason, int line)> &add)
{
    const QByteArray row = "<ROW Naziv=\"x\"/>\n";
    // Line numbers below count from the declaration: the field list is
    // lines 3..19 and the first ROW is on line 21.
    add("empty file", QByteArray(), u"prazna"_s, 0);
    add("only a BOM", QByteArray("\xEF\xBB\xBF"), u"prazna"_s, 0);
    add("not XML", QByteArray("Ovo nije baza.\n"), u"XML"_s, 1);
    add("wrong root", QByteArray(R"(<?xml version="1.0"?><PAKET/>)"),
        u"korijenski element je \"PAKET\""_s, 1);

    // Anything that could expand entities or reach outside is refused at the DTD.
    add("entity declaration",
        QByteArray("<?xml version=\"1.0\"?>\n<!DOCTYPE DATAPACKET [<!ENTITY x \"y\">]>\n")
            + packet(row).mid(declaration.size()),
        u"DOCTYPE"_s, 2);
    add("entity expansion bomb",
        QByteArray("<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n"
                   "<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">\n"
                   "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">\n"
                   "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">\n"
                   "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">\n"
                   "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">\n"
                   "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">\n"
                   "<!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">\n"
                   "]>\n<DATAPACKET Version=\"2.0\"><ROWDATA><ROW Naziv=\"&g;\"/>"
                   "</ROWDATA></DATAPACKET>\n"),
        u"DOCTYPE"_s, 0);
    add("external entity",
        QByteArray("<?xml version=\"1.0\"?>\n<!DOCTYPE d [<!ENTITY e SYSTEM "
                   "\"file:///etc/passwd\">]>\n<DATAPACKET>&e;</DATAPACKET>\n"),
        u"DOCTYPE"_s, 0);
    add("bare DOCTYPE", QByteArray("<!DOCTYPE DATAPACKET>\n") + packet(row).mid(declaration.size()),
        u"DOCTYPE"_s, 1);
    add("undeclared entity", packet("<ROW Naziv=\"&nbsp;\"/>\n"), u"entitet \"nbsp\""_s, 21);

    // Encodings.
    add("ISO-8859-1 declared",
        packet(row, fieldList, R"(<?xml version="1.0" encoding="ISO-8859-1"?>)"),
        u"\"ISO-8859-1\""_s, 0);
    add("UTF-16 declared", packet(row, fieldList, R"(<?xml version="1.0" encoding="UTF-16"?>)"),
        u"\"UTF-16\""_s, 0);
    add("UTF-16 BOM", QByteArray("\xFF\xFE<\0?\0x\0m\0l\0", 12), u"UTF-16"_s, 0);
    add("UTF-8 declared, Windows-1250 bytes",
        packet("\n\n<ROW Naziv=\"Ka\xE8i\xE6\"/>\n", fieldList,
            R"(<?xml version="1.0" encoding="UTF-8"?>)"
            "\n"),
        u"UTF-8"_s, 23);
    add("US-ASCII declared, byte above 127",
        packet("<ROW Naziv=\"Ka\xE8i\xE6\"/>\n", fieldList,
            R"(<?xml version="1.0" encoding="US-ASCII"?>)"
            "\n"),
        u"US-ASCII"_s, 21);
    add("BOM contradicts windows-1250",
        "\xEF\xBB\xBF" + packet(row, fieldList, R"(<?xml version="1.0" encoding="windows-1250"?>)"),
        u"windows-1250"_s, 0);

    // Characters XML cannot hold.
    add("reference to a control character", packet("<ROW Naziv=\"a&#1;b\"/>\n"),
        u"referenca na znak"_s, 21);
    add("reference to a surrogate", packet("<ROW Naziv=\"&#xD800;\"/>\n"), u"referenca na znak"_s,
        21);
    add("raw control character", packet("<ROW Naziv=\"a\x02z\"/>\n"), u"XML"_s, 21);
    add("NUL byte", packet(QByteArray("<ROW Naziv=\"a\0z\"/>\n", 19)), u"XML"_s, 21);

    // Structure.
    add("duplicate attribute", packet("<ROW Naziv=\"a\" Naziv=\"b\"/>\n"),
        u"atribut \"Naziv\" ponavlja"_s, 21);
    add("second root element", packet(row) + "<DATAPACKET/>\n", u"iza kraja"_s, 23);
    add("text after the root", packet(row) + "ostatak", u"iza kraja"_s, 23);
    add("ROW outside ROWDATA",
        QByteArray(R"(<DATAPACKET><METADATA><FIELDS>)") + fieldList
            + "</FIELDS></METADATA><ROW/><ROWDATA/></DATAPACKET>",
        u"ROW nalazi se izvan ROWDATA"_s, 18);
    add("ROW before METADATA", QByteArray("<DATAPACKET><ROW/></DATAPACKET>"),
        u"ROW nalazi se izvan ROWDATA"_s, 1);
    add("unknown element in ROWDATA", packet("<ROWS Naziv=\"x\"/>\n"),
        u"element \"ROWS\" unutar \"ROWDATA\""_s, 21);
    add("element inside ROW", packet("<ROW><Naziv>x</Naziv></ROW>\n"),
        u"element \"Naziv\" unutar \"ROW\""_s, 21);
    add("ROW inside ROW", packet("<ROW>\n <ROW/></ROW>\n"), u"element \"ROW\" unutar \"ROW\""_s,
        22);
    add("text in ROWDATA", packet("<ROW/>podaci\n"), u"tekst \"podaci"_s, 21);
    add("CDATA in ROWDATA", packet("<![CDATA[<ROW/>]]>\n"), u"tekst"_s, 21);
    add("no METADATA", QByteArray("<DATAPACKET><ROWDATA/></DATAPACKET>"), u"METADATA"_s, 1);
    add("no ROWDATA",
        QByteArray("<DATAPACKET><METADATA><FIELDS>") + fieldList
            + "</FIELDS></METADATA></DATAPACKET>",
        u"ROWDATA"_s, 18);
    add("unknown element in METADATA",
        QByteArray("<DATAPACKET><METADATA><FIELDS>") + fieldList
            + "</FIELDS><INDEX/></METADATA><ROWDATA/></DATAPACKET>",
        u"element \"INDEX\" unutar \"METADATA\""_s, 18);

    // Numbers: '.' only, finite, nothing around them.
    add("number is text", packet("<ROW Kolicina=\"dvije\"/>\n"),
        u"polje \"Kolicina\" ima vrijednost \"dvije\""_s, 21);
    add("decimal comma", packet(row + "<ROW Cijena=\"2,5\"/>\n"),
        u"2. zapis, polje \"Cijena\" ima vrijednost \"2,5\""_s, 22);
    add("grouping", packet("<ROW Cijena=\"1,000.5\"/>\n"), u"\"1,000.5\""_s, 21);
    add("infinity", packet("<ROW Cijena=\"inf\"/>\n"), u"\"inf\""_s, 21);
    add("not a number", packet("<ROW Cijena=\"nan\"/>\n"), u"\"nan\""_s, 21);
    add("overflow", packet("<ROW Cijena=\"1e999\"/>\n"), u"\"1e999\""_s, 21);
    add("spaces around", packet("<ROW Cijena=\" 2.5\"/>\n"), u"\" 2.5\""_s, 21);
    add("hex", packet("<ROW Cijena=\"0x10\"/>\n"), u"\"0x10\""_s, 21);
    add("Arabic-Indic digits", packet("<ROW Cijena=\"\xD9\xA3\"/>\n"), u"nije broj"_s, 21);

    // The field list must be the program's.
    add("field missing",
        packet(
            row, fieldsWith("<FIELD attrname=\"Valuta\" fieldtype=\"string\" WIDTH=\"3\"/>\n", "")),
        u"nedostaje polje \"Valuta\""_s, 12);
    add("last field missing",
        packet(row,
            fieldsWith("<FIELD attrname=\"Adresa\" fieldtype=\"string\" WIDTH=\"255\"/>\n", "")),
        u"nedostaje polje \"Adresa\""_s, 0);
    add("field added",
        packet(
            row, fieldList + "<FIELD attrname=\"Napomena\" fieldtype=\"string\" WIDTH=\"50\"/>\n"),
        u"polje \"Napomena\" program ne poznaje"_s, 20);
    add("field renamed", packet(row, fieldsWith("\"Hpbroj\"", "\"Postanski_broj\"")),
        u"polje \"Postanski_broj\" program ne poznaje"_s, 17);
    add("fields swapped",
        packet(row,
            fieldsWith("attrname=\"Naziv\"", "attrname=\"TMP\"")
                .replace("attrname=\"Gen_ime\"", "attrname=\"Naziv\"")
                .replace("attrname=\"TMP\"", "attrname=\"Gen_ime\"")),
        u"polje \"Gen_ime\" nije na svom mjestu"_s, 5);
    add("field listed twice", packet(row, fieldsWith("attrname=\"ATK\"", "attrname=\"Naziv\"")),
        u"polje \"Naziv\" navedeno je dvaput"_s, 7);
    add("text field as number",
        packet(row,
            fieldsWith(
                "\"Hpbroj\" fieldtype=\"string\" WIDTH=\"6\"", "\"Hpbroj\" fieldtype=\"r8\"")),
        u"polje \"Hpbroj\" je vrste \"r8\", a treba biti \"string\""_s, 17);
    add("number field as text",
        packet(row,
            fieldsWith(
                "\"Kolicina\" fieldtype=\"r8\"", "\"Kolicina\" fieldtype=\"string\" WIDTH=\"10\"")),
        u"polje \"Kolicina\" je vrste \"string\", a treba biti \"r8\""_s, 9);
    add("no field list", packet(row, QByteArray()), u"nedostaje polje \"Tar_br\""_s, 0);
    add("field without a name", packet(row, fieldsWith("attrname=\"Mjesto\" ", "")),
        u"polje bez imena"_s, 18);

    // Past the bounds that keep any file's time linear and its memory a few
    // times its size; each one byte or one step past its bound (see
    // forEachFileAtTheBounds for the same files one step short).
    using store::packet::MaxTextBytes;
    const QByteArray tooLong(MaxTextBytes + 1, 'x');
    add("nesting too deep", withParams(nested(30)), u"ugniježđeni dublje od 32 razine"_s, 20);
    add("nesting too deep, never closed",
        packet(row).replace("<PARAMS/>", "<PARAMS>" + QByteArray("<a>").repeated(1000)),
        u"ugniježđeni dublje od 32 razine"_s, 20);
    add("too many attributes", packet(rowWithAttributes(65)),
        u"element \"ROW\" ima više od 64 atributa"_s, 21);
    add("comment too long", withComment("<!--" + tooLong + "-->"), u"komentar je dulji od 1 MB"_s,
        2);
    add("comment too long, never closed", withComment("<!--" + tooLong),
        u"komentar je dulji od 1 MB"_s, 2);
    add("processing instruction too long", withComment("<?pi " + tooLong.chopped(3) + "?>"),
        u"instrukcija za obradu"_s, 2);
    add("CDATA section too long", withParams("<![CDATA[" + tooLong + "]]>"),
        u"odjeljak CDATA dulji je od 1 MB"_s, 20);
    add("space between rows too long", packet(row + QByteArray(MaxTextBytes + 1, ' ') + row),
        u"tekst između elemenata dulji je od 1 MB"_s, 22);
    add("text in PARAMS too long", withParams(tooLong), u"tekst između elemenata"_s, 20);
    add("space inside a tag too long",
        packet("<ROW" + QByteArray(MaxTextBytes + 1, ' ') + "Naziv=\"x\"/>\n"),
        u"razmak unutar oznake dulji je od 1 MB"_s, 21);
    add("attribute value too long", packet("<ROW Naziv=\"" + tooLong + "\"/>\n"),
        u"vrijednost atributa \"Naziv\" dulja je od 1 MB"_s, 21);
    add("attribute value too long, never closed", packet("<ROW Naziv=\"" + tooLong),
        u"vrijednost atributa \"Naziv\" dulja je od 1 MB"_s, 21);
    add("text field too long once read",
        packet(row + "<ROW Naziv=\"" + QByteArray(64 * 1024 + 1, 'x') + "\"/>\n"),
        u"2. zapis, polje \"Naziv\" ima tekst dulji od 64 KB"_s, 22);
    add("text field too long once read, from references",
        packet("<ROW Naziv=\"" + QByteArray("&#8364;").repeated(64 * 1024 / 3 + 1) + "\"/>\n"),
        u"1. zapis, polje \"Naziv\" ima tekst dulji od 64 KB"_s, 21);
    add("too many rows", packet(QByteArray("<ROW/>\n").repeated(store::packet::MaxRows + 1)),
        u"ima više od 200000 zapisa"_s, 0);
    add("too many rows, not in the program's own shape",
        withComment("<!-- -->")
            .replace("<ROWDATA>\n",
                "<ROWDATA>\n" + QByteArray("<ROW/>").repeated(store::packet::MaxRows + 1)),
        u"ima više od 200000 zapisa"_s, 0);
}

// Files at the bounds, one step short of those refused above, which must
// load to `rows` records and save to a file that loads again.
void forEachFileAtTheBounds(
    const std::function<void(const char *name, const QByteArray &bytes, int rows)> &add)
{
    using store::packet::MaxTextBytes;
    const QByteArray row = "<ROW Naziv=\"x\"/>";
    const QByteArray longest(MaxTextBytes, 'x');
    add("nesting 32 deep", withParams(nested(29)), 1);
    add("64 attributes", packet(rowWithAttributes(64)), 1);
    add("comment of 1 MB", withComment("<!--" + longest + "-->"), 1);
    add("processing instruction of 1 MB", withComment("<?pi " + longest.chopped(3) + "?>"), 1);
    add("CDATA section of 1 MB", withParams("<![CDATA[" + longest + "]]>"), 1);
    add("space of 1 MB between rows", packet(row + QByteArray(MaxTextBytes, ' ') + row + "\n"), 2);
    add("text of 1 MB in PARAMS", withParams(longest), 1);
    add("space of 1 MB inside a tag",
        packet("<ROW" + QByteArray(MaxTextBytes, ' ') + "Naziv=\"x\"/>\n"), 1);
    add("attribute value of 1 MB", packet("<ROW RowState=\"" + longest + "\" Naziv=\"x\"/>\n"), 1);
    add("text field of 64 KB", packet("<ROW Naziv=\"" + QByteArray(64 * 1024, 'x') + "\"/>\n"), 1);
    // Saved, each of these characters takes the most room a byte can take.
    add("text field of 64 KB of quotes",
        packet("<ROW Naziv=\"" + QByteArray("&quot;").repeated(64 * 1024) + "\"/>\n"), 1);
    add("text field of 64 KB from Windows-1250",
        packet("<ROW Naziv=\"" + QByteArray("\x80").repeated(64 * 1024 / 3) + "\"/>\n", fieldList,
            R"(<?xml version="1.0" encoding="windows-1250"?>)"),
        1);
    add("200000 rows", packet(QByteArray("<ROW/>\n").repeated(store::packet::MaxRows)),
        int(store::packet::MaxRows));
}

} // namespace

void TestDataPacket::refusesBrokenAndHostileFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("line"); // 0 when the reason has no position
    forEachBrokenFile([](const char *name, const QByteArray &bytes, const QString &reason,
                          int line) { QTest::newRow(name) << bytes << reason << line; });
}

void TestDataPacket::refusesBrokenAndHostileFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    QFETCH(int, line);

    QTemporaryDir dir;
    const QString path = dir.filePath(u"Baza.xml"_s);
    QVERIFY(writeFile(path, bytes));
    const QString message = refusal([&] { store::loadDataPacketFile(path); });
    QVERIFY2(!message.isNull(), "the file was accepted");
    QVERIFY2(message.contains(u'"' + store::shownPath(path) + u'"'), qPrintable(message));
    QVERIFY2(message.contains(reason), qPrintable(message));
    if (line > 0)
        QVERIFY2(message.contains(u"(redak %1, stupac "_s.arg(line)), qPrintable(message));

    // Reading never writes.
    QCOMPARE(readAll(path), bytes);
    QCOMPARE(entries(dir.path()), QStringList { u"Baza.xml"_s });
}

void TestDataPacket::loadsAtTheBounds_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("rows");
    forEachFileAtTheBounds([](const char *name, const QByteArray &bytes, int rows) {
        QTest::newRow(name) << bytes << rows;
    });
}

// Whatever is read within the bounds is saved to a file that reads back to
// the same records, by the scan of the program's own packets.
void TestDataPacket::loadsAtTheBounds()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, rows);
    const Rows read = store::parseDataPacket(bytes, u"Baza.xml"_s);
    QCOMPARE(read.size(), size_t(rows));
    const QByteArray saved = store::serializeDataPacket(read);
    const std::optional<Rows> again = store::packet::scanOwnPacket(saved, u"Baza.xml"_s);
    QVERIFY(again.has_value());
    COMPARE_ROWS(*again, read);
}

// What the scan of the program's own packets must do with a file.
enum ScanExpectation { Either, Taken, Left };

struct Outcome
{
    std::optional<Rows> rows;
    QString refusal;
};

template <typename Read> Outcome outcomeOf(Read read)
{
    try {
        return { read(), {} };
    } catch (const store::Exception &e) {
        return { std::nullopt, e.message() };
    }
}

// The program's own packets are read by a scan made for their shape, every
// other file by the XML reader. The register is rewritten at every close, so
// a file the two read differently would be changed for good: the scan may
// take only a file the XML reader reads to the same records, and may refuse
// only what the XML reader refuses, in the same words.
void TestDataPacket::bothReadersAgree_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("scan");

    const QString top = QStringLiteral(LIJEKOVI_FIXTURES);
    for (const QString &folder : { top + u"/packets"_s, top + u"/../fuzz/corpus"_s }) {
        const QDir dir(folder);
        const QStringList files = dir.entryList(QDir::Files, QDir::Name);
        QVERIFY2(!files.isEmpty(), qPrintable(folder));
        for (const QString &file : files) {
            QTest::addRow("%s/%s", qPrintable(dir.dirName()), qPrintable(file))
                << readAll(dir.filePath(file)) << int(Either);
        }
    }
    forEachBrokenFile([](const char *name, const QByteArray &bytes, const QString &, int) {
        QTest::addRow("refused: %s", name) << bytes << int(Either);
    });
    forEachFileAtTheBounds([](const char *name, const QByteArray &bytes, int) {
        QTest::addRow("at the bounds: %s", name) << bytes << int(Either);
    });

    // The program's own packets, and the variants of them where the two
    // readers' rules meet.
    QTest::newRow("own: tricky values") << store::serializeDataPacket(trickyRows()) << int(Taken);
    QTest::newRow("own: a register")
        << store::serializeDataPacket(sampleRows(200, 7)) << int(Taken);
    QTest::newRow("own: no rows") << store::serializeDataPacket({}) << int(Taken);
    const QByteArray own = packet("<ROW Tar_br=\"1\" Naziv=\"x\" Kolicina=\"2.5\"/>\n<ROW/>\n");
    QTest::newRow("own: with a BOM") << "\xEF\xBB\xBF" + own << int(Taken);
    QTest::newRow("own: no final line end") << own.chopped(1) << int(Taken);
    QTest::newRow("own: CR LF line ends") << QByteArray(own).replace("\n", "\r\n") << int(Left);
    QTest::newRow("own: space at the end") << own + "\n \t\r\n" << int(Taken);
    QTest::newRow("own: text at the end") << own + "x" << int(Either);
    QTest::newRow("own: comment after the declaration")
        << QByteArray(own).insert(declaration.size(), "<!-- x -->") << int(Left);
    QTest::newRow("own: encoding declared")
        << QByteArray(own).replace("standalone=", "encoding=\"UTF-8\" standalone=") << int(Left);

    struct Variant
    {
        const char *name;
        QByteArray rowData;
        ScanExpectation scan;
    };
    const Variant variants[] = {
        { "predefined references", "<ROW Naziv=\"&amp;&lt;&gt;&quot;&apos;\"/>", Taken },
        { "character references", "<ROW Naziv=\"&#269;&#x107;&#X17E;&#x1F600;&#0000065;\"/>",
            Either },
        { "references at the edges of XML's characters",
            "<ROW Naziv=\"&#9;&#10;&#13;&#32;&#xD7FF;&#xE000;&#xFFFD;&#x10000;&#x10FFFF;\"/>",
            Taken },
        { "reference to NUL", "<ROW Naziv=\"&#0;\"/>", Either },
        { "reference to U+FFFE", "<ROW Naziv=\"&#xFFFE;\"/>", Either },
        { "reference to a surrogate pair", "<ROW Naziv=\"&#xD83D;&#xDE00;\"/>", Either },
        { "reference above U+10FFFF", "<ROW Naziv=\"&#x110000;\"/>", Either },
        { "reference with many digits", "<ROW Naziv=\"&#99999999999999999999999;\"/>", Either },
        { "reference without digits", "<ROW Naziv=\"&#;&#x;\"/>", Either },
        { "reference without a semicolon", "<ROW Naziv=\"&amp\"/>", Either },
        { "uppercase hex digits", "<ROW Naziv=\"&#xABCD;\"/>", Taken },
        { "'>', ']]>' and apostrophe as they are", "<ROW Naziv=\"a>b ]]> 'c'\"/>", Taken },
        { "tab in a value", "<ROW Naziv=\"a\tb\"/>", Left },
        { "line end in a value", "<ROW Naziv=\"a\nb\"/>", Left },
        { "byte above 127 in a value", "<ROW Naziv=\"\xC4\x8D\"/>", Left },
        { "DEL in a value, as the program writes it", "<ROW Naziv=\"a\x7F\"/>", Taken },
        { "'<' in a value", "<ROW Naziv=\"a<b\"/>", Either },
        { "empty values", "<ROW Naziv=\"\" Kolicina=\"\"/>", Taken },
        { "space, tab, CR and LF between attributes", "<ROW \tNaziv=\"a\"\r\n ATK=\"b\"\n/>",
            Taken },
        { "space after the element name only", "<ROW />", Taken },
        { "no space between attributes", "<ROW Naziv=\"a\"ATK=\"b\"/>", Either },
        { "space around '='", "<ROW Naziv = \"a\"/>", Left },
        { "single quotes", "<ROW Naziv='a'/>", Left },
        { "fields out of order", "<ROW Adresa=\"a\" Tar_br=\"1\" Naziv=\"x\"/>", Taken },
        { "every field, twice over in a row of its own",
            "<ROW Tar_br=\"1\" Ljekarna=\"2\" Naziv=\"3\" Gen_ime=\"4\" ATK=\"5\" "
            "Proizvodjac=\"6\" "
            "Kolicina=\"7\" Pacijent=\"8\" Jed_mjere=\"9\" Valuta=\"10\" Cijena=\"11\" "
            "Protokol=\"12\" Propisivac=\"13\" Ustanova=\"14\" Hpbroj=\"15\" Mjesto=\"16\" "
            "Adresa=\"17\"/>\n<ROW Adresa=\"1\"/>",
            Taken },
        { "repeated attribute", "<ROW Naziv=\"a\" Naziv=\"a\"/>", Either },
        { "unknown attribute", "<ROW RowState=\"4\" Naziv=\"a\"/>", Left },
        { "field name in another case", "<ROW naziv=\"a\"/>", Left },
        { "end tag instead of />", "<ROW Naziv=\"a\"></ROW>", Left },
        { "element in another case", "<row Naziv=\"a\"/>", Either },
        { "rows without line ends", "<ROW Naziv=\"a\"/><ROW/><ROW Naziv=\"b\"/>", Taken },
        { "numbers in their forms",
            "<ROW Kolicina=\"1e5\" Cijena=\"-0\"/><ROW Kolicina=\"1E-5\" Cijena=\".5\"/>"
            "<ROW Kolicina=\"5.\" Cijena=\"0.1000000000000000055511151231257827\"/>",
            Taken },
        { "number with a plus sign", "<ROW Kolicina=\"+1\"/>", Either },
        { "number too large", "<ROW Kolicina=\"1e400\"/>", Either },
        { "number too small", "<ROW Kolicina=\"1e-400\"/>", Either },
        { "subnormal number", "<ROW Kolicina=\"4e-320\"/>", Either },
        { "hexadecimal float", "<ROW Kolicina=\"0x1p3\"/>", Either },
        { "infinity spelt out", "<ROW Cijena=\"infinity\"/>", Either },
        { "number as a reference", "<ROW Kolicina=\"&#49;\"/>", Left },
        { "number with spaces", "<ROW Kolicina=\" 1\"/>", Either },
    };
    for (const Variant &v : variants)
        QTest::addRow("own: %s", v.name) << packet(v.rowData + "\n") << int(v.scan);
}

void TestDataPacket::bothReadersAgree()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, scan);
    const QString source = u"Baza.xml"_s;

    const Outcome xml = outcomeOf([&] { return store::packet::readXml(bytes, source); });
    if (!xml.rows)
        QVERIFY2(xml.refusal.startsWith(u"Datoteka \"Baza.xml\" "_s), qPrintable(xml.refusal));

    std::optional<Rows> scanned;
    QString scanRefusal;
    try {
        scanned = store::packet::scanOwnPacket(bytes, source);
    } catch (const store::Exception &e) {
        scanRefusal = e.message();
    }
    if (!scanRefusal.isNull()) {
        QCOMPARE(scanRefusal, xml.refusal);
    } else if (scanned) {
        QVERIFY2(xml.rows.has_value(),
            qPrintable(u"the scan took a file the XML reader refuses: "_s + xml.refusal));
        COMPARE_ROWS(*scanned, *xml.rows);
    }
    if (scan == Taken)
        QVERIFY2(scanned.has_value(), "the scan left a packet in the program's own shape");
    if (scan == Left)
        QVERIFY2(!scanned && scanRefusal.isNull(), "the scan took a packet not in its shape");

    // The program's entry point picks a reader and gives the XML reader's answer.
    const Outcome picked = outcomeOf([&] { return store::parseDataPacket(bytes, source); });
    QCOMPARE(picked.refusal, xml.refusal);
    if (xml.rows)
        COMPARE_ROWS(*picked.rows, *xml.rows);
}

// A file cut anywhere, as by a full disk or a copy that stopped, is refused
// rather than read as a shorter register.
void TestDataPacket::refusesEveryTruncation()
{
    const QByteArray whole = store::serializeDataPacket(trickyRows());
    const qsizetype rootClosed = whole.lastIndexOf('>') + 1;
    COMPARE_ROWS(store::parseDataPacket(whole.left(rootClosed), u"x"_s), trickyRows());
    for (qsizetype cut = 0; cut < rootClosed; ++cut) {
        const QString message
            = refusal([&] { store::parseDataPacket(whole.left(cut), u"Baza.xml"_s); });
        QVERIFY2(!message.isNull(), qPrintable(u"cut at %1 was accepted"_s.arg(cut)));
        QVERIFY2(message.startsWith(u"Datoteka \"Baza.xml\" nije ispravna"_s), qPrintable(message));
    }
    // Past the first row the reason is the plain one.
    const QString message = refusal(
        [&] { store::parseDataPacket(whole.left(whole.indexOf("<ROW") + 10), u"Baza.xml"_s); });
    QVERIFY2(message.contains(u"nepotpuna"_s), qPrintable(message));
}

// A large file is read in slices; a fault far into it is still placed on
// its own line and record.
void TestDataPacket::pointsAtTheFaultInALargeFile()
{
    auto lineStart = [](const QByteArray &bytes, int line) {
        qsizetype at = 0;
        for (int l = 1; l < line; ++l)
            at = bytes.indexOf('\n', at) + 1;
        return at;
    };
    // Row 2500 is on line 20 + 2500; break its first number.
    QByteArray bytes = store::serializeDataPacket(sampleRows(3000, 9));
    QVERIFY(bytes.size() > 512 * 1024);
    qsizetype at = lineStart(bytes, 2520);
    QCOMPARE(bytes.mid(at, 5), QByteArray("<ROW "));
    bytes[bytes.indexOf("Kolicina=\"", at) + 10] = 'x';
    const QString message = refusal([&] { store::parseDataPacket(bytes, u"Baza.xml"_s); });
    QVERIFY2(message.contains(u"(redak 2520, stupac "_s), qPrintable(message));
    QVERIFY2(message.contains(u"2500. zapis, polje \"Kolicina\""_s), qPrintable(message));

    // The same for a fault the XML reader finds itself, in a Windows-1250 file.
    QByteArray legacy = store::serializeDataPacket(sampleRows(3000, 9));
    legacy.replace(R"(standalone="yes"?>)", R"(encoding="windows-1250" standalone="yes"?>)");
    legacy.replace("&#268;", "\xC8");
    at = lineStart(legacy, 2520);
    QCOMPARE(legacy.mid(at, 5), QByteArray("<ROW "));
    legacy[at + 1] = '!';
    const QString legacyMessage = refusal([&] { store::parseDataPacket(legacy, u"Baza.xml"_s); });
    QVERIFY2(legacyMessage.contains(u"(redak 2520, stupac "_s), qPrintable(legacyMessage));
}

// Loading a file lets the XML reader give the pages it has read back to the
// system as it goes. Whatever it finds late in a large file, a record or a
// fault, must come out as it does from the same bytes held whole.
void TestDataPacket::loadingALargeFileGivesWhatParsingGives_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("loads");
    QByteArray legacy = store::serializeDataPacket(sampleRows(12000, 4));
    legacy.replace(R"(standalone="yes"?>)", R"(encoding="windows-1250" standalone="yes"?>)");
    legacy.replace("&#268;", "\xC8");
    QVERIFY(legacy.size() > 4 * 1024 * 1024);
    // The start of row 11000, well past the first pages given back.
    qsizetype late = 0;
    for (int row = 0; row < 11000; ++row)
        late = legacy.indexOf("<ROW ", late) + 5;
    late -= 5;

    QTest::newRow("Windows-1250 register") << legacy << true;
    QByteArray broken = legacy;
    broken[late + 1] = '!';
    QTest::newRow("the XML reader's own fault, late") << broken << false;
    QByteArray number = legacy;
    number[number.indexOf("Kolicina=\"", late) + 10] = 'x';
    QTest::newRow("a field that is not a number, late") << number << false;
    QTest::newRow("a bound broken late")
        << QByteArray(legacy).insert(late, "<!--" + QByteArray(1100 * 1024, 'x') + "-->\n")
        << false;
    QByteArray utf8 = store::serializeDataPacket(sampleRows(12000, 5));
    utf8.replace("<ROW ", "<ROW RowState=\"4\" "); // not the program's own shape
    QTest::newRow("UTF-8 in another shape") << utf8 << true;
}

void TestDataPacket::loadingALargeFileGivesWhatParsingGives()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, loads);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"Baza.xml"_s);
    QVERIFY(writeFile(path, bytes));
    QVERIFY(!store::packet::scanOwnPacket(bytes, path).has_value());

    const Outcome loaded = outcomeOf([&] { return store::loadDataPacketFile(path); });
    const Outcome parsed = outcomeOf([&] { return store::parseDataPacket(bytes, path); });
    QCOMPARE(loaded.rows.has_value(), loads);
    QCOMPARE(loaded.refusal, parsed.refusal);
    if (!loads)
        QVERIFY2(loaded.refusal.contains(u"(redak "_s), qPrintable(loaded.refusal));
    else
        COMPARE_ROWS(*loaded.rows, *parsed.rows);
}

void TestDataPacket::refusesOversizedFileUnread()
{
    const QString path = m_dir.filePath(u"huge.xml"_s);
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.write(packet("<ROW/>\n")));
        QVERIFY(f.resize(store::MaxDataFileSize + 1)); // sparse: costs no disk
    }
    const QString message = refusal([&] { store::loadDataPacketFile(path); });
    QVERIFY2(message.contains(store::shownPath(path)) && message.contains(u"prevelika"_s),
        qPrintable(message));
    QFile::remove(path);

    // The in-memory entry point has the same bound.
    QByteArray big(store::MaxDataFileSize + 1, ' ');
    QVERIFY(refusal([&] { store::parseDataPacket(big, u"x"_s); }).contains(u"prevelika"_s));
}

void TestDataPacket::reportsWhyAFileCannotBeOpened_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");
    // The system's own text for each.
    QTest::newRow("missing") << u"nema.xml"_s
                             << testsupport::missingText(m_dir.filePath(u"nema.xml"_s));
    QTest::newRow("a folder") << u"mapa.xml"_s << u"mapa"_s;
    QTest::newRow("missing folder")
        << u"nema/Baza.xml"_s << testsupport::missingText(m_dir.filePath(u"nema/Baza.xml"_s));
}

void TestDataPacket::reportsWhyAFileCannotBeOpened()
{
    QFETCH(QString, name);
    QFETCH(QString, reason);
    QDir(m_dir.path()).mkpath(u"mapa.xml"_s);
    const QString path = m_dir.filePath(name);
    const QString message = refusal([&] { store::loadDataPacketFile(path); });
    QVERIFY2(message.contains(store::shownPath(path)), qPrintable(message));
    QVERIFY2(!reason.isEmpty() && message.contains(reason), qPrintable(message));
    QVERIFY(!QFileInfo::exists(m_dir.filePath(u"nema.xml"_s)));
}

// ---------------------------------------------------------------------------
// Saving safely

void TestDataPacket::failedSaveKeepsOldFile_data()
{
    // Root ignores permissions, so unwritable places are made of things
    // that are not folders.
    QTest::addColumn<QString>("target"); // relative to a fresh folder
    QTest::addColumn<QString>("occupant"); // what is there and must stay as it is
    QTest::addColumn<bool>("occupantIsDir");
    QTest::newRow("parent is a regular file") << u"obicna/Baza.xml"_s << u"obicna"_s << false;
    QTest::newRow("target is a folder with files") << u"Baza.xml"_s << u"Baza.xml"_s << true;
}

void TestDataPacket::failedSaveKeepsOldFile()
{
    QFETCH(QString, target);
    QFETCH(QString, occupant);
    QFETCH(bool, occupantIsDir);
    QTemporaryDir dir;
    const QString occupantPath = dir.filePath(occupant);
    const QByteArray old = store::serializeDataPacket(sampleRows(2, 3));
    const QString oldFile = occupantIsDir ? occupantPath + u"/staro.xml"_s : occupantPath;
    if (occupantIsDir)
        QVERIFY(QDir(dir.path()).mkpath(occupant));
    QVERIFY(writeFile(oldFile, old));

    const QString path = dir.filePath(target);
    const QString message = refusal([&] { store::saveDataPacketFile(path, sampleRows(5, 4)); });
    QVERIFY2(
        message.startsWith(u"Datoteka \"%1\" ne može se spremiti: "_s.arg(store::shownPath(path))),
        qPrintable(message));
    QVERIFY2(message.size() > path.size() + 40, qPrintable(message)); // a reason follows
    QCOMPARE(readAll(oldFile), old);
    QCOMPARE(entries(dir.path()), QStringList { occupant });
    if (occupantIsDir)
        QCOMPARE(entries(occupantPath), QStringList { u"staro.xml"_s });
}

void TestDataPacket::saveThatRunsOutOfRoomKeepsOldFile_data()
{
    QTest::addColumn<int>("rowCount");
    QTest::addColumn<int>("limit");
    QTest::addColumn<bool>("buffered");
    // Qt writes more than its 16 KiB buffer straight through and reports a
    // short count; less stays in the buffer until flushed.
    QTest::newRow("one large write") << 400 << 32 * 1024 << false;
    QTest::newRow("buffered write") << 20 << 2 * 1024 << true;
}

void TestDataPacket::saveThatRunsOutOfRoomKeepsOldFile()
{
    QFETCH(int, rowCount);
    QFETCH(int, limit);
    QFETCH(bool, buffered);
#ifdef Q_OS_UNIX
    const qsizetype newSize = store::serializeDataPacket(sampleRows(rowCount, 7)).size();
    QVERIFY(newSize > limit);
    QCOMPARE(newSize < 16 * 1024, buffered);

    QTemporaryDir dir;
    const QString path = dir.filePath(u"Baza.xml"_s);
    store::saveDataPacketFile(path, sampleRows(1, 1));
    const QByteArray old = readAll(path);
    QVERIFY(old.size() < limit);

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
        { QString::fromLatin1(childFsizeArg), path, QString::number(rowCount),
            QString::number(limit) });
    QVERIFY(child.waitForFinished(60000));
    const QString said = QString::fromUtf8(child.readAllStandardOutput());
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QVERIFY2(child.exitCode() == 0,
        qPrintable(u"exit code %1 (2: the save reported success), said: %2"_s.arg(child.exitCode())
                       .arg(said)));
    QVERIFY2(
        said.startsWith(u"Datoteka \"%1\" ne može se spremiti: "_s.arg(store::shownPath(path))),
        qPrintable(said));
    QCOMPARE(readAll(path), old);
    QCOMPARE(entries(dir.path()), QStringList { u"Baza.xml"_s });
#else
    Q_UNUSED(rowCount);
    Q_UNUSED(limit);
    Q_UNUSED(buffered);
    QSKIP("needs a limit on a file's size, setrlimit(RLIMIT_FSIZE) (POSIX only)");
#endif
}

void TestDataPacket::saveOnFullFileSystemKeepsOldFile()
{
    QTemporaryDir dir;
    const QString mountPoint = dir.filePath(u"mali"_s);
    QVERIFY(QDir(dir.path()).mkpath(u"mali"_s));
    if (QProcess::execute(
            u"mount"_s, { u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=64k"_s, u"tmpfs"_s, mountPoint })
        != 0)
        QSKIP("cannot mount a small tmpfs here");
    auto unmount = qScopeGuard([&] { QProcess::execute(u"umount"_s, { mountPoint }); });

    const QString path = mountPoint + u"/Baza.xml"_s;
    store::saveDataPacketFile(path, sampleRows(20, 1));
    const QByteArray old = readAll(path);

    for (const int rowCount : { 300, 40 }) { // one large write, then one that fits the buffer
        const Rows rows = sampleRows(rowCount, 2);
        // Fill the disk so that even the small one cannot fit.
        QFile filler(mountPoint + u"/punjenje"_s);
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Truncate));
        if (rowCount == 40) {
            const QByteArray block(1024, 'x');
            while (filler.write(block) == block.size() && filler.flush()) { }
        }
        filler.close();
        const QString message = refusal([&] { store::saveDataPacketFile(path, rows); });
        QVERIFY2(message.startsWith(
                     u"Datoteka \"%1\" ne može se spremiti: "_s.arg(store::shownPath(path))),
            qPrintable(u"%1 rows: %2"_s.arg(rowCount).arg(message)));
        QCOMPARE(readAll(path), old);
        QFile::remove(filler.fileName());
        QCOMPARE(entries(mountPoint), QStringList { u"Baza.xml"_s });
    }
}

// Whenever the program dies during a save, the file is the old register or
// the new one, whole.
void TestDataPacket::killedSaveLeavesOldOrNewFile()
{
    constexpr int rowCount = 10000;
    const Rows oldRows = sampleRows(rowCount, 100);
    const Rows newRows = sampleRows(rowCount, 200);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"Baza.xml"_s);
    QRandomGenerator rng(20240601);
    int sawOld = 0;
    int sawNew = 0;
    for (int round = 0; round < 30; ++round) {
        store::saveDataPacketFile(path, oldRows);
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
            { QString::fromLatin1(childLoopArg), path, QString::number(rowCount) });
        QVERIFY(child.waitForStarted());
        QVERIFY(child.waitForReadyRead(60000));
        QCOMPARE(child.readLine().trimmed(), QByteArray("ready"));
        QThread::usleep(rng.bounded(150000));
        child.kill();
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);

        const Rows found = store::loadDataPacketFile(path);
        QString whyOld, whyNew;
        if (sameRows(found, oldRows, &whyOld))
            ++sawOld;
        else if (sameRows(found, newRows, &whyNew))
            ++sawNew;
        else
            QFAIL(qPrintable(
                u"round %1: neither old (%2) nor new (%3)"_s.arg(round).arg(whyOld, whyNew)));
    }
    qInfo("after 30 kills: %d times the old register, %d times the new one", sawOld, sawNew);
}

void TestDataPacket::newFileIsPrivateReplacedFileKeepsMode_data()
{
    QTest::addColumn<int>("existingMode"); // -1: no file yet
    QTest::addColumn<int>("expectedMode");
    QTest::newRow("new file") << -1 << 0600;
    QTest::newRow("replaced 0644") << 0644 << 0644;
    QTest::newRow("replaced 0640") << 0640 << 0640;
    QTest::newRow("replaced 0666") << 0666 << 0666;
}

void TestDataPacket::newFileIsPrivateReplacedFileKeepsMode()
{
    QFETCH(int, existingMode);
    QFETCH(int, expectedMode);
    if (existingMode >= 0)
        LIJEKOVI_POSIX_ONLY("modes for the group and others");
    QTemporaryDir dir;
    const QString path = dir.filePath(u"Baza.xml"_s);
    // A permissive umask must not open a new file to others.
    const testsupport::PermissiveUmask umask;
    if (existingMode >= 0) {
        QVERIFY(writeFile(path, "staro"));
        QVERIFY(testsupport::setFileMode(path, uint(existingMode)));
    }
    store::saveDataPacketFile(path, sampleRows(2, 1));
    QCOMPARE(int(testsupport::fileMode(path)), expectedMode);
    COMPARE_ROWS(store::loadDataPacketFile(path), sampleRows(2, 1));
}

int main(int argc, char *argv[])
{
#ifdef Q_OS_UNIX
    if (argc == 5 && std::strcmp(argv[1], childFsizeArg) == 0)
        return childSaveWithinSizeLimit(
            QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]), rlim_t(std::atoll(argv[4])));
#endif
    if (argc == 4 && std::strcmp(argv[1], childLoopArg) == 0)
        return childSaveInALoop(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]), 200);

    QCoreApplication app(argc, argv);
    TestDataPacket test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_datapacket.moc"

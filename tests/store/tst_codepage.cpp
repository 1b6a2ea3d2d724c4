#include "store/codepage.h"

#include <QStringDecoder>
#include <QTest>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

using namespace Qt::StringLiterals;

class TestCodepage : public QObject
{
    Q_OBJECT
private slots:
    void lettersAndTheirBytes_data();
    void lettersAndTheirBytes();
    void agreesWithTheSystemConverter();
    void whatTheCodePageLacks_data();
    void whatTheCodePageLacks();
};

void TestCodepage::lettersAndTheirBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("Croatian capitals") << u"ČĆĐŠŽ"_s << QByteArray("\xC8\xC6\xD0\x8A\x8E");
    QTest::newRow("Croatian small letters") << u"čćđšž"_s << QByteArray("\xE8\xE6\xF0\x9A\x9E");
    QTest::newRow("euro, quotes, dashes") << u"€„“”–—"_s << QByteArray("\x80\x84\x93\x94\x96\x97");
    QTest::newRow("no-break space, section, degree") << u"\u00A0§°"_s << QByteArray("\xA0\xA7\xB0");
    QTest::newRow("the last byte: dot above") << u"\u02D9"_s << QByteArray("\xFF");
    // Bytes the code page leaves undefined come back as the C1 control of
    // the same value, so nothing read is ever lost on the way through.
    QTest::newRow("undefined bytes")
        << u"\u0081\u0083\u0088\u0090\u0098"_s << QByteArray("\x81\x83\x88\x90\x98");
    QTest::newRow("ASCII") << u"Zagreb 10;\"x\""_s << QByteArray("Zagreb 10;\"x\"");
}

void TestCodepage::lettersAndTheirBytes()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(store::codepage::encode(text), bytes);
    QCOMPARE(store::codepage::decode(bytes), text);
    for (const QChar c : text)
        QVERIFY2(store::codepage::holds(c),
            qPrintable(u"U+%1"_s.arg(int(c.unicode()), 4, 16, QChar(u'0'))));
}

namespace {

#ifdef Q_OS_WIN
// Windows' own code page 1250, where Qt has no converter for it.
QString systemDecode(QByteArrayView bytes)
{
    wchar_t out[8] = {};
    const int n = MultiByteToWideChar(1250, 0, bytes.data(), int(bytes.size()), out, 8);
    return n > 0 ? QString::fromWCharArray(out, n) : QString();
}
#endif

} // namespace

// The table is the program's own so that a build without a converter for
// the code page writes the same bytes; where the system has one, both must
// agree on every byte and on every character.
void TestCodepage::agreesWithTheSystemConverter()
{
#ifdef Q_OS_WIN
    const auto decode = [](QByteArrayView bytes) { return systemDecode(bytes); };
#else
    QStringDecoder decoder("windows-1250", QStringDecoder::Flag::Stateless);
    if (!decoder.isValid())
        QSKIP("this system has no Windows-1250 converter; the table is checked by its rows");
    const auto decode = [&decoder](QByteArrayView bytes) { return QString(decoder.decode(bytes)); };
#endif
    for (int b = 0; b < 256; ++b) {
        const char octet = char(b);
        const QString system = decode(QByteArrayView(&octet, 1));
        QCOMPARE(QString(QChar(store::codepage::toUnicode(uchar(b)))), system);
    }
    for (char32_t u = 0; u < 0x10000; ++u) {
        const QChar c { char16_t(u) };
        if (c.isSurrogate())
            continue;
        const QByteArray mine = store::codepage::encode(QStringView(&c, 1), '?');
        const bool roundTrips = mine.size() == 1 && decode(mine) == QString(c);
        QCOMPARE(store::codepage::holds(c), roundTrips);
    }
}

void TestCodepage::whatTheCodePageLacks_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("Spanish and Nordic letters") << u"ÑñÆø"_s << QByteArray("????");
    QTest::newRow("a CJK word") << u"日本"_s << QByteArray("??");
    QTest::newRow("a surrogate pair is one character") << u"a😀b"_s << QByteArray("a?b");
    QTest::newRow("a lone surrogate") << QString(QChar(0xD800)) << QByteArray("?");
}

void TestCodepage::whatTheCodePageLacks()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(store::codepage::encode(text), bytes);
}

QTEST_GUILESS_MAIN(TestCodepage)
#include "tst_codepage.moc"

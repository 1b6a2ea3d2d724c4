// The window's artwork as the program gets it: through the resource file,
// decoded by Qt. A glyph the buttons cannot mask (wrong bottom-left colour),
// a bitmap in a format older viewers reject, or an icon without its mask
// all look fine in an image editor and wrong on screen, so they are checked
// here.

#include <QFile>
#include <QImage>
#include <QSet>
#include <QtEndian>
#include <QtTest>

namespace {

QByteArray resource(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

template <typename T> T le(const QByteArray &bytes, int offset)
{
    return qFromLittleEndian<T>(bytes.constData() + offset);
}

bool isGreyOrWhite(QRgb c)
{
    return qRed(c) == qGreen(c) && qGreen(c) == qBlue(c) && qRed(c) >= 0x80;
}

} // namespace

class tst_Artwork : public QObject
{
    Q_OBJECT

private slots:
    void glyph_data();
    void glyph();
    void disabledHalfIsGreyCopy_data();
    void disabledHalfIsGreyCopy();
    void windowIcon();
};

void tst_Artwork::glyph_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("images");
    QTest::addColumn<QRgb>("transparent");

    const QRgb fuchsia = qRgb(0xff, 0x00, 0xff);
    const QRgb olive = qRgb(0x80, 0x80, 0x00);
    const QRgb purple = qRgb(0x80, 0x00, 0x80);
    QTest::newRow("first") << ":/artwork/first.bmp" << 1 << fuchsia;
    QTest::newRow("prior") << ":/artwork/prior.bmp" << 1 << fuchsia;
    QTest::newRow("next") << ":/artwork/next.bmp" << 1 << fuchsia;
    QTest::newRow("last") << ":/artwork/last.bmp" << 1 << fuchsia;
    QTest::newRow("delete") << ":/artwork/delete.bmp" << 1 << fuchsia;
    QTest::newRow("add") << ":/artwork/add.bmp" << 1 << fuchsia;
    QTest::newRow("export") << ":/artwork/export.bmp" << 2 << olive;
    QTest::newRow("erase") << ":/artwork/erase.bmp" << 2 << purple;
    QTest::newRow("exit") << ":/artwork/exit.bmp" << 2 << olive;
}

// Each glyph is a 16-colour bottom-up Windows bitmap whose bottom-left pixel
// holds the colour the buttons make transparent, with a drawing in every
// 16x16 image it holds.
void tst_Artwork::glyph()
{
    QFETCH(QString, path);
    QFETCH(int, images);
    QFETCH(QRgb, transparent);

    const QByteArray bytes = resource(path);
    QVERIFY2(
        bytes.size() > 54, qPrintable(path + QStringLiteral(" is missing from the resources")));
    QCOMPARE(bytes.left(2), QByteArray("BM"));
    QCOMPARE(le<quint32>(bytes, 14), 40u); // BITMAPINFOHEADER
    QCOMPARE(le<qint32>(bytes, 18), 16 * images);
    QCOMPARE(le<qint32>(bytes, 22), 16); // positive: rows stored bottom-up
    QCOMPARE(le<quint16>(bytes, 28), quint16(4)); // bits per pixel
    QCOMPARE(le<quint32>(bytes, 30), 0u); // BI_RGB, uncompressed
    const quint32 used = le<quint32>(bytes, 46);
    QVERIFY(used == 0 || used == 16);

    QImage image;
    QVERIFY(image.loadFromData(bytes, "BMP"));
    QCOMPARE(image.size(), QSize(16 * images, 16));

    // The palette must hold the transparent colour exactly, or masking by
    // colour would leave a coloured box around the drawing.
    QCOMPARE(QColor(image.pixel(0, image.height() - 1)), QColor(transparent));

    for (int i = 0; i < images; ++i) {
        int drawn = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 16 * i; x < 16 * (i + 1); ++x)
                drawn += image.pixel(x, y) != transparent;
        QVERIFY2(drawn >= 12, qPrintable(QStringLiteral("image %1 is (nearly) empty").arg(i)));
        QVERIFY2(drawn < 16 * 16, qPrintable(QStringLiteral("image %1 has no background").arg(i)));
    }
}

void tst_Artwork::disabledHalfIsGreyCopy_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("export") << ":/artwork/export.bmp";
    QTest::newRow("erase") << ":/artwork/erase.bmp";
    QTest::newRow("exit") << ":/artwork/exit.bmp";
}

// The right half is what a disabled button shows: the same drawing, in
// greys only, so the button keeps its look but plainly does nothing.
void tst_Artwork::disabledHalfIsGreyCopy()
{
    QFETCH(QString, path);
    const QImage image(path);
    QVERIFY(!image.isNull());
    const QRgb transparent = image.pixel(0, 15);
    QCOMPARE(image.pixel(16, 15), transparent);

    QSet<QRgb> enabledColours;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const QRgb on = image.pixel(x, y);
            const QRgb off = image.pixel(16 + x, y);
            QVERIFY2((on == transparent) == (off == transparent),
                qPrintable(QStringLiteral("outlines differ at %1,%2").arg(x).arg(y)));
            if (off != transparent) {
                QVERIFY2(isGreyOrWhite(off),
                    qPrintable(QStringLiteral("colour #%1 at %2,%3 in the disabled image")
                                   .arg(off & 0xffffff, 6, 16, QLatin1Char('0'))
                                   .arg(16 + x)
                                   .arg(y)));
                enabledColours.insert(on);
            }
        }
    }
    // The enabled image is in colour: it is not itself the grey copy.
    bool coloured = false;
    for (QRgb c : std::as_const(enabledColours))
        coloured = coloured || !(qRed(c) == qGreen(c) && qGreen(c) == qBlue(c));
    QVERIFY(coloured);
}

// The window icon: one 32x32 image of 16 colours with a transparency mask,
// the flask opaque in the middle and the corners see-through.
void tst_Artwork::windowIcon()
{
    const QByteArray bytes = resource(QStringLiteral(":/artwork/lijekovi.ico"));
    QVERIFY2(bytes.size() > 22, "the icon is missing from the resources");
    QCOMPARE(le<quint16>(bytes, 2), quint16(1)); // an icon, not a cursor
    QCOMPARE(le<quint16>(bytes, 4), quint16(1)); // one image
    QCOMPARE(quint8(bytes[6]), quint8(32));
    QCOMPARE(quint8(bytes[7]), quint8(32));
    QCOMPARE(quint8(bytes[8]), quint8(16)); // colours
    QCOMPARE(le<quint16>(bytes, 12), quint16(4)); // bits per pixel
    const quint32 offset = le<quint32>(bytes, 18);
    const quint32 length = le<quint32>(bytes, 14);
    QCOMPARE(offset + length, quint32(bytes.size()));
    // Colour part (32 rows of 16 bytes) plus the AND mask (32 rows of 4).
    QCOMPARE(length, 40u + 16 * 4 + 32 * 16 + 32 * 4);

    QImage icon;
    QVERIFY(icon.loadFromData(bytes, "ICO"));
    QCOMPARE(icon.size(), QSize(32, 32));
    QVERIFY(icon.hasAlphaChannel());
    for (const QPoint corner : { QPoint(0, 0), QPoint(31, 0), QPoint(0, 31), QPoint(31, 31) })
        QCOMPARE(qAlpha(icon.pixel(corner)), 0);
    // Blue liquid in the lower part of the round body.
    const QRgb liquid = icon.pixel(16, 26);
    QCOMPARE(qAlpha(liquid), 255);
    QVERIFY(qBlue(liquid) > 0x60 && qRed(liquid) < 0x40 && qGreen(liquid) < 0x40);
    int opaque = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            opaque += qAlpha(icon.pixel(x, y)) == 255;
    QVERIFY2(opaque > 200 && opaque < 32 * 32 - 200,
        qPrintable(QStringLiteral("%1 opaque pixels").arg(opaque)));
}

QTEST_GUILESS_MAIN(tst_Artwork)
#include "tst_artwork.moc"

#include "toolkit/bitbtn.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

using toolkit::BitBtn;

namespace {

const QColor kMagenta(255, 0, 255);
const QColor kRed(255, 0, 0);
const QColor kBlue(0, 0, 255);

// A glyph of `size` filled with `key` (so its bottom-left pixel is `key`)
// with a square of `colour` inside each 16-pixel picture.
QImage glyph(QSize size, const QColor &key, const QList<QColor> &squares)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(key);
    QPainter p(&image);
    for (int i = 0; i < squares.size(); ++i)
        p.fillRect(QRect(i * 16 + 4, 4, 8, 8), squares[i]);
    return image;
}

// Bounding box of the pixels of exactly `colour` in the button's picture.
QRect find(const QImage &image, const QColor &colour)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y).rgb() == colour.rgb())
                box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

int count(const QImage &image, const QColor &colour)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            n += image.pixelColor(x, y).rgb() == colour.rgb() ? 1 : 0;
    }
    return n;
}

bool hasGreyOnlyIn(const QImage &image, const QRect &area)
{
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() != c.green() || c.green() != c.blue())
                return false;
        }
    }
    return true;
}

QImage render(BitBtn &button)
{
    return button.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TestBitBtn : public QObject
{
    Q_OBJECT
private slots:
    void bottomLeftPixelIsTransparent_data();
    void bottomLeftPixelIsTransparent();
    void glyphAndCaptionCentredTogether();
    void singleGlyphGreyedWhenDisabled();
    void twoGlyphsPickHalfByState();
    void enterPressesOnlyTheFocusedButton_data();
    void enterPressesOnlyTheFocusedButton();
    void ampersandIsNoAccessKey();
};

void TestBitBtn::bottomLeftPixelIsTransparent_data()
{
    QTest::addColumn<QColor>("key");
    QTest::addColumn<QColor>("kept");
    QTest::newRow("magenta key") << kMagenta << kRed;
    // Another picture's key colour is just a colour here.
    QTest::newRow("red key, magenta drawn") << kRed << kMagenta;
}

void TestBitBtn::bottomLeftPixelIsTransparent()
{
    QFETCH(QColor, key);
    QFETCH(QColor, kept);
    BitBtn button;
    button.resize(120, 30);
    button.setText(QStringLiteral("Dodaj"));
    QImage image = glyph(QSize(16, 16), key, { kept });
    // Only the bottom-left corner decides; the top-left one is just a pixel.
    image.setPixelColor(0, 0, kept);
    button.setGlyph(image);
    const QImage picture = render(button);
    QCOMPARE(count(picture, key), 0);
    QCOMPARE(count(picture, kept), 8 * 8 + 1);
}

void TestBitBtn::glyphAndCaptionCentredTogether()
{
    BitBtn button;
    const QString caption = QStringLiteral("Export u tekst");
    button.setText(caption);
    button.setGlyph(glyph(QSize(16, 16), kMagenta, { kRed }));
    button.resize(200, 30);
    const QImage picture = render(button);

    const QRect square = find(picture, kRed);
    QCOMPARE(square.size(), QSize(8, 8));
    const int glyphLeft = square.left() - 4;
    const int textWidth = button.fontMetrics().horizontalAdvance(caption);
    const int expectedLeft = (button.width() - (16 + BitBtn::Spacing + textWidth)) / 2;
    QVERIFY2(qAbs(glyphLeft - expectedLeft) <= 2,
        qPrintable(QStringLiteral("glyph at %1, expected %2").arg(glyphLeft).arg(expectedLeft)));
    // The glyph is centred vertically on the face too.
    QVERIFY(qAbs((square.top() - 4) - (button.height() - 16) / 2) <= 2);

    // The caption starts 4 pixels right of the glyph: the first dark pixel
    // on the glyph's rows past it.
    int textLeft = -1;
    for (int x = glyphLeft + 16; x < button.width() - 4 && textLeft < 0; ++x) {
        for (int y = square.top() - 4; y < square.top() + 12; ++y) {
            if (qGray(picture.pixel(x, y)) < 128) {
                textLeft = x;
                break;
            }
        }
    }
    QVERIFY(textLeft >= glyphLeft + 16 + BitBtn::Spacing);
    QVERIFY(textLeft <= glyphLeft + 16 + BitBtn::Spacing + 3);
}

void TestBitBtn::singleGlyphGreyedWhenDisabled()
{
    BitBtn button;
    button.resize(100, 30);
    button.setGlyph(glyph(QSize(16, 16), kMagenta, { kRed }));
    const QRect square = find(render(button), kRed);
    QCOMPARE(square.size(), QSize(8, 8));

    button.setEnabled(false);
    const QImage disabled = render(button);
    QCOMPARE(find(disabled, kRed), QRect());
    QCOMPARE(find(disabled, kMagenta), QRect());
    QVERIFY(hasGreyOnlyIn(disabled, square));
    // Still drawn, not left out.
    QVERIFY(disabled.pixelColor(square.center())
        != disabled.pixelColor(square.topLeft() - QPoint(3, 3)));
}

void TestBitBtn::twoGlyphsPickHalfByState()
{
    BitBtn button;
    button.resize(100, 30);
    button.setText(QStringLiteral("Export"));
    button.setNumGlyphs(2);
    button.setGlyph(glyph(QSize(32, 16), kMagenta, { kRed, kBlue }));

    const QImage enabled = render(button);
    QCOMPARE(find(enabled, kRed).size(), QSize(8, 8));
    QCOMPARE(find(enabled, kBlue), QRect());
    QCOMPARE(find(enabled, kMagenta), QRect());

    button.setEnabled(false);
    const QImage disabled = render(button);
    QCOMPARE(find(disabled, kBlue).size(), QSize(8, 8));
    QCOMPARE(find(disabled, kRed), QRect());
    // Same place: one picture swapped for the other.
    QCOMPARE(find(disabled, kBlue), find(enabled, kRed));
}

void TestBitBtn::enterPressesOnlyTheFocusedButton_data()
{
    QTest::addColumn<bool>("focusOnButton");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("okClicked"); // times "U redu" was pressed
    QTest::newRow("Enter in a box") << false << int(Qt::Key_Return) << 0;
    QTest::newRow("keypad Enter in a box") << false << int(Qt::Key_Enter) << 0;
    QTest::newRow("Escape in a box") << false << int(Qt::Key_Escape) << 0;
    // The button that has the focus takes Enter, as on the desktop the
    // window was made for; it is still no default button.
    QTest::newRow("Enter on the button") << true << int(Qt::Key_Return) << 1;
    QTest::newRow("keypad Enter on the button") << true << int(Qt::Key_Enter) << 1;
    QTest::newRow("Escape on the button") << true << int(Qt::Key_Escape) << 0;
}

void TestBitBtn::enterPressesOnlyTheFocusedButton()
{
    QFETCH(bool, focusOnButton);
    QFETCH(int, key);
    QFETCH(int, okClicked);
    // A dialog is where Qt would make a button the default.
    QDialog dialog;
    auto *layout = new QVBoxLayout(&dialog);
    auto *box = new QLineEdit(&dialog);
    auto *ok = new BitBtn(&dialog);
    ok->setText(QStringLiteral("U redu"));
    auto *cancel = new BitBtn(&dialog);
    cancel->setText(QStringLiteral("Odustani"));
    layout->addWidget(box);
    layout->addWidget(ok);
    layout->addWidget(cancel);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QSignalSpy okClicks(ok, &BitBtn::clicked);
    QSignalSpy cancelClicks(cancel, &BitBtn::clicked);

    QWidget *target = focusOnButton ? static_cast<QWidget *>(ok) : box;
    target->setFocus();
    QTest::keyClick(
        target, Qt::Key(key), key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
    QTest::qWait(0);
    QCOMPARE(okClicks.count(), okClicked);
    QCOMPARE(cancelClicks.count(), 0);
    QVERIFY(!ok->isDefault());
    QVERIFY(!ok->autoDefault());

    // Space still presses the button that has the focus.
    ok->setFocus();
    QTest::keyClick(ok, Qt::Key_Space);
    QCOMPARE(okClicks.count(), okClicked + 1);
}

void TestBitBtn::ampersandIsNoAccessKey()
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *box = new QLineEdit(&window);
    auto *button = new BitBtn(&window);
    button->setText(QStringLiteral("&Dodaj"));
    auto *plain = new QPushButton(QStringLiteral("&Odustani"), &window);
    layout->addWidget(box);
    layout->addWidget(button);
    layout->addWidget(plain);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    box->setFocus();
    QSignalSpy clicks(button, &BitBtn::clicked);
    QSignalSpy plainClicks(plain, &QPushButton::clicked);

    QCOMPARE(button->text(), QStringLiteral("&Dodaj"));
    QTest::keyClick(box, Qt::Key_D, Qt::AltModifier);
    // Alt+O reaches Qt's own button: the keys are delivered as a user's are.
    QTest::keyClick(box, Qt::Key_O, Qt::AltModifier);
    QTRY_COMPARE(plainClicks.count(), 1);
    QCOMPARE(clicks.count(), 0);

    // The caption is drawn with its '&': wider than without it.
    BitBtn with;
    with.setText(QStringLiteral("A&B"));
    BitBtn without;
    without.setText(QStringLiteral("AB"));
    QVERIFY(with.sizeHint().width() > without.sizeHint().width());
}

QTEST_MAIN(TestBitBtn)
#include "tst_bitbtn.moc"

// Labels fitted to their captions: the designed edge kept, a move toward the
// box before a smaller font, the font made smaller by whole pixels only as
// far as needed, and a changed caption fitted from the design again.
#include "toolkit/fontfit.h"

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

namespace {

constexpr int Pixels = 12; // the container's font
constexpr int Gap = 3; // what a label keeps from any other control
constexpr int H = 20; // a label's designed height, above a line of the font

// A container of fixed size with a font of Pixels pixels, as a panel of a
// laid-out window.
class Panel
{
public:
    Panel()
    {
        QFont font = widget.font();
        font.setPixelSize(Pixels);
        widget.setFont(font);
        widget.resize(600, 100);
    }

    QLineEdit *box(const QRect &r)
    {
        auto *edit = new QLineEdit(&widget);
        edit->setGeometry(r);
        return edit;
    }

    QLabel *label(const QString &caption, const QRect &designed, QWidget *buddy = nullptr)
    {
        auto *label = new QLabel(caption, &widget);
        label->setGeometry(designed);
        label->setBuddy(buddy);
        return label;
    }

    int advance(const QString &text, int pixels = Pixels) const
    {
        QFont font = widget.font();
        font.setPixelSize(pixels);
        return QFontMetrics(font).horizontalAdvance(text);
    }

    QWidget widget;
};

int pixelSize(const QLabel *label) { return QFontInfo(label->font()).pixelSize(); }

// The label and every other control of its container are at least Gap apart.
bool clearOfOthers(const QLabel *label)
{
    const QRect around = label->geometry().adjusted(-Gap, -Gap, Gap, Gap);
    for (const QWidget *w : label->parentWidget()->findChildren<QWidget *>()) {
        if (w != label && around.intersects(w->geometry()))
            return false;
    }
    return true;
}

const QString Caption = QStringLiteral("Ljekarna ili dobavljač :");

} // namespace

class TestFontFit : public QObject
{
    Q_OBJECT

private slots:
    void captionWithRoomKeepsTheEdgeThatMatters()
    {
        Panel panel;
        const int w = panel.advance(Caption);
        QLineEdit *box = panel.box(QRect(300, 10, 100, 21));
        // A box's label ends where designed, before its box; a note starts
        // where designed. Both are as wide as their captions.
        QLabel *named = panel.label(Caption, QRect(294 - w - 10, 14, w + 10, H), box);
        QLabel *note = panel.label(Caption, QRect(410, 14, w / 2, H));
        toolkit::fitLabels(&panel.widget);
        QCOMPARE(named->geometry(), QRect(294 - w, 14, w, H));
        QCOMPARE(note->geometry(), QRect(410, 14, w, H));
        QVERIFY(!named->testAttribute(Qt::WA_SetFont));
        QVERIFY(!note->testAttribute(Qt::WA_SetFont));
    }

    void tooWideCaptionMovesTowardItsBoxBeforeItShrinks()
    {
        Panel panel;
        const int w = panel.advance(Caption);
        // Designed at the container's edge, 2 pixels too narrow, its box 7
        // pixels after it: the caption fits if it ends 3 pixels before the box.
        const QRect designed(0, 14, w - 2, H);
        QLineEdit *box = panel.box(QRect(designed.right() + 7, 10, 100, 21));
        QLabel *label = panel.label(Caption, designed, box);
        toolkit::fitLabels(&panel.widget);
        QCOMPARE(label->geometry(), QRect(0, 14, w, H));
        QCOMPARE(pixelSize(label), Pixels);
        QVERIFY(clearOfOthers(label));
    }

    void captionWithoutRoomShrinksByWholePixelsAsLittleAsNeeded()
    {
        Panel panel;
        const int w = panel.advance(Caption);
        QLineEdit *left = panel.box(QRect(0, 10, 50, 21));
        const QRect designed(57, 14, w - 20, H);
        QLineEdit *right = panel.box(QRect(designed.right() + 7, 10, 100, 21));
        QLabel *label = panel.label(Caption, designed, right);
        toolkit::fitLabels(&panel.widget);

        const int room = right->x() - Gap - (left->geometry().right() + Gap + 1);
        const int pixels = pixelSize(label);
        QVERIFY(pixels < Pixels);
        QVERIFY(label->testAttribute(Qt::WA_SetFont));
        QVERIFY(panel.advance(Caption, pixels) <= label->width());
        QVERIFY(label->width() <= room);
        QVERIFY(clearOfOthers(label));
        // No size between this one and the container's would have fitted.
        for (int larger = pixels + 1; larger <= Pixels; ++larger)
            QVERIFY2(panel.advance(Caption, larger) > room, qPrintable(QString::number(larger)));
        QCOMPARE(label->y(), designed.y());
    }

    void higherLineGrowsTheLabelEquallyUpAndDown()
    {
        Panel panel;
        const int line = QFontMetrics(panel.widget.font()).height();
        QVERIFY(line > 8 && line <= H);
        QLabel *note = panel.label(QStringLiteral("Broj zapisa: "), QRect(10, 40, 20, 8));
        toolkit::fitLabels(&panel.widget);
        QCOMPARE(note->height(), line);
        QCOMPARE(note->y(), 40 - (line - 8) / 2);
        QCOMPARE(pixelSize(note), Pixels);
    }

    void changedCaptionIsFittedFromTheDesign()
    {
        Panel panel;
        // The record count: grows to the right, up to a box 40 pixels on,
        // with no room on its left either.
        QLabel *count = panel.label(QStringLiteral("0"), QRect(100, 14, 6, H));
        panel.box(QRect(140, 10, 100, 21));
        panel.box(QRect(40, 10, 57, 21));
        QLabel *bold = panel.label(QStringLiteral("0"), QRect(100, 50, 6, H));
        QFont boldFont = bold->font();
        boldFont.setBold(true);
        bold->setFont(boldFont);
        panel.box(QRect(140, 46, 100, 21));
        panel.box(QRect(40, 46, 57, 21));
        toolkit::fitLabels(&panel.widget);

        const QString many = QStringLiteral("1000000000");
        QVERIFY(panel.advance(many) > 40 - Gap);
        for (QLabel *label : { count, bold }) {
            label->setText(many);
            toolkit::fitLabel(label);
            QCOMPARE(label->x(), 100);
            QVERIFY(pixelSize(label) < Pixels);
            QVERIFY(clearOfOthers(label));

            label->setText(QStringLiteral("7"));
            toolkit::fitLabel(label);
            QCOMPARE(pixelSize(label), Pixels);
            QCOMPARE(label->geometry(),
                QRect(100, label == count ? 14 : 50,
                    QFontMetrics(label->font()).horizontalAdvance(QStringLiteral("7")), H));
        }
        // A label of the container's font takes it again; one of its own
        // keeps its own.
        QVERIFY(!count->testAttribute(Qt::WA_SetFont));
        QVERIFY(bold->font().bold());
    }
};

QTEST_MAIN(TestFontFit)
#include "tst_fontfit.moc"

// The panel on the fonts a Linux desktop may have: every caption shown whole
// and clear of every other control, the window at its designed size.
//
// CTest runs this once per font set, each time in an X server of its own
// with the xcb platform and a private fontconfig file (fontsets/) that lists
// only that set's font folders; LIJEKOVI_PANEL_FAMILY names the family the
// panel must then get, so a set that did not take effect is caught.
#include "tests/app/designedlabels.h"
#include "tests/app/formfixture.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>

namespace {

QString describe(const QWidget *w)
{
    const QRect r = w->geometry();
    return QStringLiteral("%1 at (%2,%3) %4x%5")
        .arg(w->objectName())
        .arg(r.x())
        .arg(r.y())
        .arg(r.width())
        .arg(r.height());
}

} // namespace

class TestCaptions : public QObject
{
    Q_OBJECT

private:
    FormFixture *fx = nullptr;
    TForm1 *form = nullptr;

    QList<QLabel *> panelLabels() const
    {
        return form->Panel1->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly);
    }

    void labelRows()
    {
        QTest::addColumn<QString>("name");
        for (const QLabel *label : panelLabels())
            QTest::newRow(qPrintable(label->objectName())) << label->objectName();
    }

private slots:
    void initTestCase()
    {
        const QString family = qEnvironmentVariable("LIJEKOVI_PANEL_FAMILY");
        if (family.isEmpty() || QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("run by CTest: under xvfb-run, QT_QPA_PLATFORM=xcb, a FONTCONFIG_FILE from "
                  "fontsets/ and LIJEKOVI_PANEL_FAMILY");
        fx = new FormFixture;
        // The record count's caption grows with the register; the largest
        // register it shows is the full one.
        fx->writeRegister(10000);
        form = fx->start();
        QCOMPARE(form->lblNumOfRecords->text(), QStringLiteral("10000"));

        qInfo("font set %s, scale %s, font dpi %s: panel font %s %d px, %d families",
            qPrintable(qEnvironmentVariable("FONTCONFIG_FILE")),
            qPrintable(qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1"))),
            qPrintable(qEnvironmentVariable("QT_FONT_DPI", QStringLiteral("96"))),
            qPrintable(QFontInfo(form->Panel1->font()).family()),
            QFontInfo(form->Panel1->font()).pixelSize(), int(QFontDatabase::families().size()));
        const QString got = QFontInfo(form->Panel1->font()).family();
        QVERIFY2(got == family,
            qPrintable(QStringLiteral("the panel got %1 instead of %2: are this set's fonts "
                                      "installed (scripts/setup-debian.sh)?")
                           .arg(got, family)));
    }

    void cleanupTestCase()
    {
        delete fx;
        fx = nullptr;
    }

    void windowKeepsItsDesignedSize()
    {
        QCOMPARE(form->size(), QSize(782, 560));
        QCOMPARE(form->Panel1->geometry(), QRect(0, 192, 782, 368));
    }

    void captionLiesWholeInsideItsLabel_data() { labelRows(); }

    void captionLiesWholeInsideItsLabel()
    {
        QFETCH(QString, name);
        const QLabel *label = form->Panel1->findChild<QLabel *>(name);
        QVERIFY(label);
        const QFontMetrics fm(label->font());
        // Where QLabel draws the text: its contents, less its margin and indent.
        QCOMPARE(label->margin(), 0);
        QVERIFY(label->indent() <= 0);
        const QRect contents = label->contentsRect();
        const int width = fm.horizontalAdvance(label->text());
        QVERIFY2(width <= contents.width(),
            qPrintable(QStringLiteral("\"%1\" is %2 wide in %3 px %4, %5")
                           .arg(label->text())
                           .arg(width)
                           .arg(QFontInfo(label->font()).pixelSize())
                           .arg(QFontInfo(label->font()).family(), describe(label))));
        QVERIFY2(fm.height() <= contents.height(),
            qPrintable(
                QStringLiteral("a line is %1 high, %2").arg(fm.height()).arg(describe(label))));
        // and the label itself is inside the panel, not under its frame
        QVERIFY2(
            form->Panel1->contentsRect().contains(label->geometry()), qPrintable(describe(label)));
        QCOMPARE(QFontInfo(label->font()).family(), QFontInfo(form->Panel1->font()).family());
    }

    void labelMeetsNoOtherControl_data() { labelRows(); }

    void labelMeetsNoOtherControl()
    {
        QFETCH(QString, name);
        const QLabel *label = form->Panel1->findChild<QLabel *>(name);
        QVERIFY(label);
        // A label that touches a box reads as running into it: one pixel
        // clear on every side.
        const QRect around = label->geometry().adjusted(-1, -1, 1, 1);
        for (const QWidget *other :
            form->Panel1->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
            if (other != label && other->isVisible())
                QVERIFY2(!around.intersects(other->geometry()),
                    qPrintable(describe(label) + QStringLiteral(" meets ") + describe(other)));
        }
    }

    // Where the caption fits the designed label in the panel's font, the
    // label stands as designed: the edge toward its box (the left one for a
    // note), its top and height, in the panel's font.
    void designedPlaceWhereTheCaptionFits_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("designed");
        QTest::addColumn<bool>("labelsABox");
        for (const DesignedLabel &l : designedLabels)
            QTest::newRow(l.name) << l.name << QString::fromUtf8(l.caption)
                                  << QRect(l.x, l.y, l.width, DesignedLabelHeight)
                                  << (*l.buddy != 0);
    }

    void designedPlaceWhereTheCaptionFits()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QRect, designed);
        QFETCH(bool, labelsABox);
        const QLabel *label = form->Panel1->findChild<QLabel *>(name);
        QVERIFY(label);
        QCOMPARE(label->text(), caption);
        const QFontMetrics fm(form->Panel1->font());
        if (fm.horizontalAdvance(caption) > designed.width() || fm.height() > designed.height())
            QSKIP("the caption does not fit its designed place in this font");
        QCOMPARE(QFontInfo(label->font()).pixelSize(), QFontInfo(form->Panel1->font()).pixelSize());
        QCOMPARE(label->y(), designed.y());
        QCOMPARE(label->height(), designed.height());
        if (labelsABox)
            QCOMPARE(label->geometry().right(), designed.right());
        else
            QCOMPARE(label->x(), designed.x());
    }

    void recordCountGrowsToTheRight() { QCOMPARE(form->lblNumOfRecords->x(), 310); }
};

QTEST_MAIN(TestCaptions)
#include "tst_captions.moc"

// The window's smallest size, on a real X server: below it the panel's
// right-hand controls, or the grid's rows, would be cut off.
#include "tests/app/formfixture.h"

#include "toolkit/bitbtn.h"
#include "toolkit/dbedit.h"
#include "toolkit/dbgrid.h"

#include <QHeaderView>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QWindow>
#include <QtMath>

namespace {

QString run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(15000)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

// The size the X server gives the window, as another client sees it.
QSize serverSize(const QWidget *window)
{
    const QString info = run(
        QStringLiteral("xwininfo"), { QStringLiteral("-id"), QString::number(window->winId()) });
    const auto width = QRegularExpression(QStringLiteral("Width: (\\d+)")).match(info);
    const auto height = QRegularExpression(QStringLiteral("Height: (\\d+)")).match(info);
    if (!width.hasMatch() || !height.hasMatch())
        return {};
    return { width.captured(1).toInt(), height.captured(1).toInt() };
}

} // namespace

class TestWindowSize : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QFAIL("run on the xcb platform in an X server (CTest starts one with xvfb-run)");
    }

    void shrinkingStopsWhereEverythingIsStillShown_data()
    {
        QTest::addColumn<QSize>("asked");
        QTest::newRow("narrower") << QSize(500, 560);
        QTest::newRow("lower") << QSize(782, 300);
        QTest::newRow("both, to almost nothing") << QSize(40, 30);
    }

    void shrinkingStopsWhereEverythingIsStillShown()
    {
        QFETCH(QSize, asked);
        FormFixture fx;
        fx.writeRegister(20);
        TForm1 *form = fx.start();
        QCOMPARE(form->size(), QSize(782, 560));
        QHash<QString, QRect> designed;
        for (QWidget *w : form->Panel1->findChildren<QWidget *>())
            designed.insert(w->objectName(), w->geometry());

        form->resize(asked);
        const QSize smallest = form->minimumSize();
        const QSize expected = asked.expandedTo(smallest).boundedTo(QSize(782, 560));
        QTRY_COMPARE(serverSize(form), expected);
        QCOMPARE(form->size(), expected);
        QVERIFY2(smallest.width() < 782 && smallest.height() < 560,
            "the designed size is above the smallest");

        // Every box, label and button of the panel whole inside the window,
        // where it was designed.
        const QRect window = form->rect();
        for (QWidget *w : form->Panel1->findChildren<QWidget *>()) {
            const QRect onWindow(w->mapTo(form, QPoint(0, 0)), w->size());
            QVERIFY2(window.contains(onWindow), qPrintable(w->objectName()));
            QCOMPARE(w->geometry(), designed.value(w->objectName()));
        }
        QCOMPARE(form->Panel1->height(), 368);
        // The grid's header and at least three whole rows.
        toolkit::DBGrid *grid = form->DBGridLijekovi;
        QVERIFY(grid->horizontalHeader()->isVisible());
        QVERIFY2(grid->viewport()->height() >= 3 * grid->rowHeight(0),
            qPrintable(QString::number(grid->viewport()->height())));

        // A window manager keeps a person's dragging of the frame to the
        // same limit: the X server holds it as the window's minimum.
        const QString hints = run(QStringLiteral("xprop"),
            { QStringLiteral("-id"), QString::number(form->winId()),
                QStringLiteral("WM_NORMAL_HINTS") });
        QVERIFY2(hints.contains(QStringLiteral("program specified minimum size: %1 by %2")
                                    .arg(smallest.width())
                                    .arg(smallest.height())),
            qPrintable(hints));

        // Growing again gives the room to the grid, as before.
        form->resize(1000, 800);
        QTRY_COMPARE(serverSize(form), QSize(1000, 800));
        QCOMPARE(form->DBGridLijekovi->geometry(), QRect(0, 0, 1000, 800 - 368));
        QCOMPARE(form->Panel1->geometry(), QRect(0, 800 - 368, 1000, 368));
    }

    // CTest runs this on screens of several sizes and at scale 1 and 2.
    // Where the screen has room for the window's smallest size, the window
    // is exactly as designed; where it has not, the window takes no more
    // than the screen, and the panel scrolls inside it so that every
    // control can still be reached and pressed.
    void fitsTheScreen()
    {
        FormFixture fx;
        fx.writeRegister(20);
        TForm1 *form = fx.start();
        const QSize room = form->screen()->availableGeometry().size();
        const bool designedFits = room.width() >= 782 && room.height() >= 560;
        auto *scroller = form->findChild<QScrollArea *>(QStringLiteral("Panel1Scroller"));
        QVERIFY(form->minimumWidth() <= room.width());
        QVERIFY(form->minimumHeight() <= room.height());
        if (designedFits) {
            QCOMPARE(form->size(), QSize(782, 560));
            QVERIFY(!scroller);
            QCOMPARE(form->Panel1->parentWidget(), form);
            QCOMPARE(form->Panel1->geometry(), QRect(0, 560 - 368, 782, 368));
            return;
        }
        QVERIFY(scroller);
        QTRY_VERIFY(form->width() <= room.width() && form->height() <= room.height());
        QVERIFY(serverSize(form).width() <= qCeil(room.width() * form->devicePixelRatioF()));
        QVERIFY(serverSize(form).height() <= qCeil(room.height() * form->devicePixelRatioF()));
        // The controls keep their designed places within the panel.
        QCOMPARE(form->Panel1->height(), 368);
        QCOMPARE(form->BitBtnExit->parentWidget(), form->Panel1);
        // Every button can be brought into sight and pressed with the mouse.
        const QRect window = form->rect();
        for (toolkit::BitBtn *button : form->Panel1->findChildren<toolkit::BitBtn *>()) {
            if (!button->isEnabled())
                continue;
            scroller->ensureWidgetVisible(button);
            const QRect onWindow(button->mapTo(form, QPoint(0, 0)), button->size());
            QVERIFY2(window.contains(onWindow), qPrintable(button->objectName()));
            const QRect inView(button->mapTo(scroller->viewport(), QPoint(0, 0)), button->size());
            QVERIFY2(
                scroller->viewport()->rect().contains(inView), qPrintable(button->objectName()));
        }
        // Tab into the last box scrolls it into sight too.
        form->DBEditCijena->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
        const QRect cijena(form->DBEditCijena->mapTo(scroller->viewport(), QPoint(0, 0)),
            form->DBEditCijena->size());
        QVERIFY(scroller->viewport()->rect().contains(cijena));
        // And a real click on Izlaz, where it now is, closes the window.
        scroller->ensureWidgetVisible(form->BitBtnExit);
        QTest::mouseClick(form->BitBtnExit, Qt::LeftButton);
        QTRY_VERIFY(!form->isVisible());
    }
};

QTEST_MAIN(TestWindowSize)
#include "tst_windowsize.moc"

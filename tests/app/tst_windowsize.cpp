// The window's smallest size, on a real X server: below it the panel's
// right-hand controls, or the grid's rows, would be cut off.
#include "tests/app/formfixture.h"

#include "toolkit/dbgrid.h"

#include <QHeaderView>
#include <QProcess>
#include <QRegularExpression>
#include <QWindow>

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
};

QTEST_MAIN(TestWindowSize)
#include "tst_windowsize.moc"

#include "tests/support/modalpoller.h"
#include "toolkit/savedialog.h"
#include "toolkit/translations.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using toolkit::SaveDialog;

class TestSaveDialog : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void nameFilters_data();
    void nameFilters();
    void chosenNameStoredInFull_data();
    void chosenNameStoredInFull();
    void cancelKeepsTheName();
    void handlerSeesWhatIsOffered();
    void realDialog();
    void realDialogSpeaksCroatian();

private:
    QTemporaryDir m_dir;
    QString m_oldCurrent;
};

void TestSaveDialog::init()
{
    QVERIFY(m_dir.isValid());
    m_oldCurrent = QDir::currentPath();
    QDir::setCurrent(m_dir.path());
}

void TestSaveDialog::cleanup()
{
    SaveDialog::setHandler({});
    QDir::setCurrent(m_oldCurrent);
}

void TestSaveDialog::nameFilters_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("one pair") << "Tekst (*.txt)|*.txt"
                              << QStringList { QStringLiteral("Tekst (*.txt)") };
    QTest::newRow("two pairs") << "Tekst (*.txt)|*.txt|Sve datoteke (*.*)|*.*"
                               << QStringList { QStringLiteral("Tekst (*.txt)"),
                                      QStringLiteral("Sve datoteke (*.*)") };
    QTest::newRow("description without patterns")
        << "Tekst|*.txt;*.csv" << QStringList { QStringLiteral("Tekst (*.txt *.csv)") };
    QTest::newRow("description naming other patterns")
        << "Tekst (txt)|*.txt" << QStringList { QStringLiteral("Tekst (txt) (*.txt)") };
    QTest::newRow("empty") << "" << QStringList {};
}

void TestSaveDialog::nameFilters()
{
    QFETCH(QString, filter);
    QFETCH(QStringList, expected);
    QCOMPARE(SaveDialog::toNameFilters(filter), expected);
}

void TestSaveDialog::chosenNameStoredInFull_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected"); // relative to the current directory
    QTest::newRow("no extension") << "izvoz"
                                  << "izvoz.txt";
    QTest::newRow("own extension") << "izvoz.csv"
                                   << "izvoz.csv";
    QTest::newRow("subdirectory") << "pod/izvoz"
                                  << "pod/izvoz.txt";
    QTest::newRow("dotted directory, bare name") << "v1.2/izvoz"
                                                 << "v1.2/izvoz.txt";
}

void TestSaveDialog::chosenNameStoredInFull()
{
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    SaveDialog dialog;
    dialog.setDefaultExt(QStringLiteral("txt"));
    dialog.setFileName(QStringLiteral("lijekovi.txt"));
    SaveDialog::setHandler([&](const SaveDialog &) { return std::optional<QString>(typed); });
    QVERIFY(dialog.execute(nullptr));
    QCOMPARE(dialog.fileName(), QDir(m_dir.path()).absoluteFilePath(expected));
    QVERIFY(QDir::isAbsolutePath(dialog.fileName()));

    // An absolute name is taken as it is, extension rule included.
    const QString absolute = QDir(m_dir.path()).absoluteFilePath(QStringLiteral("drugi"));
    SaveDialog::setHandler([&](const SaveDialog &) { return std::optional<QString>(absolute); });
    QVERIFY(dialog.execute(nullptr));
    QCOMPARE(dialog.fileName(), absolute + QStringLiteral(".txt"));
}

void TestSaveDialog::cancelKeepsTheName()
{
    SaveDialog dialog;
    dialog.setDefaultExt(QStringLiteral("txt"));
    dialog.setFileName(QStringLiteral("lijekovi.txt"));
    SaveDialog::setHandler([](const SaveDialog &) { return std::optional<QString>(); });
    QVERIFY(!dialog.execute(nullptr));
    QCOMPARE(dialog.fileName(), QStringLiteral("lijekovi.txt"));
}

void TestSaveDialog::handlerSeesWhatIsOffered()
{
    SaveDialog dialog;
    dialog.setDefaultExt(QStringLiteral("txt"));
    dialog.setFileName(QStringLiteral("lijekovi.txt"));
    dialog.setFilter(QStringLiteral("Tekst (*.txt)|*.txt"));
    QString offered;
    QStringList filters;
    SaveDialog::setHandler([&](const SaveDialog &d) {
        offered = d.fileName();
        filters = d.nameFilters();
        return std::optional<QString>(d.fileName());
    });
    QVERIFY(dialog.execute(nullptr));
    QCOMPARE(offered, QStringLiteral("lijekovi.txt"));
    QCOMPARE(filters, QStringList { QStringLiteral("Tekst (*.txt)") });
    QCOMPARE(
        dialog.fileName(), QDir(m_dir.path()).absoluteFilePath(QStringLiteral("lijekovi.txt")));

    // The second time the full path from the first is offered.
    QVERIFY(dialog.execute(nullptr));
    QCOMPARE(offered, QDir(m_dir.path()).absoluteFilePath(QStringLiteral("lijekovi.txt")));
}

void TestSaveDialog::realDialog()
{
    // An existing file: no question whether to replace it.
    QFile existing(QDir(m_dir.path()).absoluteFilePath(QStringLiteral("postojeci.txt")));
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.close();

    SaveDialog dialog;
    dialog.setDefaultExt(QStringLiteral("txt"));
    dialog.setFileName(QStringLiteral("lijekovi.txt"));
    dialog.setFilter(QStringLiteral("Tekst (*.txt)|*.txt"));

    QFileDialog *seen = nullptr;
    bool acceptsSave = false;
    bool asksNothing = false;
    QString title;
    QString offered;
    QStringList filters;
    testsupport::ModalPoller answer([&](QWidget *modal) {
        auto *fd = qobject_cast<QFileDialog *>(modal);
        if (!fd)
            return false;
        seen = fd;
        acceptsSave = fd->acceptMode() == QFileDialog::AcceptSave;
        asksNothing = fd->testOption(QFileDialog::DontConfirmOverwrite);
        title = fd->windowTitle();
        filters = fd->nameFilters();
        auto *name = fd->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (!name) {
            fd->reject(); // never leave the modal dialog open on a failure
            return true;
        }
        offered = name->text();
        name->setText(QStringLiteral("postojeci"));
        QMetaObject::invokeMethod(fd, "accept");
        return true;
    });
    QVERIFY(dialog.execute(nullptr));
    QVERIFY(seen);
    QVERIFY(acceptsSave);
    QVERIFY(asksNothing);
    // The system's usual title for saving, not one of the program's own.
    QCOMPARE(title, QFileDialog::tr("Save As"));
    QCOMPARE(offered, QStringLiteral("lijekovi.txt"));
    QCOMPARE(filters, QStringList { QStringLiteral("Tekst (*.txt)") });
    QCOMPARE(
        dialog.fileName(), QDir(m_dir.path()).absoluteFilePath(QStringLiteral("postojeci.txt")));

    // Cancelled: the name stays.
    testsupport::ModalPoller canceller([](QWidget *modal) {
        auto *fd = qobject_cast<QFileDialog *>(modal);
        if (fd)
            fd->reject();
        return fd != nullptr;
    });
    QVERIFY(!dialog.execute(nullptr));
    QCOMPARE(
        dialog.fileName(), QDir(m_dir.path()).absoluteFilePath(QStringLiteral("postojeci.txt")));
}

// A Croatian user's save dialog: Qt's own texts come from the translations
// installed with Qt (Debian's qt6-translations-l10n, which the program's
// package depends on), loaded as the program loads them.
void TestSaveDialog::realDialogSpeaksCroatian()
{
    QVERIFY2(toolkit::installQtTranslations(QLocale(QLocale::Croatian, QLocale::Croatia)),
        "qtbase_hr.qm is not installed (package qt6-translations-l10n)");
    SaveDialog dialog;
    dialog.setFileName(QStringLiteral("lijekovi.txt"));
    QStringList buttons;
    QString title;
    testsupport::ModalPoller answer([&](QWidget *modal) {
        auto *fd = qobject_cast<QFileDialog *>(modal);
        if (!fd)
            return false;
        title = fd->windowTitle();
        if (auto *box = fd->findChild<QDialogButtonBox *>()) {
            for (QAbstractButton *b : box->buttons())
                buttons << QString(b->text()).remove(u'&');
        }
        buttons.sort();
        fd->reject();
        return true;
    });
    QVERIFY(!dialog.execute(nullptr));
    QCOMPARE(buttons, (QStringList { QStringLiteral("Odustani"), QStringLiteral("Spremi") }));
    QCOMPARE(title, QStringLiteral("Spremi kao"));
}

QTEST_MAIN(TestSaveDialog)
#include "tst_savedialog.moc"

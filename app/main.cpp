#include "app/unit1.h"

#include "app/registerlock.h"
#include "app/terminationsignals.h"
#include "store/safefile.h"
#include "toolkit/handlers.h"
#include "toolkit/messagebox.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <exception>

int main(int argc, char *argv[])
{
    const qint64 started = store::nowNs();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lijekovi"));
    QApplication::setApplicationVersion(QStringLiteral("2.1"));
    QApplication::setDesktopFileName(QStringLiteral("hr.tervalis.lijekovi"));
    // Qt's own dialogs (the save dialog) in the user's language, as the
    // system's would be.
    QTranslator qtTranslations;
    if (qtTranslations.load(QLocale::system(), QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslations);

    // Held until the window is gone and its last save is written.
    RegisterLock lock(QDir::currentPath());
    lock.acquire();
    if (!lock.permitsStart()) {
        toolkit::messageBox(QStringLiteral("Registar je već otvoren u drugom prozoru."),
            QStringLiteral("Greška"), toolkit::MessageBoxStyle::Ok);
        return 0;
    }
    if (lock.status() == RegisterLock::Locked) {
        // No other copy works in this folder now: temporary files of saves
        // that were killed before their rename are left over.
        store::removeStaleTemporaryFiles(QDir::currentPath(), started);
    } else {
        toolkit::messageBox(
            lock.problem(), QStringLiteral("Pažnja!"), toolkit::MessageBoxStyle::Ok);
    }

    try {
        TForm1 Form1;
        Form1.setRecoveryAllowed(lock.status() == RegisterLock::Locked);
        // A kill, a closed terminal or a logout ends the program as Izlaz
        // does; the desktop session's end saves too.
        TerminationSignals terminationSignals;
        QObject::connect(
            &terminationSignals, &TerminationSignals::received, &Form1, &TForm1::endUnattended);
        QObject::connect(
            &application, &QGuiApplication::commitDataRequest, &Form1, &TForm1::saveForSession);
        Form1.FormCreate();
        Form1.show();
        QApplication::exec();
    } catch (const std::exception &e) {
        toolkit::showException(e);
    }
    return 0;
}

#include "app/unit1.h"

#include "app/terminationsignals.h"
#include "toolkit/handlers.h"
#include "toolkit/messagebox.h"
#include "toolkit/translations.h"

#include <QApplication>
#include <QDialog>
#include <QLocale>

#include <exception>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lijekovi"));
    QApplication::setApplicationVersion(QStringLiteral("2.1"));
    QApplication::setDesktopFileName(QStringLiteral("hr.tervalis.lijekovi"));
    // Qt's own dialogs (the save dialog) in the user's language, as the
    // system's would be.
    toolkit::installQtTranslations(QLocale::system());

    // A kill, a closed terminal or a logout ends the program as Izlaz does,
    // from the first box on. Before the register is open there is nothing
    // to save: an open box is closed and the program ends as it would
    // after that box.
    TerminationSignals terminationSignals;
    bool endedEarly = false;
    QMetaObject::Connection earlyEnd = QObject::connect(
        &terminationSignals, &TerminationSignals::received, &application, [&endedEarly] {
            endedEarly = true;
            toolkit::setUnattended(true);
            while (QWidget *box = QApplication::activeModalWidget()) {
                if (auto *dialog = qobject_cast<QDialog *>(box))
                    dialog->reject();
                else
                    box->close();
                if (QApplication::activeModalWidget() == box)
                    break;
            }
        });

    try {
        TForm1 Form1;
        // The register's lock is held until the window is gone and its last
        // save is written.
        if (!Form1.lockRegister() || endedEarly)
            return 0;
        QObject::disconnect(earlyEnd);
        // The desktop session's end saves too.
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

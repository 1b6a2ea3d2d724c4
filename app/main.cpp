#include "unit1.h"

#include "handlers.h"
#include "messagebox.h"

#include <QApplication>
#include <QDir>
#include <QLockFile>

#include <exception>

namespace {

// One program per register: two copies writing the same file whole would
// each overwrite the other's entries. The lock sits hidden beside the data
// file; a lock left by a copy that crashed is stale and taken over.
bool lockRegister(QLockFile &lock)
{
    lock.setStaleLockTime(0); // stale only when its process is gone
    if (lock.tryLock(0))
        return true;
    // A folder we cannot write in cannot hold a register either; the saves
    // will say so. Only a lock held by a live copy stops the start.
    return lock.error() != QLockFile::LockFailedError;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lijekovi"));
    QApplication::setApplicationVersion(QStringLiteral("2.1"));
    QApplication::setDesktopFileName(QStringLiteral("hr.tervalis.lijekovi"));

    QLockFile lock(QDir::current().filePath(QStringLiteral(".Baza.xml.lock")));
    if (!lockRegister(lock)) {
        toolkit::messageBox(QStringLiteral("Registar je već otvoren u drugom prozoru."),
                            QStringLiteral("Greška"), 0);
        return 0;
    }

    try {
        TForm1 Form1;
        Form1.FormCreate();
        Form1.show();
        QApplication::exec();
    } catch (const std::exception &e) {
        toolkit::showException(e);
    }
    return 0;
}

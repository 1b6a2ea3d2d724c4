#include "registerlock.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QtDebug>

namespace {

// A lock file is written the instant it is created; one still without its
// owner after this long never will be.
constexpr qint64 UnwrittenLockSeconds = 10;

} // namespace

RegisterLock::RegisterLock(const QString &folder)
    : m_lock(QDir(folder).filePath(fileName()))
{
    // A register stays open for hours: the lock is stale only when its
    // process is gone, never merely because it is old.
    m_lock.setStaleLockTime(0);
}

QString RegisterLock::fileName() { return QStringLiteral(".Baza.xml.lock"); }

RegisterLock::Status RegisterLock::acquire()
{
    if (m_status == Locked)
        return m_status;
    if (m_lock.tryLock(0)) {
        m_status = Locked;
        return m_status;
    }
    if (m_lock.error() == QLockFile::LockFailedError && unwrittenLongAgo()) {
        // A copy killed between creating its lock and writing into it left
        // a file no process id will ever make stale. A live owner keeps its
        // lock file locked, so the removal fails if there is one after all.
        if (m_lock.removeStaleLockFile() && m_lock.tryLock(0)) {
            m_status = Locked;
            return m_status;
        }
    }
    switch (m_lock.error()) {
    case QLockFile::LockFailedError:
        m_status = HeldElsewhere;
        break;
    case QLockFile::NoError:
    case QLockFile::PermissionError:
    case QLockFile::UnknownError:
        m_status = Unavailable;
        qWarning("The register is not locked: %ls cannot be created.",
            qUtf16Printable(QDir::toNativeSeparators(filePath())));
        break;
    }
    return m_status;
}

bool RegisterLock::unwrittenLongAgo() const
{
    if (m_lock.getLockInfo(nullptr, nullptr, nullptr))
        return false;
    const QDateTime written = QFileInfo(filePath()).lastModified();
    return written.isValid() && written.secsTo(QDateTime::currentDateTime()) > UnwrittenLockSeconds;
}

void RegisterLock::release()
{
    m_lock.unlock();
    m_status = Unlocked;
}

#include "app/registerlock.h"

#include "app/registerfiles.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

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
    m_problem.clear();
    // QLockFile takes whatever is at its path for another copy's lock: a
    // folder or a link leading nowhere would refuse every start for good,
    // and a FIFO would hold the start until something wrote into it.
    const QString unusable = unusableReason();
    if (!unusable.isEmpty()) {
        m_status = Unusable;
        m_problem = notLocked(
            QStringLiteral("na mjestu datoteke zaključavanja \"%1\" nalazi se %2.\n"
                           "Kad ni jedan program ne radi s ovim registrom, uklonite \"%1\", "
                           "pa će se registar opet zaključavati.")
                .arg(QDir::toNativeSeparators(filePath()), unusable));
        return m_status;
    }
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
        m_problem
            = notLocked(QStringLiteral("datoteka zaključavanja \"%1\" ne može se napraviti: %2.")
                            .arg(QDir::toNativeSeparators(filePath()), unavailableReason()));
        break;
    }
    return m_status;
}

QString RegisterLock::notLocked(const QString &what) const
{
    return QStringLiteral("Registar nije zaključan: ") + what
        + QStringLiteral(
            "\n\nProgram radi dalje, ali ne može spriječiti da se u ovoj mapi "
            "istodobno pokrene još jedan. Prije svakog spremanja provjerava je li "
            "\"Baza.xml\" još ona koju je učitao ili zadnji put spremio. Upisano se i dalje "
            "bilježi za oporavak nakon prekida, u zasebnu datoteku ove kopije "
            "programa.");
}

QString RegisterLock::unusableReason() const
{
    const QFileInfo info(filePath());
    if (info.isSymLink()) {
        const QString target = QDir::toNativeSeparators(info.symLinkTarget());
        return info.exists()
            ? QStringLiteral("simbolička veza na \"%1\"").arg(target)
            : QStringLiteral("simbolička veza na \"%1\", koji ne postoji").arg(target);
    }
    const store::FileIdentity id = store::identifyFile(filePath());
    if (!id.exists || id.regular)
        return {};
    return fileTypeName(id.type);
}

QString RegisterLock::unavailableReason() const
{
    const QString folder = QFileInfo(filePath()).absolutePath();
    if (m_lock.error() == QLockFile::PermissionError)
        return QStringLiteral(
            "u mapu se ne može pisati (nema prava pisanja ili je samo za čitanje)");
    if (!QFileInfo(folder).isDir())
        return QStringLiteral("mapa \"%1\" ne postoji").arg(QDir::toNativeSeparators(folder));
    // QLockFile says no more than that the file could not be written.
    const QStorageInfo storage(folder);
    if (storage.isValid() && storage.bytesAvailable() < 64 * 1024)
        return QStringLiteral("disk je pun");
    return QStringLiteral("sustav to nije dopustio");
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

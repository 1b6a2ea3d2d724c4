#include "register/registerlock.h"

#include "register/registerfiles.h"
#include "register/registerpaths.h"
#include "store/messagetext.h"
#include "store/platform.h"

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

QString RegisterLock::fileName() { return RegisterPaths::lockFileName(); }

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
                           "Kad nijedan program ne radi s ovim registrom, uklonite \"%1\", "
                           "pa će se registar opet zaključavati.")
                .arg(store::shownPath(filePath()), unusable));
        return m_status;
    }
    if (m_lock.tryLock(0)) {
        lockTaken();
        return m_status;
    }
    if (m_lock.error() == QLockFile::LockFailedError && (unwrittenLongAgo() || takeOverStale())) {
        // A copy killed between creating its lock and writing into it left
        // a file no process id will ever make stale. A live owner keeps its
        // lock file locked, so the removal fails if there is one after all.
        if ((!QFileInfo::exists(filePath()) || m_lock.removeStaleLockFile()) && m_lock.tryLock(0)) {
            lockTaken();
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
                            .arg(store::shownPath(filePath()), unavailableReason()));
        break;
    }
    return m_status;
}

QString RegisterLock::notLocked(const QString &what) const
{
    return QStringLiteral("Registar nije zaključan: ") + what
        + QStringLiteral("\n\nProgram radi dalje, ali ne može spriječiti da se u ovoj mapi "
                         "istodobno pokrene još jedan. Prije svakog spremanja provjerava je li "
                         "\"%1\" još ona koju je učitao ili zadnji put spremio. Upisano se i dalje "
                         "bilježi za oporavak nakon prekida, u zasebnu datoteku ove kopije "
                         "programa.")
              .arg(RegisterPaths::dataFileName());
}

QString RegisterLock::unusableReason() const
{
    const QFileInfo info(filePath());
    if (info.isSymLink()) {
        const QString target = store::shownPath(info.symLinkTarget());
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
        return QStringLiteral("mapa \"%1\" ne postoji").arg(store::shownPath(folder));
    // QLockFile says no more than that the file could not be written.
    const QStorageInfo storage(folder);
    // Less than this free is a full disk: a lock file takes one block.
    constexpr qint64 FullDiskBytes = 64 * 1024;
    if (storage.isValid() && storage.bytesAvailable() < FullDiskBytes)
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

void RegisterLock::lockTaken()
{
    m_status = Locked;
    // In a folder a group shares, whoever of the group starts next must be
    // able to take the lock over should this copy crash: Qt takes over a
    // stale lock only through a file it may write.
    store::platform::shareWithFolderGroup(filePath());
}

bool RegisterLock::takeOverStale()
{
    // Qt takes over a stale lock only through a file it may write, so a
    // lock left by a colleague's crashed copy (a file of another user, not
    // writable by this one) would refuse every start in a shared folder
    // until that colleague came back. Whoever may write the register may
    // remove it, once it is certain that its copy is gone: the same host,
    // no such process, and nobody holding the file locked.
    qint64 pid = 0;
    QString host;
    QString program;
    if (!m_lock.getLockInfo(&pid, &host, &program) || pid <= 0)
        return false;
    if (!host.isEmpty() && host.compare(store::platform::lockHostName(), Qt::CaseInsensitive) != 0)
        return false;
    // This process's own id is no copy that runs: this copy has not locked
    // yet, so an earlier process that had the id wrote it. Windows hands
    // process ids out again soon, and after a restart any system may, so
    // the program killed last would otherwise keep its register from the
    // next start that happens to get its id. A live holder still keeps
    // the file locked, which the checks below find.
    if (pid != store::platform::processId() && store::platform::processRuns(pid))
        return false;
    const QString path = filePath();
    store::platform::File file = store::platform::File::openForReading(path, nullptr);
    if (!file.isOpen())
        return false;
    // A live copy holds its lock file locked; the file must still be the one
    // at the name, not a new copy's lock made meanwhile.
    const store::FileIdentity opened = file.identity();
    if (!opened.regular || !file.tryLock()
        || !store::platform::identify(path, store::platform::Links::DontFollow).sameFileAs(opened))
        return false;
    qint64 again = 0;
    return m_lock.getLockInfo(&again, nullptr, nullptr) && again == pid
        && !store::platform::remove(path);
}

void RegisterLock::release()
{
    m_lock.unlock();
    m_status = Unlocked;
}

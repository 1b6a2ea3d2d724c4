#include "store/safefile.h"

#include "store/exception.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QSaveFile>
#endif

namespace store {

namespace {

thread_local ReplaceCheck *innermostCheck = nullptr;

// The name part this program puts into its temporary files' names.
constexpr char ProgramTag[] = "lijekovi-";

[[noreturn]] void fail(const QString &path, const QString &reason)
{
    throw Exception(QStringLiteral("Datoteka \"%1\" ne može se spremiti: %2")
                        .arg(QDir::toNativeSeparators(path), reason));
}

QString diskFull()
{
    return QStringLiteral("Disk je pun ili je dosegnuto ograničenje veličine datoteke.");
}

QString changedMeanwhile()
{
    return QStringLiteral("datoteku je u međuvremenu promijenio drugi program, pa nije "
                          "zamijenjena. Ništa nije zapisano.");
}

QString nameTaken() { return QStringLiteral("datoteka tog imena već postoji i ne zamjenjuje se."); }

QString absolute(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QByteArray hashOf(QByteArrayView bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

#ifdef Q_OS_UNIX

QString systemReason(int error)
{
    if (error == ENOSPC || error == EDQUOT || error == EFBIG)
        return diskFull();
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray native(const QString &path) { return QFile::encodeName(path); }

// The file a save of `path` writes: symbolic links followed to their end.
QString followLinks(const QString &path)
{
    QString current = absolute(path);
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st
        {
        };
        if (::lstat(native(current).constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        QByteArray target(qsizetype(st.st_size > 0 ? st.st_size : 256) + 1, Qt::Uninitialized);
        const ssize_t n
            = ::readlink(native(current).constData(), target.data(), size_t(target.size()));
        if (n < 0 || n >= target.size())
            fail(path, systemReason(n < 0 ? errno : ENAMETOOLONG));
        target.truncate(n);
        const QString next = QFile::decodeName(target);
        // Relative to the link's folder; ".." is left to the system, which
        // knows whether that folder is itself a link.
        current = next.startsWith(QLatin1Char('/'))
            ? next
            : current.left(current.lastIndexOf(QLatin1Char('/')) + 1) + next;
    }
    fail(path, systemReason(ELOOP));
}

mode_t modeOf(QFileDevice::Permissions p)
{
    mode_t m = 0;
    if (p & (QFileDevice::ReadOwner | QFileDevice::ReadUser))
        m |= 0400;
    if (p & (QFileDevice::WriteOwner | QFileDevice::WriteUser))
        m |= 0200;
    if (p & (QFileDevice::ExeOwner | QFileDevice::ExeUser))
        m |= 0100;
    if (p & QFileDevice::ReadGroup)
        m |= 040;
    if (p & QFileDevice::WriteGroup)
        m |= 020;
    if (p & QFileDevice::ExeGroup)
        m |= 010;
    if (p & QFileDevice::ReadOther)
        m |= 04;
    if (p & QFileDevice::WriteOther)
        m |= 02;
    if (p & QFileDevice::ExeOther)
        m |= 01;
    return m;
}

mode_t defaultNewFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// The temporary file until it is renamed: removed, and its descriptor
// closed, unless the rename took it.
class TemporaryFile
{
public:
    TemporaryFile(const QString &path, const QByteArray &folder, const QByteArray &name)
        : m_path(path)
    {
        m_name = folder + "/." + name + '.' + ProgramTag + "XXXXXX";
        // mkostemp makes the file with O_EXCL and mode 0600: nobody else's
        // file is ever opened, and nobody else reads it while it is written.
        m_fd = ::mkostemp(m_name.data(), O_CLOEXEC);
        if (m_fd < 0)
            fail(m_path, systemReason(errno));
    }
    ~TemporaryFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_kept)
            ::unlink(m_name.constData());
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    int fd() const { return m_fd; }
    const QByteArray &name() const { return m_name; }

    void write(QByteArrayView bytes)
    {
        const char *p = bytes.data();
        qsizetype left = bytes.size();
        while (left > 0) {
            const ssize_t n = ::write(m_fd, p, size_t(std::min<qsizetype>(left, 1 << 30)));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                fail(m_path, n < 0 ? systemReason(errno) : diskFull());
            p += n;
            left -= n;
        }
    }

    void sync()
    {
        while (::fdatasync(m_fd) != 0) {
            if (errno != EINTR)
                fail(m_path, systemReason(errno));
        }
    }

    FileIdentity identity() const
    {
        struct stat st
        {
        };
        if (::fstat(m_fd, &st) != 0)
            fail(m_path, systemReason(errno));
        return identityOf(st);
    }

    // Some file systems report a failed write only here.
    void close()
    {
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0 && errno != EINTR)
            fail(m_path, systemReason(errno));
    }

    void keep() { m_kept = true; }

private:
    QString m_path;
    QByteArray m_name;
    int m_fd = -1;
    bool m_kept = false;
};

// Gives the new file the old one's owner, group and mode where this user may
// set them.
void takeOverAttributes(TemporaryFile &file, const QString &path, const struct stat &old)
{
    struct stat own
    {
    };
    if (::fstat(file.fd(), &own) != 0)
        fail(path, systemReason(errno));
    bool groupKept = own.st_gid == old.st_gid;
    if (own.st_uid != old.st_uid || !groupKept) {
        // Only the superuser may give a file away; any member of a group may
        // give it to that group.
        if (::fchown(file.fd(), old.st_uid, old.st_gid) == 0)
            groupKept = true;
        else if (!groupKept && ::fchown(file.fd(), uid_t(-1), old.st_gid) == 0)
            groupKept = true;
    }
    mode_t mode = old.st_mode & 0777;
    // The old group's rights would go to this user's group instead.
    if (!groupKept)
        mode = (mode & ~mode_t(070)) | ((mode & 07) << 3);
    if (::fchmod(file.fd(), mode) != 0)
        fail(path, systemReason(errno));
}

// Moves the finished file to its name, never over another file.
void linkNew(TemporaryFile &file, const QString &path, const QByteArray &target, bool *taken)
{
#ifdef RENAME_NOREPLACE
    if (::renameat2(
            AT_FDCWD, file.name().constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE)
        == 0) {
        file.keep();
        return;
    }
    const bool unsupported = errno == EINVAL || errno == ENOSYS || errno == ENOTSUP;
#else
    const bool unsupported = true;
#endif
    // A file system without an exclusive rename: a new hard link fails just
    // as surely when the name is taken. The temporary name goes afterwards.
    if (unsupported && ::link(file.name().constData(), target.constData()) == 0)
        return;
    const int error = errno;
    if (error == EEXIST) {
        *taken = true;
        fail(path, nameTaken());
    }
    fail(path, systemReason(error));
}

#endif // Q_OS_UNIX

} // namespace

#ifdef Q_OS_UNIX
bool syncFolder(const QByteArray &folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int result;
    while ((result = ::fsync(fd)) != 0 && errno == EINTR) { }
    // Some file systems cannot sync a folder at all (EINVAL).
    const bool ok = result == 0 || errno == EINVAL;
    ::close(fd);
    return ok;
}
#endif

ReplaceCheck::ReplaceCheck(const QString &path, Mode mode, const FileIdentity &expected)
    : m_path(absolute(path))
    , m_mode(mode)
    , m_expected(expected)
    , m_previous(innermostCheck)
{
    innermostCheck = this;
}

ReplaceCheck::~ReplaceCheck() { innermostCheck = m_previous; }

ReplaceCheck *ReplaceCheck::find(const QString &absolutePath)
{
    for (ReplaceCheck *c = innermostCheck; c; c = c->m_previous) {
        if (c->m_path == absolutePath)
            return c;
    }
    return nullptr;
}

bool isTemporaryFileName(const QString &name)
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\..+\\.%1[A-Za-z0-9]{6}$").arg(QLatin1StringView(ProgramTag)));
    return pattern.match(name).hasMatch();
}

#ifdef Q_OS_UNIX

QString replacedFilePath(const QString &path) { return followLinks(path); }

FileIdentity replaceFileContents(const QString &path, QByteArrayView bytes,
    std::optional<QFileDevice::Permissions> newFilePermissions)
{
    ReplaceCheck *check = ReplaceCheck::find(absolute(path));
    const bool createOnly = check && check->m_mode == ReplaceCheck::CreateOnly;

    // Only a name of its own is ever created: a link there counts as taken.
    const QString target = createOnly ? absolute(path) : followLinks(path);
    const qsizetype slash = target.lastIndexOf(QLatin1Char('/'));
    const QByteArray folder = native(slash > 0 ? target.left(slash) : QStringLiteral("/"));
    const QByteArray name = native(target.mid(slash + 1));

    struct stat old
    {
    };
    const bool existed = (createOnly ? ::lstat(native(target).constData(), &old)
                                     : ::stat(native(target).constData(), &old))
        == 0;
    if (existed && createOnly) {
        check->m_nameTaken = true;
        fail(path, nameTaken());
    }
    if (existed && !S_ISREG(old.st_mode)) {
        fail(path,
            S_ISDIR(old.st_mode) ? QStringLiteral("na tom se mjestu nalazi mapa.")
                                 : QStringLiteral("to nije obična datoteka."));
    }

    TemporaryFile file(path, folder, name);
    file.write(bytes);
    file.sync();
    // Only now, so that a save killed while writing leaves a file readable
    // by its owner only, which the next start knows to be its own.
    if (existed && !createOnly)
        takeOverAttributes(file, path, old);
    else if (::fchmod(
                 file.fd(), newFilePermissions ? modeOf(*newFilePermissions) : defaultNewFileMode())
        != 0)
        fail(path, systemReason(errno));
    FileIdentity written = file.identity();
    file.close();

    if (createOnly) {
        linkNew(file, path, native(target), &check->m_nameTaken);
    } else {
        // Gone meanwhile is fine: nothing is lost by writing there.
        const FileIdentity now = check ? identifyFile(target) : FileIdentity();
        if (now.exists && !now.sameStateAs(check->m_expected))
            fail(path, changedMeanwhile());
        if (::rename(file.name().constData(), native(target).constData()) != 0)
            fail(path, systemReason(errno));
        file.keep();
    }
    // Makes the rename itself durable; the file's own data is on disk by
    // now whether or not the folder can be synced.
    syncFolder(folder);

    if (check) {
        check->m_written = written;
        check->m_written->sha256 = hashOf(bytes);
    }
    return written;
}

QStringList removeStaleTemporaryFiles(const QString &folder, qint64 startedNs)
{
    // A file's time comes from a clock that may lag the program's by a tick.
    const qint64 olderThanNs = startedNs - 2'000'000'000;
    QStringList removed;
    DIR *dir = ::opendir(native(folder).constData());
    if (!dir)
        return removed;
    const int dirFd = ::dirfd(dir);
    const uid_t self = ::geteuid();
    while (const dirent *entry = ::readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (!isTemporaryFileName(name))
            continue;
        struct stat st
        {
        };
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        const qint64 modified = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        if (!S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != self || (st.st_mode & 077) != 0
            || modified >= olderThanNs)
            continue;
        if (::unlinkat(dirFd, entry->d_name, 0) == 0)
            removed << name;
    }
    ::closedir(dir);
    return removed;
}

#else // not Q_OS_UNIX: Qt's own safe save, without the owner and group

QString replacedFilePath(const QString &path)
{
    const QFileInfo info(path);
    return info.isSymLink() ? info.symLinkTarget() : absolute(path);
}

FileIdentity replaceFileContents(const QString &path, QByteArrayView bytes,
    std::optional<QFileDevice::Permissions> newFilePermissions)
{
    ReplaceCheck *check = ReplaceCheck::find(absolute(path));
    const FileIdentity before = identifyFile(path);
    if (before.exists && !before.regular)
        fail(path, QStringLiteral("to nije obična datoteka."));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        fail(path, file.errorString());
    if (!before.exists && newFilePermissions && !file.setPermissions(*newFilePermissions)) {
        file.cancelWriting();
        fail(path, QStringLiteral("ne mogu se postaviti prava pristupa."));
    }
    if ((!bytes.isEmpty() && file.write(bytes.data(), bytes.size()) != bytes.size())
        || !file.flush()) {
        file.cancelWriting();
        fail(path, diskFull());
    }
    if (check) {
        const FileIdentity now = identifyFile(path);
        if (check->m_mode == ReplaceCheck::CreateOnly && now.exists) {
            check->m_nameTaken = true;
            file.cancelWriting();
            fail(path, nameTaken());
        }
        if (check->m_mode == ReplaceCheck::ReplaceExpected && now.exists
            && !now.sameStateAs(check->m_expected)) {
            file.cancelWriting();
            fail(path, changedMeanwhile());
        }
    }
    if (!file.commit())
        fail(path, file.errorString());
    FileIdentity written = identifyFile(path);
    if (check) {
        check->m_written = written;
        check->m_written->sha256 = hashOf(bytes);
    }
    return written;
}

QStringList removeStaleTemporaryFiles(const QString &, qint64) { return {}; }

#endif

} // namespace store

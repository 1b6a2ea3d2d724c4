#include "store/safefile.h"

#include "store/exception.h"
#include "store/messagetext.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>

#include <algorithm>

#ifdef Q_OS_UNIX
#include "store/platform_posix.h"

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

// The name part this program puts into its temporary files' names.
constexpr char ProgramTag[] = "lijekovi-";

[[noreturn]] void fail(const QString &path, const QString &reason)
{
    QString message
        = QStringLiteral("Datoteka \"%1\" ne može se spremiti: %2").arg(shownPath(path), reason);
    if (!message.endsWith(QLatin1Char('.')))
        message += QLatin1Char('.');
    throw Exception(message);
}

QString changedMeanwhile()
{
    return QStringLiteral("datoteku je u međuvremenu promijenio drugi program, pa nije "
                          "zamijenjena. Ništa nije zapisano.");
}

QString nameTaken() { return QStringLiteral("datoteka tog imena već postoji i ne zamjenjuje se."); }

QString readOnly()
{
    return QStringLiteral("datoteka je samo za čitanje (nema prava pisanja u nju). Ništa nije "
                          "zapisano.");
}

QString absolute(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QByteArray hashOf(QByteArrayView bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

#ifdef Q_OS_UNIX

QString systemReason(int error) { return systemErrorText(error); }

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

// The folder a save writes into, open for the whole save: every name in it
// is created, checked and renamed relative to this one folder, so a folder
// renamed or swapped for a link meanwhile does not send a file elsewhere.
class Folder
{
public:
    Folder(const QString &path, const QByteArray &folder)
    {
        m_fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_fd < 0)
            fail(path, systemReason(errno));
    }
    ~Folder() { ::close(m_fd); }
    Folder(const Folder &) = delete;
    Folder &operator=(const Folder &) = delete;
    int fd() const { return m_fd; }

    // Makes its names durable, as syncFolder() does.
    void sync() const
    {
        int result;
        while ((result = ::fsync(m_fd)) != 0 && errno == EINTR) { }
    }

    // Creates a new file of this name, owner-only: never one that is there
    // already, and never through a link (O_EXCL fails on a link too).
    int createExclusive(const QByteArray &name) const
    {
        return ::openat(
            m_fd, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    }

private:
    int m_fd = -1;
};

// The longest name the folder takes.
qsizetype nameMax(const Folder &folder)
{
    const long max = ::fpathconf(folder.fd(), _PC_NAME_MAX);
    return max > 0 ? qsizetype(max) : 255;
}

// `name` cut to at most `bytes`, never inside a UTF-8 sequence.
QByteArray cutName(const QByteArray &name, qsizetype bytes)
{
    if (name.size() <= bytes)
        return name;
    qsizetype cut = bytes;
    while (cut > 0 && (uchar(name[cut]) & 0xC0) == 0x80)
        --cut;
    return name.left(cut);
}

bool writeAll(int fd, const char *p, qsizetype left)
{
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(std::min<qsizetype>(left, 1 << 30)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

bool syncData(int fd)
{
    while (::fdatasync(fd) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

// The temporary file until it is renamed: removed, and its descriptor
// closed, unless the rename took it.
class TemporaryFile
{
public:
    TemporaryFile(const QString &path, const Folder &folder, const QByteArray &name)
        : m_path(path)
        , m_folder(folder)
    {
        // ".<name>.lijekovi-XXXXXX", the name cut short where the whole
        // would be longer than the folder takes: every valid name can be
        // saved, and the pattern still says whose file it is.
        const QByteArray tag = QByteArray(".") + ProgramTag;
        const QByteArray stem
            = "." + cutName(name, nameMax(folder) - 1 - tag.size() - RandomLength);
        static constexpr char Letters[]
            = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        for (int attempt = 0; attempt < NameTries; ++attempt) {
            QByteArray random(RandomLength, Qt::Uninitialized);
            for (char &c : random)
                c = Letters[QRandomGenerator::system()->bounded(int(sizeof Letters - 1))];
            m_name = stem + tag + random;
            // Only ever a file of its own, readable by its owner only while
            // it is written, and never through a link planted at the name.
            m_fd = folder.createExclusive(m_name);
            if (m_fd >= 0 || errno != EEXIST)
                break;
        }
        if (m_fd < 0)
            fail(m_path, systemReason(errno));
    }
    ~TemporaryFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_kept)
            ::unlinkat(m_folder.fd(), m_name.constData(), 0);
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    int fd() const { return m_fd; }
    const QByteArray &name() const { return m_name; }

    void write(QByteArrayView bytes)
    {
        if (!writeAll(m_fd, bytes.data(), bytes.size()))
            fail(m_path, systemReason(errno));
    }

    void sync()
    {
        if (!syncData(m_fd))
            fail(m_path, systemReason(errno));
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

    // Whether the name still holds the file written: in a folder others
    // may write to, it could have been swapped for another meanwhile.
    bool stillAtItsName(const FileIdentity &written) const
    {
        struct stat st
        {
        };
        return ::fstatat(m_folder.fd(), m_name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0
            && identityOf(st).sameFileAs(written);
    }

    void keep() { m_kept = true; }

private:
    static constexpr qsizetype RandomLength = 6;
    QString m_path;
    const Folder &m_folder;
    QByteArray m_name;
    int m_fd = -1;
    bool m_kept = false;
};

// Copies the file about to be replaced, `name` in `folder`, to a new file
// beside it: `keepAs`, or with "-2", "-3"... added where that name is
// taken. Only the very file `expected` is copied, and the copy is on disk,
// its name too, before this returns. Returns the copy's path.
QString keepCopy(const QString &path, const Folder &folder, const QByteArray &name,
    const FileIdentity &expected, const QString &keepAs)
{
    const int in
        = ::openat(folder.fd(), name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (in < 0)
        fail(path, systemReason(errno));
    const auto closeIn = qScopeGuard([in] { ::close(in); });
    struct stat st
    {
    };
    if (::fstat(in, &st) != 0)
        fail(path, systemReason(errno));
    if (!identityOf(st).sameStateAs(expected))
        fail(path, changedMeanwhile());

    const QString copyFolder = keepAs.left(keepAs.lastIndexOf(QLatin1Char('/')) + 1);
    const QByteArray base = QFile::encodeName(keepAs.mid(copyFolder.size()));
    QByteArray copyName;
    int out = -1;
    for (int n = 1; n <= NameTries && out < 0; ++n) {
        copyName = n == 1 ? base : base + '-' + QByteArray::number(n);
        out = folder.createExclusive(copyName);
        if (out < 0 && errno != EEXIST)
            fail(path, systemReason(errno));
    }
    if (out < 0)
        fail(path,
            QStringLiteral(
                "sva su imena za njezinu kopiju pored nje zauzeta. Ništa nije zapisano."));
    bool done = false;
    const auto closeOut = qScopeGuard([&] {
        ::close(out);
        if (!done)
            ::unlinkat(folder.fd(), copyName.constData(), 0);
    });
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail(path, systemReason(errno));
        if (n == 0)
            break;
        if (!writeAll(out, buffer, n))
            fail(path, systemReason(errno));
    }
    if (!syncData(out))
        fail(path, systemReason(errno));
    done = true;
    // The copy's name must be on disk before the rename takes the old name
    // from the file it holds.
    folder.sync();
    return copyFolder + QFile::decodeName(copyName);
}

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
void linkNew(TemporaryFile &file, const Folder &folder, const QString &path, const QByteArray &name,
    bool *taken)
{
#ifdef RENAME_NOREPLACE
    if (::renameat2(
            folder.fd(), file.name().constData(), folder.fd(), name.constData(), RENAME_NOREPLACE)
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
    if (unsupported
        && ::linkat(folder.fd(), file.name().constData(), folder.fd(), name.constData(), 0) == 0)
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
{
}

ReplaceCheck *ReplaceCheck::forPath(const QString &absolutePath)
{
    return m_path == absolutePath ? this : nullptr;
}

QString stampedName(const QString &path, QChar separator, const QDateTime &when, int n)
{
    const QString name = path + separator + when.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    return n == 1 ? name : name + QLatin1Char('-') + QString::number(n);
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
    std::optional<QFileDevice::Permissions> newFilePermissions, ReplaceCheck *given)
{
    ReplaceCheck *check = given ? given->forPath(absolute(path)) : nullptr;
    const bool createOnly = check && check->m_mode == ReplaceCheck::CreateOnly;
    // A caller that expects no file there has no file of its own to follow
    // a link to: a link at the name, leading nowhere or to a file nobody
    // loaded, is not written through.
    const bool ownNameOnly = createOnly || (check && !check->m_expected.exists);

    const QString target = ownNameOnly ? absolute(path) : followLinks(path);
    const qsizetype slash = target.lastIndexOf(QLatin1Char('/'));
    const QByteArray folderName = native(slash > 0 ? target.left(slash) : QStringLiteral("/"));
    const QByteArray name = native(target.mid(slash + 1));
    const Folder folder(path, folderName);

    struct stat old
    {
    };
    const bool existed
        = ::fstatat(folder.fd(), name.constData(), &old, ownNameOnly ? AT_SYMLINK_NOFOLLOW : 0)
        == 0;
    if (existed && createOnly) {
        check->m_nameTaken = true;
        fail(path, nameTaken());
    }
    if (existed && S_ISLNK(old.st_mode)) {
        fail(path,
            QStringLiteral("na tom je mjestu simbolička veza, a ne datoteka koju je program "
                           "učitao. Ništa nije zapisano."));
    }
    if (existed && !S_ISREG(old.st_mode)) {
        fail(path,
            S_ISDIR(old.st_mode) ? QStringLiteral("na tom se mjestu nalazi mapa.")
                                 : QStringLiteral("to nije obična datoteka."));
    }
    // A rename needs only the folder's permission; a file that its mode
    // keeps from this user's writes is not this user's to replace.
    if (existed && ::faccessat(folder.fd(), name.constData(), W_OK, AT_EACCESS) != 0) {
        if (errno == EACCES || errno == EPERM)
            fail(path, readOnly());
        if (errno == EROFS)
            fail(path, systemReason(EROFS));
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
    if (!file.stillAtItsName(written))
        fail(path,
            QStringLiteral("privremenu datoteku zamijenio je drugi program. Ništa nije "
                           "zapisano."));

    if (createOnly) {
        linkNew(file, folder, path, name, &check->m_nameTaken);
    } else {
        struct stat st
        {
        };
        const bool present
            = ::fstatat(folder.fd(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (check && present && !identityOf(st).sameStateAs(check->m_expected))
            fail(path, changedMeanwhile());
        // Gone meanwhile is fine: nothing is lost by writing there. Made
        // readable by nobody else since the look: refused as at the start.
        if (present && ::faccessat(folder.fd(), name.constData(), W_OK, AT_EACCESS) != 0
            && (errno == EACCES || errno == EPERM))
            fail(path, readOnly());
        if (check && present && !check->m_keepAs.isEmpty()) {
            check->m_keptAs = keepCopy(
                path, folder, name, check->m_expected, target.left(slash + 1) + check->m_keepAs);
        }
        if (::renameat(folder.fd(), file.name().constData(), folder.fd(), name.constData()) != 0)
            fail(path, systemReason(errno));
        file.keep();
    }
    // Makes the rename itself durable; the file's own data is on disk by
    // now whether or not the folder can be synced.
    folder.sync();
    // A rename moves the file's change time: the identity is the one the
    // file has at its name now.
    struct stat now
    {
    };
    if (::fstatat(folder.fd(), name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0
        && identityOf(now).sameFileAs(written))
        written = identityOf(now);

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
    std::optional<QFileDevice::Permissions> newFilePermissions, ReplaceCheck *given)
{
    ReplaceCheck *check = given ? given->forPath(absolute(path)) : nullptr;
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
        fail(path, QStringLiteral("na disku nema mjesta."));
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
    if (check && !check->m_keepAs.isEmpty() && identifyFile(path).exists) {
        const QString keepAs = QFileInfo(path).absolutePath() + QLatin1Char('/') + check->m_keepAs;
        if (!QFile::copy(path, keepAs)) {
            file.cancelWriting();
            fail(path, QStringLiteral("njezina se kopija ne može napraviti. Ništa nije zapisano."));
        }
        check->m_keptAs = keepAs;
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

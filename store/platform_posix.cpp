// The store's and the register's calls to a POSIX system (Linux first:
// renameat2, st_mtim, fdatasync), all of them in this one file.

#include "store/platform.h"

#include "store/messagetext.h"

#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <algorithm>
#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace store::platform {

namespace {

Error errorOf(int error)
{
    Error out;
    switch (error) {
    case 0:
        return out;
    case EEXIST:
        out.code = Error::Exists;
        break;
    case EACCES:
    case EPERM:
        out.code = Error::Denied;
        break;
    case EROFS:
        out.code = Error::ReadOnlyMedium;
        break;
    case ELOOP:
        out.code = Error::IsLink;
        break;
    default:
        out.code = Error::Other;
        break;
    }
    out.message = systemErrorText(error);
    return out;
}

Error lastError() { return errorOf(errno); }

void report(Error *error, const Error &what)
{
    if (error)
        *error = what;
}

QByteArray native(const QString &path) { return QFile::encodeName(path); }

int fdOf(qintptr handle) { return int(handle); }

FileIdentity::Type typeOf(mode_t mode)
{
    if (S_ISREG(mode))
        return FileIdentity::Regular;
    if (S_ISDIR(mode))
        return FileIdentity::Folder;
    if (S_ISFIFO(mode))
        return FileIdentity::Fifo;
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return FileIdentity::Device;
    if (S_ISSOCK(mode))
        return FileIdentity::Socket;
    if (S_ISLNK(mode))
        return FileIdentity::Link;
    return FileIdentity::Other;
}

// What a stat() or fstat() found; no content hash.
FileIdentity identityOf(const struct stat &st)
{
    // The user a program runs as does not change while it runs.
    static const uid_t self = ::geteuid();
    FileIdentity id;
    id.exists = true;
    id.regular = S_ISREG(st.st_mode);
    id.type = typeOf(st.st_mode);
    id.device = quint64(st.st_dev);
    id.inode = quint64(st.st_ino);
    id.size = qint64(st.st_size);
    id.modified = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    id.changed = qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    id.links = quint32(st.st_nlink);
    id.ownedByUser = st.st_uid == self;
    id.permissions = quint32(st.st_mode & 07777);
    id.owner = quint32(st.st_uid);
    id.group = quint32(st.st_gid);
    return id;
}

FileIdentity identifyAt(int folder, const QByteArray &name, Links links, Error *error)
{
    struct stat st
    {
    };
    if (::fstatat(folder, name.constData(), &st, links == Links::Follow ? 0 : AT_SYMLINK_NOFOLLOW)
        != 0) {
        report(error, lastError());
        return FileIdentity();
    }
    return identityOf(st);
}

// Opened for reading without following a link, without waiting for a
// writer on a FIFO, and without becoming the controlling terminal.
constexpr int ReadOnlyNoFollow = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
// Created only when the name is free, never through a link.
constexpr int CreateNew = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
constexpr mode_t OwnerOnly = 0600;

Error renameNoReplaceAt(int folder, const QByteArray &from, const QByteArray &to)
{
#ifdef RENAME_NOREPLACE
    if (::renameat2(folder, from.constData(), folder, to.constData(), RENAME_NOREPLACE) == 0)
        return Error();
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return lastError();
#endif
    // A file system without an exclusive rename: a new hard link fails just
    // as surely when the name is taken.
    if (::linkat(folder, from.constData(), folder, to.constData(), 0) != 0)
        return lastError();
    ::unlinkat(folder, from.constData(), 0);
    return Error();
}

Error syncFolderFd(int fd)
{
    int result;
    while ((result = ::fsync(fd)) != 0 && errno == EINTR) { }
    // Some file systems cannot sync a folder at all (EINVAL).
    return result == 0 || errno == EINVAL ? Error() : lastError();
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

} // namespace

FileIdentity identify(const QString &path, Links links, Error *error)
{
    return identifyAt(AT_FDCWD, native(path), links, error);
}

QString followLinks(const QString &path, Error *error)
{
    QString current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st
        {
        };
        if (::lstat(native(current).constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        QByteArray target(qsizetype(st.st_size > 0 ? st.st_size : 256) + 1, Qt::Uninitialized);
        const ssize_t n
            = ::readlink(native(current).constData(), target.data(), size_t(target.size()));
        if (n < 0 || n >= target.size()) {
            report(error, errorOf(n < 0 ? errno : ENAMETOOLONG));
            return QString();
        }
        target.truncate(n);
        const QString next = QFile::decodeName(target);
        current = next.startsWith(QLatin1Char('/'))
            ? next
            : current.left(current.lastIndexOf(QLatin1Char('/')) + 1) + next;
    }
    report(error, errorOf(ELOOP));
    return QString();
}

// ------------------------------------------------------------------ File

File::~File() { closeQuietly(); }

void File::closeQuietly()
{
    if (m_handle != Invalid)
        ::close(fdOf(m_handle));
    m_handle = Invalid;
}

File File::createNew(const QString &path, Error *error)
{
    const int fd = ::open(native(path).constData(), CreateNew, OwnerOnly);
    if (fd < 0)
        report(error, lastError());
    return File(fd);
}

File File::openForReading(const QString &path, Error *error, Links links)
{
    const int fd = ::open(
        native(path).constData(), links == Links::Follow ? O_RDONLY | O_CLOEXEC : ReadOnlyNoFollow);
    if (fd < 0)
        report(error, lastError());
    return File(fd);
}

Error File::write(QByteArrayView bytes)
{
    const char *p = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fdOf(m_handle), p, size_t(std::min<qsizetype>(left, 1 << 30)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return lastError();
        if (n == 0)
            return errorOf(ENOSPC);
        p += n;
        left -= n;
    }
    return Error();
}

qint64 File::read(char *buffer, qint64 size, Error *error)
{
    for (;;) {
        const ssize_t n = ::read(fdOf(m_handle), buffer, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            report(error, lastError());
        return qint64(n);
    }
}

Error File::syncData()
{
    while (::fdatasync(fdOf(m_handle)) != 0) {
        if (errno != EINTR)
            return lastError();
    }
    return Error();
}

Error File::sync()
{
    while (::fsync(fdOf(m_handle)) != 0) {
        if (errno != EINTR)
            return lastError();
    }
    return Error();
}

FileIdentity File::identity(Error *error) const
{
    struct stat st
    {
    };
    if (::fstat(fdOf(m_handle), &st) != 0) {
        report(error, lastError());
        return FileIdentity();
    }
    return identityOf(st);
}

Error File::setPermissions(QFileDevice::Permissions permissions)
{
    return ::fchmod(fdOf(m_handle), modeOf(permissions)) == 0 ? Error() : lastError();
}

Error File::setDefaultPermissions()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return ::fchmod(fdOf(m_handle), 0666 & ~mask) == 0 ? Error() : lastError();
}

Error File::takeOverAttributes(const FileIdentity &old)
{
    struct stat own
    {
    };
    const int fd = fdOf(m_handle);
    if (::fstat(fd, &own) != 0)
        return lastError();
    const auto uid = uid_t(old.owner);
    const auto gid = gid_t(old.group);
    bool groupKept = own.st_gid == gid;
    if (own.st_uid != uid || !groupKept) {
        // Only the superuser may give a file away; any member of a group may
        // give it to that group.
        if (::fchown(fd, uid, gid) == 0)
            groupKept = true;
        else if (!groupKept && ::fchown(fd, uid_t(-1), gid) == 0)
            groupKept = true;
    }
    mode_t mode = mode_t(old.permissions) & 0777;
    // The old group's rights would go to this user's group instead.
    if (!groupKept)
        mode = (mode & ~mode_t(070)) | ((mode & 07) << 3);
    return ::fchmod(fd, mode) == 0 ? Error() : lastError();
}

bool File::tryLock() { return ::flock(fdOf(m_handle), LOCK_EX | LOCK_NB) == 0; }

Error File::close()
{
    const int fd = fdOf(m_handle);
    m_handle = Invalid;
    // Linux closes the descriptor even when interrupted: not a failure.
    if (fd >= 0 && ::close(fd) != 0 && errno != EINTR)
        return lastError();
    return Error();
}

// ---------------------------------------------------------------- Folder

Folder::~Folder()
{
    if (m_handle != File::Invalid)
        ::close(fdOf(m_handle));
}

Folder Folder::open(const QString &path, Error *error)
{
    Folder folder;
    folder.m_path = path;
    folder.m_handle = ::open(native(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder.m_handle < 0)
        report(error, lastError());
    return folder;
}

File Folder::createNew(const QString &name, Error *error) const
{
    const int fd = ::openat(fdOf(m_handle), native(name).constData(), CreateNew, OwnerOnly);
    if (fd < 0)
        report(error, lastError());
    return File(fd);
}

File Folder::openForReading(const QString &name, Error *error) const
{
    const int fd = ::openat(fdOf(m_handle), native(name).constData(), ReadOnlyNoFollow);
    if (fd < 0)
        report(error, lastError());
    return File(fd);
}

FileIdentity Folder::identify(const QString &name, Links links) const
{
    return identifyAt(fdOf(m_handle), native(name), links, nullptr);
}

Error Folder::checkWritable(const QString &name) const
{
    return ::faccessat(fdOf(m_handle), native(name).constData(), W_OK, AT_EACCESS) == 0
        ? Error()
        : lastError();
}

QStringList Folder::names() const
{
    QStringList out;
    // A descriptor of its own: closedir() closes what it was given.
    const int fd = ::dup(fdOf(m_handle));
    if (fd < 0)
        return out;
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return out;
    }
    // The copy shares its position with the folder's own descriptor, which
    // an earlier listing left at the end.
    ::rewinddir(dir);
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArrayView name(entry->d_name);
        if (name != ".." && name != ".")
            out << QFile::decodeName(entry->d_name);
    }
    ::closedir(dir);
    return out;
}

qsizetype Folder::maxNameBytes() const
{
    const long max = ::fpathconf(fdOf(m_handle), _PC_NAME_MAX);
    return max > 0 ? qsizetype(max) : 255;
}

Error Folder::rename(const QString &from, const QString &to) const
{
    const int fd = fdOf(m_handle);
    return ::renameat(fd, native(from).constData(), fd, native(to).constData()) == 0 ? Error()
                                                                                     : lastError();
}

Error Folder::renameNoReplace(const QString &from, const QString &to) const
{
    return renameNoReplaceAt(fdOf(m_handle), native(from), native(to));
}

Error Folder::remove(const QString &name) const
{
    return ::unlinkat(fdOf(m_handle), native(name).constData(), 0) == 0 ? Error() : lastError();
}

Error Folder::sync() const { return syncFolderFd(fdOf(m_handle)); }

// ------------------------------------------------------------ by path

Error syncFolder(const QString &path)
{
    const int fd = ::open(native(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return lastError();
    const Error error = syncFolderFd(fd);
    ::close(fd);
    return error;
}

Error rename(const QString &from, const QString &to)
{
    return ::rename(native(from).constData(), native(to).constData()) == 0 ? Error() : lastError();
}

Error renameNoReplace(const QString &from, const QString &to)
{
    return renameNoReplaceAt(AT_FDCWD, native(from), native(to));
}

Error remove(const QString &path)
{
    return ::unlink(native(path).constData()) == 0 ? Error() : lastError();
}

void shareWithFolderGroup(const QString &file)
{
    struct stat folder
    {
    };
    if (::stat(native(QFileInfo(file).absolutePath()).constData(), &folder) != 0
        || !(folder.st_mode & S_IWGRP))
        return;
    const QByteArray path = native(file);
    struct stat lock
    {
    };
    if (::lstat(path.constData(), &lock) == 0 && S_ISREG(lock.st_mode))
        ::chmod(path.constData(), (lock.st_mode & 0777) | S_IRGRP | S_IWGRP);
}

QString lockHostName() { return QSysInfo::machineHostName(); }

qint64 processId() { return qint64(::getpid()); }

bool processRuns(qint64 pid)
{
    // EPERM: the process lives, under another user.
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

qint64 nowNs()
{
    timespec ts {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

qsizetype releasePages(const char *buffer, qsizetype from, qsizetype to)
{
    static const quintptr page = quintptr(sysconf(_SC_PAGESIZE));
    const quintptr base = quintptr(buffer);
    const quintptr first = (base + quintptr(from) + page - 1) / page * page;
    const quintptr last = (base + quintptr(to)) / page * page;
    // Whole pages inside the buffer only, so the allocator's own words
    // around it are never touched. A refusal changes nothing: the bytes
    // simply stay.
    if (last > first)
        madvise(reinterpret_cast<void *>(first), size_t(last - first), MADV_DONTNEED);
    return qsizetype(last - base);
}

} // namespace store::platform

#include "store/platform_posix.h"
#include "store/platform.h"

#include <QFile>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace store {

FileIdentity::Type typeOf(unsigned mode)
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
    return FileIdentity::Other;
}

FileIdentity identityOf(const struct stat &st)
{
    FileIdentity id;
    id.exists = true;
    id.regular = S_ISREG(st.st_mode);
    id.type = typeOf(st.st_mode);
    id.device = quint64(st.st_dev);
    id.inode = quint64(st.st_ino);
    id.size = qint64(st.st_size);
    id.modified = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    id.changed = qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return id;
}

namespace platform {

FileIdentity identify(const QString &path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return FileIdentity();
    return identityOf(st);
}

qint64 nowNs()
{
    timespec ts {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

bool renameNoReplace(const QByteArray &from, const QByteArray &to)
{
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return false;
#endif
    // A file system without an exclusive rename: a new hard link fails just
    // as surely when the name is taken.
    if (::linkat(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), 0) != 0)
        return false;
    ::unlink(from.constData());
    return true;
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

} // namespace platform
} // namespace store

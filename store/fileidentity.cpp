#include "store/fileidentity.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <time.h>
#endif

namespace store {

#ifdef Q_OS_UNIX
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
#endif

#ifdef Q_OS_UNIX
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
#endif

FileIdentity identifyFile(const QString &path)
{
    FileIdentity id;
#ifdef Q_OS_UNIX
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return id;
    id = identityOf(st);
#else
    // No inode here: a file renamed over the old one shows only through its
    // size and time, and the content hash.
    const QFileInfo info(path);
    if (!info.exists())
        return id;
    id.exists = true;
    id.regular = info.isFile();
    id.type = info.isFile() ? FileIdentity::Regular
        : info.isDir()      ? FileIdentity::Folder
                            : FileIdentity::Other;
    id.size = info.size();
    id.modified = info.lastModified().toMSecsSinceEpoch() * 1000000;
#endif
    return id;
}

bool stampIsRecent(const FileIdentity &identity, qint64 now)
{
    constexpr qint64 granularity = 2'000'000'000;
    return identity.modified > now - granularity;
}

qint64 nowNs()
{
#ifdef Q_OS_UNIX
    timespec ts {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
#else
    return QDateTime::currentMSecsSinceEpoch() * 1000000;
#endif
}

QByteArray fileSha256(const QString &path)
{
    // Never opened unless regular: opening a FIFO would wait for a writer.
    if (!identifyFile(path).regular)
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return {};
    return hash.result();
}

} // namespace store

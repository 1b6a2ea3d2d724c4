#pragma once

// The lock's folder as tests prepare it: lock files left by other copies,
// a folder that cannot hold the lock, a small disk to fill or make
// read-only.
#include "register/registerlock.h"
#include "tests/support/files.h"
#include "tests/support/systemfiles.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <memory>
#include <vector>

namespace testsupport {

// The process id a lock file names on its first line, or 0.
inline qint64 lockOwner(const QString &path)
{
    return readFile(path).split('\n').value(0).toLongLong();
}

// A lock file as QLockFile writes it: process id, program name and host,
// one a line.
inline void writeLockFile(const QString &path, qint64 pid, const QString &program,
    const QString &host, const QByteArray &raw = QByteArray())
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    if (pid)
        f.write(QByteArray::number(pid) + '\n' + program.toUtf8() + '\n' + host.toUtf8() + '\n');
    else
        f.write(raw);
    f.close();
}

// Written an hour ago. Only the file's times are touched: on Windows a live
// copy's lock file cannot be opened for writing at all.
inline void makeOld(const QString &path) { QVERIFY(setAge(path, 3600)); }

inline QString ownProgramName()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName();
}

// Every entry of a folder with its kind and, for a regular file, its bytes.
inline QMap<QString, QByteArray> folderEntries(const QString &folder)
{
    QMap<QString, QByteArray> out;
    const QDir dir(folder);
    for (const QString &name :
        dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        const QFileInfo info(dir.filePath(name));
        if (info.isSymLink())
            out[name] = "link to " + QFile::encodeName(info.symLinkTarget());
        else if (info.isDir())
            out[name] = "folder";
        else if (info.isFile())
            out[name] = readFile(info.filePath());
        else
            out[name] = "special";
    }
    return out;
}

// A small file system of its own mounted on a folder for a test's life,
// to be filled up or made read-only. Only the superuser can mount.
class ScratchDisk
{
public:
    explicit ScratchDisk(const QString &folder)
        : m_folder(folder)
    {
        m_mounted = isSuperuser()
            && QProcess::execute(QStringLiteral("mount"),
                   { QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                       QStringLiteral("size=256k,mode=0755"), QStringLiteral("tmpfs"), folder })
                == 0;
    }
    ~ScratchDisk()
    {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), { QStringLiteral("-l"), m_folder });
    }
    bool mounted() const { return m_mounted; }

    bool makeReadOnly()
    {
        return QProcess::execute(QStringLiteral("mount"),
                   { QStringLiteral("-o"), QStringLiteral("remount,ro"), m_folder })
            == 0;
    }

    // Fills the disk up to its last byte.
    bool fill()
    {
        QFile filler(m_folder + QStringLiteral("/punjenje"));
        if (!filler.open(QIODevice::WriteOnly))
            return false;
        const QByteArray block(1024, 'x');
        while (filler.write(block) == block.size() && filler.flush()) { }
        filler.close();
        const QByteArray one(1, 'x');
        while (filler.open(QIODevice::Append) && filler.write(one) == 1 && filler.flush())
            filler.close();
        return true;
    }

private:
    QString m_folder;
    bool m_mounted = false;
};

// How the register's folder is spoiled for the lock: something at the
// lock's path, or a folder that takes no new file.
enum class LockSpoiler { Folder, BrokenLink, Fifo, ReadOnlyFolder, FullDisk };

// Prepares `folder` (which holds a register) as `spoiler` says; false when
// this machine cannot (mounting needs the superuser).
inline bool spoilLock(
    const QString &folder, LockSpoiler spoiler, std::unique_ptr<ScratchDisk> &disk)
{
    const QString lock = folder + QLatin1Char('/') + RegisterLock::fileName();
    switch (spoiler) {
    case LockSpoiler::Folder:
        return QDir().mkpath(lock + QStringLiteral("/unutra"));
    case LockSpoiler::BrokenLink:
        return QFile::link(folder + QStringLiteral("/nema"), lock);
    case LockSpoiler::Fifo:
        return makeFifo(lock);
    case LockSpoiler::ReadOnlyFolder:
    case LockSpoiler::FullDisk:
        break;
    }
    const QByteArray bytes = readFile(folder + QStringLiteral("/Baza.xml"));
    disk = std::make_unique<ScratchDisk>(folder);
    if (!disk->mounted())
        return false;
    QFile data(folder + QStringLiteral("/Baza.xml"));
    if (!data.open(QIODevice::WriteOnly) || data.write(bytes) != bytes.size())
        return false;
    data.close();
    return spoiler == LockSpoiler::FullDisk ? disk->fill() : disk->makeReadOnly();
}

// Files a start finds beside the register, with what the sweep of killed
// saves' temporary files must do with each: only this program's pattern,
// owner-only and older than the start, goes.
struct StaleLeftover
{
    const char *name;
    int mode;
    qint64 age; // seconds; negative: written after the start
    bool removed;
};

inline const std::vector<StaleLeftover> &staleLeftovers()
{
    static const std::vector<StaleLeftover> leftovers = {
        { ".Baza.xml.lijekovi-Ab3x9Q", 0600, 3600, true },
        { ".lijekovi.txt.lijekovi-Cd4y0R", 0600, 3600, true },
        { ".Baza.xml.lijekovi-Ef5z1S", 0644, 3600, false }, // not owner-only
        { ".Baza.xml.lijekovi-Gh6a2T", 0600, -3600, false }, // newer than the start
        { ".Baza.xml.recovery-20261210-143055", 0600, 3600, false }, // not the pattern
    };
    return leftovers;
}

} // namespace testsupport

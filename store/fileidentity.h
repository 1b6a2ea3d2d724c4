#pragma once

#include <QByteArray>
#include <QString>

namespace store {

// Which file is at a path and the state it was in when looked at: enough to
// tell later whether the file there is still the same one, unchanged. A
// program that replaces the file by renaming another over it gives it a new
// inode; one that writes into it changes its size or its modification time.
struct FileIdentity
{
    // Link only where links were not followed.
    enum Type { Missing, Regular, Folder, Fifo, Device, Socket, Link, Other };

    bool exists = false;
    // A regular file; false for a folder, a device, a FIFO or a socket.
    bool regular = false;
    Type type = Missing;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    // Nanoseconds since the epoch.
    qint64 modified = 0;
    // When the inode last changed (st_ctim), in the same unit. Nobody can
    // set it back: an edit in place whose modification time was restored
    // afterwards still shows here. A change of mode or owner moves it too.
    qint64 changed = 0;
    // How many names (hard links) the file has.
    quint32 links = 0;
    // Whether the user this program runs as owns it.
    bool ownedByUser = false;
    // Who may do what, as POSIX permission bits (0640); on a system without
    // them, what its security comes closest to. The owner's and group's
    // numbers where the system has them.
    quint32 permissions = 0;
    quint32 owner = 0;
    quint32 group = 0;
    // SHA-256 of the content, kept when the stamps alone cannot vouch for it:
    // a write within the file system's timestamp granularity after the file
    // was looked at leaves the same modification time.
    QByteArray sha256;

    // Nobody but the owner may read, write or run it.
    bool ownerOnly() const { return (permissions & 077) == 0; }

    // The same file (device and inode), whatever its state.
    bool sameFileAs(const FileIdentity &other) const
    {
        return exists && other.exists && device == other.device && inode == other.inode;
    }
    // The same file with the same size, modification and change time.
    bool sameStateAs(const FileIdentity &other) const
    {
        if (!exists || !other.exists)
            return exists == other.exists;
        return sameFileAs(other) && size == other.size && modified == other.modified
            && changed == other.changed;
    }
};

// What is at `path` now, following symbolic links; no content hash.
FileIdentity identifyFile(const QString &path);

// Whether a file's modification time is so close to `nowNs` (or later) that
// a change made after the look could have kept it. Two seconds covers the
// coarsest file systems in use (FAT) and a clock tick on any other.
bool stampIsRecent(const FileIdentity &identity, qint64 nowNs);

// The current time in the nanoseconds of FileIdentity::modified.
qint64 nowNs();

// SHA-256 of the file's content; empty when it cannot be read.
QByteArray fileSha256(const QString &path);

} // namespace store

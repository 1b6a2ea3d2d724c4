#pragma once

#include "store/fileidentity.h"

#include <QByteArrayView>
#include <QFileDevice>
#include <QString>
#include <QStringList>

#include <utility>

// What the store and the register ask of the operating system itself, beyond
// what Qt gives: one small interface, implemented once per system in a file
// of its own (platform_posix.cpp), so that the rest reads the same
// everywhere and no caller needs a system header or errno.
//
// Paths and names are Qt's (QString, '/' as separator); every function
// encodes them for the system itself.
namespace store::platform {

// Why a call failed, for the caller to decide on and for the user to read.
struct Error
{
    enum Code {
        None,
        // The name is taken (a file created exclusively, a rename that
        // replaces nothing).
        Exists,
        // The file's permissions or its owner forbid it.
        Denied,
        // The disk or the folder is mounted read-only.
        ReadOnlyMedium,
        // A symbolic link is where a file was opened without following links.
        IsLink,
        Other,
    };

    Code code = None;
    // The system's reason as a message shows it (messagetext's
    // systemErrorText()); empty when there was no error.
    QString message;

    explicit operator bool() const { return code != None; }
};

// Whether a path's last component is followed when it is a symbolic link.
enum class Links { Follow, DontFollow };

// What is at `path` now, no content hash; links followed or not. A link
// itself has the type FileIdentity::Link. Nothing there, or no permission
// to look, gives a missing identity and, in `error`, why.
FileIdentity identify(const QString &path, Links links = Links::Follow, Error *error = nullptr);

// The file a write to `path` (absolute, cleaned) reaches: symbolic links
// followed to their end, the last one's target whether it exists or not.
// Relative targets are taken from the link's own folder; ".." in them is
// left to the system, which knows whether that folder is itself a link.
// Empty, with `error` set, for a link that cannot be read or a chain of
// links too long to be anything but a loop.
QString followLinks(const QString &path, Error *error);

class Folder;

// An open file, owned: closed when this is destroyed or moved over.
class File
{
public:
    File() = default;
    ~File();
    File(File &&other) noexcept
        : m_handle(std::exchange(other.m_handle, Invalid))
    {
    }
    File &operator=(File &&other) noexcept
    {
        if (this != &other) {
            closeQuietly();
            m_handle = std::exchange(other.m_handle, Invalid);
        }
        return *this;
    }
    File(const File &) = delete;
    File &operator=(const File &) = delete;

    // A new file at `path`, readable and writable by its owner only: never
    // one that is there already, and never through a link planted at the
    // name (Error::Exists for either).
    static File createNew(const QString &path, Error *error);
    // `path` opened for reading. With Links::DontFollow a link at the name
    // is not opened (Error::IsLink), and neither waits for a writer on a
    // FIFO nor takes a terminal over: the caller looks at identity() before
    // it reads. With Links::Follow a plain open, for a file known to be
    // regular.
    static File openForReading(const QString &path, Error *error, Links links = Links::DontFollow);

    bool isOpen() const { return m_handle != Invalid; }

    // Writes every byte, however many calls the system takes; a disk that
    // takes none is reported as full.
    Error write(QByteArrayView bytes);
    // Up to `size` bytes into `buffer`: how many, 0 at the end, -1 on an
    // error (with `error` set).
    qint64 read(char *buffer, qint64 size, Error *error);
    // Makes the content durable: on disk, not just handed to the system.
    Error syncData();
    // As syncData(), and the file's metadata (its size, its times) too.
    Error sync();
    // What the open file is, no content hash.
    FileIdentity identity(Error *error = nullptr) const;

    // Who may do what with the file from now on.
    Error setPermissions(QFileDevice::Permissions permissions);
    // What a new file gets from the system by default (0666 less the umask).
    Error setDefaultPermissions();
    // The owner, group and permissions of `old` (the file this one
    // replaces), where this user may set them: a member of a group may give
    // the file to that group. Where the group cannot be kept, the new group
    // gets no more than everybody else.
    Error takeOverAttributes(const FileIdentity &old);

    // An exclusive lock on the open file, never waiting: false when another
    // holds it. Where an open file cannot be removed at all, true.
    bool tryLock();

    // Closes the file, reporting what the system reports: some file systems
    // report a failed write only here. A closed File closes nothing.
    Error close();

private:
    friend class Folder;
    explicit File(qintptr handle)
        : m_handle(handle)
    {
    }
    void closeQuietly();

    // -1 is no handle on every system this runs on.
    static constexpr qintptr Invalid = -1;
    qintptr m_handle = Invalid;
};

// A folder held open: every name in it is created, looked at and renamed
// relative to this one folder, so a folder renamed or swapped for a link
// meanwhile does not send a file elsewhere. (Where the system cannot hold a
// folder open, it remembers the path.)
class Folder
{
public:
    Folder() = default;
    ~Folder();
    Folder(Folder &&other) noexcept
        : m_handle(std::exchange(other.m_handle, File::Invalid))
        , m_path(std::move(other.m_path))
    {
    }
    Folder &operator=(Folder &&other) = delete;
    Folder(const Folder &) = delete;
    Folder &operator=(const Folder &) = delete;

    static Folder open(const QString &path, Error *error);
    bool isOpen() const { return m_handle != File::Invalid; }

    // As File::createNew(), for a name in this folder.
    File createNew(const QString &name, Error *error) const;
    // As File::openForReading() with Links::DontFollow.
    File openForReading(const QString &name, Error *error) const;
    // What is at `name`, as identify() sees it.
    FileIdentity identify(const QString &name, Links links) const;
    // Whether this user may write the file at `name` (following a link):
    // Error::Denied when its permissions say no, Error::ReadOnlyMedium on a
    // read-only disk.
    Error checkWritable(const QString &name) const;
    // The names in the folder, "." and ".." left out.
    QStringList names() const;
    // The longest name the folder takes, in bytes of the name as the system
    // spells it (UTF-8); a system counting in UTF-16 units gives its own
    // limit, which a name cut to that many bytes never exceeds.
    qsizetype maxNameBytes() const;

    // Gives `from` the name `to`, replacing whatever file has it, in one step.
    Error rename(const QString &from, const QString &to) const;
    // As renameNoReplace(), in this folder.
    Error renameNoReplace(const QString &from, const QString &to) const;
    Error remove(const QString &name) const;

    // Makes the names in the folder durable: a file created or renamed
    // there survives a power cut only once its folder is synced. No error
    // when synced, or when the file system cannot sync folders.
    Error sync() const;

private:
    qintptr m_handle = File::Invalid;
    QString m_path;
};

// As Folder::sync(), for the folder at `path`.
Error syncFolder(const QString &path);

// Gives `from` the name `to`, replacing whatever file has it, in one step.
Error rename(const QString &from, const QString &to);
// Gives `from` the name `to` only when nothing has that name: never over
// another file, never through a link. Error::Exists when the name is taken.
Error renameNoReplace(const QString &from, const QString &to);
// Removes the name `path` (a link itself, not what it leads to).
Error remove(const QString &path);

// Where the folder that holds `file` lets its group write, lets the group
// read and write the regular file at `file` too (a link there is left
// alone), so that a colleague can take it over. Nothing on a system
// without groups.
void shareWithFolderGroup(const QString &file);

// This computer's name as Qt's QLockFile records it in a lock file: the
// host name, or on Windows the computer's own (NetBIOS) name. Compare it
// without regard to case.
QString lockHostName();

// This program's process id.
qint64 processId();
// Whether a process `pid` runs, under any user.
bool processRuns(qint64 pid);

// The wall clock, in nanoseconds since the epoch.
qint64 nowNs();

// Hands back to the system the whole pages of `buffer` between the offsets
// `from` and `to`, which will not be read again: their memory may go before
// the buffer does. Returns the offset up to which pages were handed back
// (`from` where the system keeps them).
qsizetype releasePages(const char *buffer, qsizetype from, qsizetype to);

} // namespace store::platform

#pragma once

// What the tests do to files and processes beyond what Qt offers, written
// once per system (systemfiles.cpp): the tests read the same on Linux and
// on Windows. A case that needs what only a POSIX system has (FIFOs,
// device nodes, symbolic links any user may make, modes beyond the owner's
// write bit, other users and groups) says so with LIJEKOVI_POSIX_ONLY, and
// is skipped with that reason elsewhere.

#include <QProcess>
#include <QString>
#include <QTest>

#include <memory>

#ifdef Q_OS_UNIX
#define LIJEKOVI_POSIX_ONLY(what)                                                                  \
    do {                                                                                           \
    } while (false)
#else
#define LIJEKOVI_POSIX_ONLY(what) QSKIP("needs " what " (POSIX only)")
#endif

namespace testsupport {

// Whether this Windows program runs under Wine, which lacks some of what
// Windows does (never on POSIX).
bool runsUnderWine();

// Whether the test runs as the superuser, who ignores modes (never on
// Windows here).
bool isSuperuser();

// A FIFO at `path`; false where the system has none.
bool makeFifo(const QString &path);

// A character device at `path` that reads as nothing, as /dev/null does;
// false unless the system has device nodes and this is the superuser.
bool makeNullDevice(const QString &path);

// Gives `from` the name `to` in one step, replacing the file there, as
// another program's save does.
bool renameOver(const QString &from, const QString &to);

// Whether what is at `path` belongs to the user the test runs as.
bool ownedByThisUser(const QString &path);

// A second name `to` for the file at `from`.
bool makeHardLink(const QString &from, const QString &to);

// Gives the file (a link followed) the permission bits `mode`. On Windows
// the owner's write bit is the read-only attribute, and the access list
// lets the owner in and, as the group's and others' bits say, everybody:
// the group is not told from the others there.
bool setFileMode(const QString &path, uint mode);

// The permission bits of what is at `path` (a link itself, not followed):
// the mode's low twelve bits on POSIX; on Windows the owner's read and
// write bits (write unless read-only) and, as the group's and everybody's,
// what the access list grants other accounts.
uint fileMode(const QString &path);

// Sets the modification (and access) time of what is at `path` (a folder
// or a link itself too) `seconds` before now; negative: after now.
bool setAge(const QString &path, qint64 seconds);

// Sets the modification time of the file at `path` to `ns` since the
// epoch, to the system's resolution; the access time is left.
bool setModifiedNs(const QString &path, qint64 ns);

// The system's own words for why nothing is at `path` (a missing file, or
// on Windows a missing folder on the way), as a message quotes them after
// the Croatian ones.
QString missingText(const QString &path);

// Whether a process `pid` exists, under any user.
bool processExists(qint64 pid);

// A process other than this one that runs for as long as this lives: the
// parent on POSIX; on Windows, where the parent may be gone, a command
// interpreter that waits for a command.
class RunningProcess
{
public:
    RunningProcess();
    ~RunningProcess();
    RunningProcess(const RunningProcess &) = delete;
    RunningProcess &operator=(const RunningProcess &) = delete;
    qint64 id() const;

private:
    std::unique_ptr<QProcess> m_child;
};

// Sets the umask to 0 for as long as this lives, or until restore(): a new
// file is then kept to its owner by the program alone. Nothing on Windows,
// which has no umask.
class PermissiveUmask
{
public:
    PermissiveUmask();
    ~PermissiveUmask() { restore(); }
    PermissiveUmask(const PermissiveUmask &) = delete;
    PermissiveUmask &operator=(const PermissiveUmask &) = delete;
    void restore();

private:
    uint m_old = 0;
    bool m_set = false;
};

// The id of a process that has just ended and been waited for, as a copy
// that crashed leaves behind; 0 when none could be started.
qint64 endedProcessId();

// What tells a thing at a path from another, and from itself changed: the
// link itself when it is one.
struct FileStamp
{
    bool exists = false;
    quint64 device = 0;
    quint64 inode = 0;
    // The file's type and its permission bits, as fileMode() gives them.
    uint mode = 0;
    // The device a device node stands for.
    quint64 rdev = 0;
};

FileStamp stampOf(const QString &path);

} // namespace testsupport

#pragma once

#include "store/fileidentity.h"

#include <QByteArrayView>
#include <QDateTime>
#include <QFileDevice>
#include <QString>
#include <QStringList>

#include <optional>

namespace store {

class ReplaceCheck;

// How many names a file made beside another tries (random ones, or "-2",
// "-3"... added) before it gives up: far more than any folder holds of them.
inline constexpr int NameTries = 100;

// The `n`th name tried for a copy of `path` beside it, made at `when`:
// `path`, `separator`, the time as "20261210-143055", and from the second
// try on "-2", "-3"... The copies of the register and the journals set
// aside are all named so.
QString stampedName(const QString &path, QChar separator, const QDateTime &when, int n);

// Replaces `path` whole with `bytes`: the bytes go to a temporary file beside
// it, which is renamed over the old file only once every byte is on disk.
// A crash, a kill or a full disk in between leaves the old file as it was.
// A symbolic link at `path` is followed: the file it leads to is replaced and
// the link stays (unless `check` expects no file: then the link is
// refused). Something there that is not a regular file (a folder, a device,
// a FIFO) is refused and left alone, and so is a file whose mode does not
// let this user write it (a rename needs only the folder's permission).
// Every name the save creates is new (O_EXCL, never through a link), and
// the temporary one is cut short where the whole would be too long.
// `newFilePermissions` applies when the file does not exist yet (by default
// 0666 less the umask). A replaced file keeps its mode, and its owner and
// group as far as the saving user may set them: a colleague's save in a
// folder shared by a group leaves the file to the group. Where the group
// cannot be kept, the new group gets no more than everybody else.
// With a `check` for `path`, the write does only what it allows (a check
// for another path is not this write's and changes nothing).
// Returns the identity of the file written. Throws store::Exception with the
// system's reason.
FileIdentity replaceFileContents(const QString &path, QByteArrayView bytes,
    std::optional<QFileDevice::Permissions> newFilePermissions = std::nullopt,
    ReplaceCheck *check = nullptr);

// The file a replaceFileContents() of `path` writes: `path` made absolute,
// with symbolic links followed to their end (the last one's target, which
// need not exist yet).
QString replacedFilePath(const QString &path);

// Says what a save may do to one path, handed to the write (through the
// data file's writer) by whoever knows what the file should be.
// replaceFileContents() of `path` with it
// - with ReplaceExpected, replaces only the file `expected` (the same file
//   with the same size and time): checked again just before the rename, so
//   a file put there or changed meanwhile is refused and kept (none at all
//   is fine);
// - with CreateOnly, only creates: a file that is there by the time of the
//   rename is never replaced, and nameTaken() tells so;
// and keeps the identity of what it wrote, with its content hash.
// With keepReplacedAs(), the file replaced is first copied beside it.
class ReplaceCheck
{
public:
    enum Mode { ReplaceExpected, CreateOnly };

    ReplaceCheck(const QString &path, Mode mode, const FileIdentity &expected = FileIdentity());
    ReplaceCheck(const ReplaceCheck &) = delete;
    ReplaceCheck &operator=(const ReplaceCheck &) = delete;

    // Before a file is replaced, its content is copied to a new file `name`
    // in its folder (or "name-2", "name-3"... where that is taken), owner-
    // only, and the copy is on disk before the rename. Nothing is copied
    // when no file is there.
    void keepReplacedAs(const QString &name) { m_keepAs = name; }
    // The path of the copy made, once it is made.
    const QString &keptAs() const { return m_keptAs; }

    // The file written, once the rename is done.
    const std::optional<FileIdentity> &written() const { return m_written; }
    bool nameTaken() const { return m_nameTaken; }

private:
    friend FileIdentity replaceFileContents(
        const QString &, QByteArrayView, std::optional<QFileDevice::Permissions>, ReplaceCheck *);
    // The check itself when it is for `absolutePath`.
    ReplaceCheck *forPath(const QString &absolutePath);

    QString m_path;
    Mode m_mode;
    FileIdentity m_expected;
    std::optional<FileIdentity> m_written;
    bool m_nameTaken = false;
    QString m_keepAs;
    QString m_keptAs;
};

// The name a save's temporary file gets beside `targetName`: a dot, the
// target's name (cut short when it is long), a dot, this program's name and
// six random characters (".Baza.xml.lijekovi-Ab3x9Q"). The leading dot and
// name keep it hidden and next to its file, and no other program makes such
// names.
bool isTemporaryFileName(const QString &name);

// Removes from `folder` the temporary files that saves killed before their
// rename left: only names of this program's pattern, regular files with one
// link, owned by this user, readable by the owner only and last written
// before `startedNs`, the program's start in nanoseconds since the epoch
// (with two seconds to spare for the file system's coarser clock). Anything
// else, even of the same name, stays. Returns the names removed.
QStringList removeStaleTemporaryFiles(const QString &folder, qint64 startedNs);

} // namespace store

#pragma once

#include "store/fileidentity.h"

#include <QString>
#include <QStringList>

#include <optional>

// The register's own file, and what may be written over it.
//
// Another program may replace "Baza.xml" while this one runs (a backup
// copied back, a sync client, a colleague's copy of the program that could
// not be locked out), or the folder may be renamed and a new one made under
// its name. Writing the register then would destroy a file this program
// never saw. So the guard remembers the file as it was loaded or last
// written, and every write first checks that the file there is still that
// one.
class RegisterFileGuard
{
public:
    enum class Change {
        None, // the file known, unchanged; or no file, which a write creates
        Replaced, // another file took its place
        Modified, // the same file, written by someone else
        Appeared, // a file where there was none
        FolderReplaced, // the folder is another one of the same name
    };

    struct Finding
    {
        Change change = Change::None;
        // What is there now.
        store::FileIdentity current;
        // For the user: the file or folder, and what changed.
        QString description;
        // The question to ask before writing over it; its "Ne" writes nothing.
        QString question() const;
    };

    // After a load of `path`, failed or not; `before` is what was there
    // just before the read.
    void loaded(const QString &path, const store::FileIdentity &before);
    // After a write of `path`: what was written.
    void written(const QString &path, const store::FileIdentity &identity);

    // Whether the file at `path` is still the one loaded or written last.
    Finding check(const QString &path) const;
    // The user (or a check that found no change) lets the next write replace
    // `current`.
    void approve(const store::FileIdentity &current) { m_approved = current; }
    // What the next write may find there and replace.
    store::FileIdentity expected() const;

private:
    struct Known
    {
        store::FileIdentity folder;
        store::FileIdentity file;
    };
    std::optional<Known> m_known;
    std::optional<store::FileIdentity> m_approved;
};

// What a file that is not a regular one is, for the user: "mapa",
// "imenovana cijev (FIFO)", ...
QString fileTypeName(store::FileIdentity::Type type);

// The register's own files in its folder: "Baza.xml" and every name that
// starts with "Baza.xml." or ".Baza.xml." (its lock, its recovery data,
// the copies kept beside it, the temporary files of its saves).
bool isRegisterFileName(const QString &name);

// Refuses, by throwing store::Exception, an export onto something that is
// not a regular file, or onto one of the register's own files in any of
// `registerFolders` (compared as folders, so another spelling of the path
// or a link does not get around it; a hard link or a symbolic link to one
// of them from elsewhere neither). Nothing is written either way.
void checkExportTarget(const QString &target, const QStringList &registerFolders);

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
        // The question to ask before writing over it; its "Ne" writes
        // nothing. `keptAs` is where its "Da" keeps the file found first.
        QString question(const QString &keptAs) const;
    };

    // After a load of `path`, failed or not; `before` is what was there
    // just before the read.
    void loaded(const QString &path, const store::FileIdentity &before);
    // After a write of `path`: what was written.
    void written(const QString &path, const store::FileIdentity &identity);

    // Whether the file at `path` is still the one loaded or written last.
    Finding check(const QString &path) const;
    // The user (or a check that found no change) lets the next write replace
    // `current`; when the user let it replace another program's file, that
    // file is kept first under the name `keepAs` (see copyPathFor()).
    void approve(const store::FileIdentity &current, const QString &keepAs = QString())
    {
        m_approved = current;
        m_keepAs = keepAs;
    }
    // What the next write may find there and replace.
    store::FileIdentity expected() const;

    // The rows in the window are no longer the file's (they were recovered
    // after a crash over a file that someone else changed): the file is
    // this program's to check, but not its to lose. Until the next write,
    // which keeps it beside first.
    void keepBeforeReplacing() { m_keepFile = true; }
    // Under which name the next write of `path` keeps the file it replaces,
    // in that file's folder; empty when the file is this program's own.
    QString keepAs(const QString &path) const;

    // A free name beside the file a write of `path` replaces, for a copy
    // of it: "Baza.xml.20261210-143055", or with "-2", "-3"... added.
    static QString copyPathFor(const QString &path);

private:
    struct Known
    {
        store::FileIdentity folder;
        store::FileIdentity file;
        // Looked at so soon after its last write that another write in the
        // same clock tick would keep its stamps: the content is compared.
        bool stampsTooClose = false;
    };
    std::optional<Known> m_known;
    std::optional<store::FileIdentity> m_approved;
    QString m_keepAs;
    bool m_keepFile = false;
};

// What a file that is not a regular one is, for the user: "mapa",
// "imenovana cijev (FIFO)", ...
QString fileTypeName(store::FileIdentity::Type type);

// Refuses, by throwing store::Exception, an export onto something that is
// not a regular file, or onto one of the register's own files in any of
// `registerFolders` (compared as folders, so another spelling of the path
// or a link does not get around it; a hard link or a symbolic link to one
// of them from elsewhere neither). Nothing is written either way.
void checkExportTarget(const QString &target, const QStringList &registerFolders);

#pragma once

#include <QString>
#include <QStringList>

// The names of the register's files. The register is one data file in the
// folder the program starts in; beside it lie the files that serve it: the
// lock that keeps a second copy out, the journal a crash is recovered from,
// the copies of files a save replaced or a journal that was set aside, and
// the temporary files of saves. All of them are named after the data file,
// so that they sort beside it and nobody mistakes them for someone else's.
class RegisterPaths
{
public:
    // The register kept in `folder`.
    explicit RegisterPaths(const QString &folder);

    // "Baza.xml".
    static QString dataFileName();
    // ".Baza.xml.lock": hidden, as is the journal.
    static QString lockFileName();
    // ".Baza.xml.recovery".
    static QString recoveryFileName();

    const QString &folder() const { return m_folder; }
    // The data file, the lock and the journal in the register's folder.
    const QString &dataFile() const { return m_dataFile; }
    QString lockFile() const;
    QString recoveryFile() const;

    // Whether `name` (without a folder) is one of the register's files:
    // "Baza.xml" and every name that starts with "Baza.xml." or
    // ".Baza.xml." (its lock, its recovery data, the copies kept beside it,
    // the temporary files of its saves). Case-blind, for the file systems
    // that are.
    static bool isRegisterFileName(const QString &name);
    // Whether `name` is the data file itself, case-blind as above.
    static bool isDataFileName(const QString &name);
    // The patterns of isRegisterFileName() for a folder listing.
    static QStringList registerFileNamePatterns();

private:
    QString m_folder;
    QString m_dataFile;
};

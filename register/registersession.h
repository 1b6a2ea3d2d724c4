#pragma once

#include "register/registerfiles.h"
#include "register/registerpaths.h"
#include "store/record.h"

#include <QString>

#include <memory>
#include <vector>

namespace store {
class ClientDataSet;
class RecoveryJournal;
struct TableChange;
}
class RegisterLock;

// What a session asks of the person at the program, and tells them. The
// window answers with its message boxes; a test answers directly.
class RegisterDialogue
{
public:
    enum class Question {
        ReplaceChangedFile, // another file is where the register was: replace it?
        PurgeNameless, // nameless entries hold typed data: delete them?
        Recover, // a journal left by a crash or a close without saving: replay it?
        RecoverOverChanged, // the same, over a file someone else changed since
    };

    virtual ~RegisterDialogue() = default;
    // Whether anybody is there to answer (not after a termination signal,
    // nor at the end of the desktop session).
    virtual bool attended() const = 0;
    // True for Yes. Every question but Recover has No as its default, and
    // No always leaves the files as they are.
    virtual bool ask(Question question, const QString &text) = 0;
    // Something failed and nothing was lost: what and why ("Greška").
    virtual void reportError(const QString &message) = 0;
    // What was done, for the user to know ("Poruka").
    virtual void notify(const QString &message) = 0;
    // The journal could not record a change. Called in the middle of the
    // change: the message waits until the table is whole again.
    virtual void reportJournalFailure(const QString &message) = 0;
};

// The register in one folder, for as long as the program keeps it open:
// its data file loaded into the window's table, written only over the file
// loaded or written last, every change recorded in the recovery journal,
// and the journals a crash left behind offered back at the start.
class RegisterSession
{
public:
    // How a save ended.
    enum class SaveOutcome {
        Saved, // the data file holds the table
        NamelessKept, // the user kept nameless entries with data: nothing written
        FileKept, // the user kept a file another program put there: nothing written
        SavedBeside, // nobody could say whether another's file may go: written beside it
        Failed, // an error was shown, nothing was written
    };
    struct SaveResult
    {
        SaveOutcome outcome = SaveOutcome::Failed;
        // With NamelessKept: the first of the entries, for the cursor.
        int firstNameless = -1;
        bool saved() const { return outcome == SaveOutcome::Saved; }
    };

    RegisterSession(const QString &folder, store::ClientDataSet &table, RegisterDialogue &dialogue);
    ~RegisterSession();
    RegisterSession(const RegisterSession &) = delete;
    RegisterSession &operator=(const RegisterSession &) = delete;

    const RegisterPaths &paths() const { return m_paths; }

    // How the register's lock was met at the start.
    enum class Access {
        Locked, // this copy alone works in the folder
        Unlocked, // the lock cannot be had here: the user was told, and the start goes on
        Refused, // another copy holds the register: the user was told, and the start ends
    };
    // Takes the register's lock before anything of it is read; held until
    // the session ends. Holding it, the temporary files that killed saves
    // left in the folder are removed; without it, no journal is recovered
    // and this copy keeps its own.
    Access lock();
    // The journal this copy writes: the register's, or without the lock a
    // name of its own.
    QString journalFile() const;
    // Only the copy holding the register's lock recovers journals at start
    // and writes the register's journal; a copy started without it keeps a
    // journal under a name of its own, recovered by the next start that
    // holds it.
    void setRecoveryAllowed(bool allowed);

    // Whether there is a data file to load (a link whose file is gone
    // counts: where it leads was never this program's register).
    bool dataFileExists() const;
    // Loads the data file at `path` into the table. Throws store::Exception
    // and leaves the table as it was when the file cannot be read.
    void load(const QString &path);
    // What the data file at `path` is to the next write.
    enum class FileCheck {
        MayWrite, // the file loaded or written last, or the user agreed to replace another
        Kept, // the user kept the file another program put there
        WrittenBeside, // nobody could be asked: `rows` were written beside it
    };
    FileCheck checkFile(const QString &path, const std::vector<store::Record> &rows);
    // Writes `rows` to `path`, checked once more just before its rename
    // against the file checkFile() approved; another one there is kept
    // beside first when the user agreed to replace it.
    void write(const QString &path, const std::vector<store::Record> &rows);

    // The journals left behind, offered back; then every change is recorded.
    void offerRecovery();
    // The table's change, recorded.
    void recordChange(const store::TableChange &change);
    // The record being typed (`typed`, in the table's state), recorded.
    void recordTyping(const store::Record *typed);
    bool hasDraft() const;
    // Saves the table: nameless records dropped (asked about those that hold
    // typed data), the file checked and written, the journal ended.
    SaveResult save();
    // The nameless records dropped from the table, unasked.
    void purgeUnnamed();
    // The table was written to the data file as `saved`: the journal starts
    // anew from it.
    void saved(const std::vector<store::Record> &saved);
    // The program closes without saving: the journal says so.
    void closedWithoutSaving();

    // Whether `record` holds anything typed, beyond what every new record
    // starts with.
    static bool holdsTypedData(const store::Record &record);

private:
    void writeBeside(const QString &path, const std::vector<store::Record> &rows);
    void journalFailed(const QString &message);
    bool offerRecoveryFrom(const QString &file, const std::vector<store::Record> &loaded);
    QString setAside(const QString &path) const;

    RegisterPaths m_paths;
    std::unique_ptr<RegisterLock> m_lock;
    store::ClientDataSet &m_table;
    RegisterDialogue &m_dialogue;
    RegisterFileGuard m_file;
    bool m_recoveryAllowed = true;
    std::unique_ptr<store::RecoveryJournal> m_journal;
    // Whether the journal follows the table (it does once the register is open).
    bool m_journalling = false;
    bool m_journalFailureShown = false;
};

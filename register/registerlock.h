#pragma once

#include <QLockFile>
#include <QString>

// One program per register. Two copies started in the same folder would each
// save the whole register over the other's, and what was typed into the
// first would be lost without a word. The lock is a hidden file beside the
// data file, holding the owner's process id, program name and host; a lock
// whose process is gone (a copy that crashed or was killed) is stale and
// taken over.
class RegisterLock
{
public:
    enum Status {
        Unlocked, // not tried yet, or released
        Locked, // this copy holds the register
        HeldElsewhere, // another running copy holds it
        Unavailable, // the folder cannot hold the lock file
        Unusable, // something that is not a lock file is at its path
    };

    // The lock of the register kept in `folder`.
    explicit RegisterLock(const QString &folder);
    RegisterLock(const RegisterLock &) = delete;
    RegisterLock &operator=(const RegisterLock &) = delete;

    // Takes the lock if it is free or stale (its process gone, or the file
    // left empty or unreadable long ago); never waits.
    Status acquire();
    // Gives the lock up; destruction does too.
    void release();

    Status status() const { return m_status; }

    // Whether the program may open the register. Only a live copy holding it
    // stops the start: a folder that cannot hold the lock cannot hold a
    // register's save either, and the first save says so, whereas refusing
    // would keep a register on a read-only medium from being read at all.
    // Unlocked, every save still checks that "Baza.xml" is the file it
    // loaded, so a second copy cannot write over the first one's entries
    // unasked.
    bool permitsStart() const { return m_status != HeldElsewhere; }

    // For the user, when this copy runs without the lock (Unavailable,
    // Unusable): what is wrong, with the lock's path; otherwise empty.
    QString problem() const { return m_problem; }

    QString filePath() const { return m_lock.fileName(); }
    static QString fileName();

private:
    bool unwrittenLongAgo() const;
    bool takeOverStale();
    void lockTaken();
    QString notLocked(const QString &what) const;
    QString unusableReason() const;
    QString unavailableReason() const;

    QLockFile m_lock;
    Status m_status = Unlocked;
    QString m_problem;
};

#pragma once

#include "store/clientdataset.h"
#include "store/platform.h"
#include "store/record.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace store {

// Which file a journal was read from or written to: replaced or removed
// later only while the name still leads to that same file.
struct JournalFile
{
    quint64 device = 0;
    quint64 inode = 0;
    bool known = false;
};

// What a recovery journal holds, read back and replayed.
struct Recovery
{
    // The register as the data file held it when the journal was begun.
    std::vector<Record> base;
    // The register with every recorded change applied, the record that was
    // being typed included.
    std::vector<Record> rows;
    // Changes recorded; the record that was being typed counts as one.
    int changes = 0;
    // When the program that wrote it began the journal (ms since the epoch).
    qint64 begun = 0;
    // The user closed the program on purpose without saving; it was not
    // cut off.
    bool closedWithoutSaving = false;
    // Empty when the file was read to its end. Otherwise why reading stopped
    // early: `rows` and `changes` hold what came before, and the rest stays
    // in the file only.
    QString damage;
    // The file that was read.
    JournalFile file;
};

// The crash-recovery journal of a register: every change to the table is
// appended and made durable before the program goes on, so a crash, a kill
// or a power cut loses nothing that reached the table.
//
// The file starts with the register as the data file held it (so a journal
// never depends on a data file that may since have been replaced), then one
// entry per change. Each entry carries its length and a CRC-32.
//
// Reading ends silently where the last entry is incomplete: an append torn
// by a crash (its stated length runs past the end of the file with no whole
// entry in what is left, or the rest of the file is zero bytes) is never
// half-applied. Any other entry that does not check ends the reading as
// damage (Recovery::damage): the changes before it are offered, and the
// caller keeps the file.
//
// No file exists until the first change after setBase(): a program that is
// only looked at writes nothing. A journal is always written whole under a
// new, random name beside it (created exclusively, never through a link)
// and renamed into place; the rename replaces only a file this journal
// wrote or adopted. Whatever else is found at the journal's name is moved
// aside, never opened.
class RecoveryJournal
{
public:
    explicit RecoveryJournal(QString path);
    ~RecoveryJournal();
    RecoveryJournal(const RecoveryJournal &) = delete;
    RecoveryJournal &operator=(const RecoveryJournal &) = delete;

    const QString &path() const { return m_path; }

    // The register as the data file now holds it. The journal file, if any,
    // is left alone: call discard() first once the data file holds everything.
    void setBase(std::vector<Record> rows);
    // The journal read from `recovery.file` at `path` is taken over: the next
    // journal written replaces it when it is this journal's own name, or
    // removes it once the new one is durable; discard() removes it too.
    void adopt(const QString &path, const Recovery &recovery);

    // Records a change of the table, which now stands as `table`. Throws
    // store::Exception when the journal cannot be written; the next call
    // then writes a new journal holding the whole table.
    void record(const TableChange &change, const std::vector<Record> &table);
    // Records the record being typed, replacing the one recorded before:
    // `row` is its position, or -1 for a new record that would be appended.
    void recordDraft(int row, const Record &record, const std::vector<Record> &table);
    // The record being typed was dropped without being posted.
    void clearDraft(const std::vector<Record> &table);
    bool hasDraft() const { return m_draft; }
    // The user closes the program without saving: the next start is told so
    // rather than that the program was cut off. Nothing is written when
    // there is no journal, or it failed or was moved away. Throws
    // store::Exception when it cannot be written.
    void markClosedWithoutSaving(const std::vector<Record> &table);

    // Removes the journal file: the data file now holds every change.
    void discard();
    bool exists() const { return m_file.isOpen(); }

    // Reads and replays a journal file. Throws store::Exception naming the
    // file and the reason when it is not a journal of this table, cannot be
    // read, or its header is damaged; what is not a regular file of this
    // user (a link, a FIFO, a device) is refused without being opened in a
    // way that could wait.
    static Recovery read(const QString &path);

    // A name for the journal of a copy that runs without the register's
    // lock, beside `path`: its process id and random characters, so that it
    // cannot meet another copy's.
    static QString privateName(const QString &path);
    // The files beside `path` a start may recover from: `path` itself (the
    // journal), the journals of copies without the lock whose process is
    // gone, and the temporary files of any of them that a crash left before
    // their rename. `path` first, then the newest first. Whatever is at
    // those names is listed, a link or a FIFO too: read() judges them.
    static QStringList leftBehind(const QString &path);
    // Moves `file` aside to `path` with a time stamp (a name leftBehind()
    // never lists), never over another file. Returns the new path, or an
    // empty string when it could not be moved.
    static QString setAside(const QString &file, const QString &path);

private:
    void append(const QByteArray &entry, const std::vector<Record> &table);
    void begin(const QByteArray &firstEntry, const std::vector<Record> &table);
    void closeFile();
    bool stillAtPath() const;

    QString m_path;
    std::vector<Record> m_base;
    platform::File m_file;
    bool m_broken = false;
    bool m_draft = false;
    // The file at m_path this journal wrote last (or adopted there).
    JournalFile m_written;
    // An adopted journal under another name, removed once superseded.
    QString m_adoptedPath;
    JournalFile m_adopted;
};

} // namespace store

#pragma once

#include "store/clientdataset.h"
#include "store/record.h"

#include <QString>

#include <vector>

namespace store {

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
};

// The crash-recovery journal of a register: every change to the table is
// appended and made durable before the program goes on, so a crash, a kill
// or a power cut loses nothing that reached the table.
//
// The file starts with the register as the data file held it (so a journal
// never depends on a data file that may since have been replaced), then one
// entry per change. Each entry carries its length and a CRC-32; reading
// stops at the first entry that is incomplete or does not check, so a write
// torn by a crash is ignored, never half-applied.
//
// No file exists until the first change after setBase(): a program that is
// only looked at writes nothing.
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

    // Removes the journal file: the data file now holds every change.
    void discard();
    bool exists() const { return m_fd >= 0; }

    // Reads and replays a journal file. Throws store::Exception naming the
    // file and the reason when it is damaged or not a journal of this table.
    static Recovery read(const QString &path);

private:
    void append(const QByteArray &entry, const std::vector<Record> &table);
    void begin(const QByteArray &firstEntry, const std::vector<Record> &table);
    void closeFile();

    QString m_path;
    std::vector<Record> m_base;
    int m_fd = -1;
    bool m_broken = false;
    bool m_draft = false;
};

} // namespace store

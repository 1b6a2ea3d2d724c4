#include "store/journal.h"

#include "store/messagetext.h"
#include "store/platform.h"

#include "store/datapacket.h"
#include "store/exception.h"
#include "store/safefile.h"
#include "store/schema.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <functional>

namespace store {

namespace {

constexpr char Magic[8] = { 'L', 'J', 'K', 'R', 'E', 'C', '0', '1' };
constexpr quint32 Version = 1;

enum Kind : char {
    Header = 'H',
    Posted = 'P',
    Deleted = 'D',
    Purged = 'W',
    Reset = 'R',
    Inserted = 'I',
    Draft = 'T',
    DraftDropped = 'C',
    ClosedUnsaved = 'Q',
};

quint32 crc32(QByteArrayView bytes)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t {};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    quint32 crc = 0xFFFFFFFFu;
    for (const char b : bytes)
        crc = table[(crc ^ quint8(b)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

// ----------------------------------------------------------- encoding

void putU32(QByteArray &out, quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

void putI64(QByteArray &out, qint64 v)
{
    char b[8];
    qToLittleEndian(v, b);
    out.append(b, 8);
}

void putRecord(QByteArray &out, const Record &record)
{
    for (int f = 0; f < FieldCount; ++f) {
        if (textSlot(f) >= 0) {
            const QByteArrayView text = record.textUtf8(f);
            putU32(out, quint32(text.size()));
            out.append(text.data(), text.size());
        } else {
            const auto number = record.number(f);
            out.append(char(number ? 1 : 0));
            quint64 bits = 0;
            if (number)
                std::memcpy(&bits, &*number, sizeof bits);
            putI64(out, qint64(bits));
        }
    }
}

void putRows(QByteArray &out, const std::vector<Record> &rows)
{
    putU32(out, quint32(rows.size()));
    for (const Record &r : rows)
        putRecord(out, r);
}

QByteArray frame(const QByteArray &payload)
{
    QByteArray out;
    out.reserve(payload.size() + 8);
    putU32(out, quint32(payload.size()));
    putU32(out, crc32(payload));
    out.append(payload);
    return out;
}

QByteArray headerEntry(const std::vector<Record> &base)
{
    QByteArray p;
    p.append(char(Header));
    putU32(p, Version);
    putU32(p, quint32(FieldCount));
    for (const FieldDef &def : importRecordFields()) {
        const QByteArray name(def.name);
        putU32(p, quint32(name.size()));
        p.append(name);
        p.append(char(def.type == FieldType::Float ? 'F' : 'S'));
    }
    putI64(p, QDateTime::currentMSecsSinceEpoch());
    putRows(p, base);
    return frame(p);
}

QByteArray changeEntry(const TableChange &change)
{
    QByteArray p;
    switch (change.kind) {
    case TableChange::Posted:
        p.append(char(Posted));
        putU32(p, quint32(change.row));
        putRecord(p, *change.record);
        break;
    case TableChange::Deleted:
        p.append(char(Deleted));
        putU32(p, quint32(change.row));
        break;
    case TableChange::Purged:
        p.append(char(Purged));
        putU32(p, quint32(change.rows.size()));
        for (int row : change.rows)
            putU32(p, quint32(row));
        break;
    case TableChange::Reset:
        p.append(char(Reset));
        putRows(p, *change.all);
        break;
    case TableChange::Inserted:
        p.append(char(Inserted));
        putU32(p, quint32(change.row));
        putRecord(p, *change.record);
        break;
    }
    return frame(p);
}

QByteArray resetEntry(const std::vector<Record> &table)
{
    return changeEntry({ TableChange::Reset, -1, nullptr, {}, &table });
}

// ----------------------------------------------------------- decoding

struct Damaged
{
    QString reason;
};

class Reader
{
public:
    explicit Reader(QByteArrayView bytes)
        : m_bytes(bytes)
    {
    }

    bool atEnd() const { return m_pos == m_bytes.size(); }
    qsizetype left() const { return m_bytes.size() - m_pos; }
    QByteArrayView rest() const { return m_bytes.sliced(m_pos); }

    QByteArrayView take(qsizetype n)
    {
        if (n < 0 || n > left())
            throw Damaged { QStringLiteral("zapis je kraći nego što navodi") };
        const QByteArrayView v = m_bytes.sliced(m_pos, n);
        m_pos += n;
        return v;
    }
    quint8 u8() { return quint8(take(1)[0]); }
    quint32 u32() { return qFromLittleEndian<quint32>(take(4).data()); }
    qint64 i64() { return qFromLittleEndian<qint64>(take(8).data()); }

    void end() const
    {
        if (!atEnd())
            throw Damaged { QStringLiteral("promjena ima višak podataka") };
    }

    Record record()
    {
        RecordBuilder r;
        for (int f = 0; f < FieldCount; ++f) {
            if (textSlot(f) >= 0) {
                const QByteArrayView text = take(u32());
                if (!text.isEmpty()) {
                    if (!text.isValidUtf8())
                        throw Damaged { QStringLiteral("tekst zapisa nije ispravan") };
                    r.setTextUtf8(f, text);
                }
            } else {
                const quint8 set = u8();
                const quint64 bits = quint64(i64());
                if (set > 1)
                    throw Damaged { QStringLiteral("broj zapisa nije ispravan") };
                if (set) {
                    double value;
                    std::memcpy(&value, &bits, sizeof value);
                    r.setNumber(f, value);
                }
            }
        }
        return r.take();
    }

    std::vector<Record> rows()
    {
        const quint32 count = u32();
        // Every record takes at least one byte per field: a count larger
        // than what is left is damage, not a reason to reserve gigabytes.
        if (count > quint64(left()) / FieldCount)
            throw Damaged { QStringLiteral("broj zapisa ne odgovara veličini") };
        std::vector<Record> out;
        out.reserve(count);
        for (quint32 i = 0; i < count; ++i)
            out.push_back(record());
        return out;
    }

private:
    QByteArrayView m_bytes;
    qsizetype m_pos = 0;
};

void readHeader(Reader &in, Recovery &out)
{
    if (in.u8() != quint8(Header))
        throw Damaged { QStringLiteral("nedostaje zaglavlje") };
    const quint32 version = in.u32();
    if (version != Version)
        throw Damaged { QStringLiteral("nepoznata inačica %1").arg(version) };
    const quint32 fields = in.u32();
    const auto &defs = importRecordFields();
    if (fields != quint32(FieldCount))
        throw Damaged {
            QStringLiteral("datoteka ima %1 polja umjesto %2").arg(fields).arg(FieldCount)
        };
    for (const FieldDef &def : defs) {
        const QByteArrayView name = in.take(in.u32());
        const char type = char(in.u8());
        if (name != QByteArrayView(def.name) || type != (def.type == FieldType::Float ? 'F' : 'S'))
            throw Damaged { QStringLiteral("drukčiji popis polja (\"%1\" umjesto \"%2\")")
                                .arg(QString::fromUtf8(name), QLatin1StringView(def.name)) };
    }
    out.begun = in.i64();
    out.base = in.rows();
    if (!in.atEnd())
        throw Damaged { QStringLiteral("zaglavlje je predugo") };
}

int checkedRow(quint32 row, size_t limit)
{
    if (row >= limit)
        throw Damaged { QStringLiteral("promjena se odnosi na nepostojeći zapis %1").arg(row) };
    return int(row);
}

size_t lowestBit(size_t i) { return i & (~i + 1); }

// The register while a journal is replayed. Records stay in the slot they
// were given and a deleted one is only marked; a tree of counts (a Fenwick
// tree) finds the slot of the n-th record left. A delete of the first of
// many records then costs a few counts, not moving every record after it,
// and a replay takes time in proportion to the journal's size.
class ReplayRows
{
public:
    void assign(std::vector<Record> rows)
    {
        m_slots = std::move(rows);
        m_alive.assign(m_slots.size(), 1);
        m_tree.assign(m_slots.size() + 1, 0);
        // All alive: node i counts the lowestBit(i) slots up to slot i.
        for (size_t i = 1; i < m_tree.size(); ++i)
            m_tree[i] = lowestBit(i);
        m_count = m_slots.size();
    }

    size_t size() const { return m_count; }
    Record &at(size_t row) { return m_slots[slotOf(row)]; }

    void append(Record record)
    {
        m_slots.push_back(std::move(record));
        m_alive.push_back(1);
        const size_t node = m_slots.size();
        size_t count = 1;
        for (size_t j = node - 1; j > node - lowestBit(node); j -= lowestBit(j))
            count += m_tree[j];
        m_tree.push_back(count);
        ++m_count;
    }

    // A record put back at `row` (a delete taken back). It goes into the
    // slot of a deleted record just before the record now at `row`, as it
    // does when it is the one deleted there; only where there is none are
    // the slots laid out anew.
    void insert(size_t row, Record record)
    {
        if (row == m_count) {
            append(std::move(record));
            return;
        }
        const size_t slot = slotOf(row);
        if (slot > 0 && !m_alive[slot - 1]) {
            m_slots[slot - 1] = std::move(record);
            m_alive[slot - 1] = 1;
            for (size_t node = slot; node < m_tree.size(); node += lowestBit(node))
                ++m_tree[node];
            ++m_count;
            return;
        }
        std::vector<Record> live = take();
        live.insert(live.begin() + qsizetype(row), std::move(record));
        assign(std::move(live));
    }

    void erase(size_t row)
    {
        const size_t slot = slotOf(row);
        m_alive[slot] = 0;
        for (size_t node = slot + 1; node < m_tree.size(); node += lowestBit(node))
            --m_tree[node];
        --m_count;
    }

    std::vector<Record> take()
    {
        std::vector<Record> out;
        out.reserve(m_count);
        for (size_t slot = 0; slot < m_slots.size(); ++slot) {
            if (m_alive[slot])
                out.push_back(std::move(m_slots[slot]));
        }
        assign({});
        return out;
    }

private:
    // The slot of the record at `row` (from 0) among those left.
    size_t slotOf(size_t row) const
    {
        size_t step = 1;
        while (step * 2 < m_tree.size())
            step *= 2;
        size_t node = 0;
        size_t before = row + 1;
        for (; step > 0; step /= 2) {
            if (node + step < m_tree.size() && m_tree[node + step] < before) {
                node += step;
                before -= m_tree[node];
            }
        }
        return node; // the next node holds it: slot = node + 1 - 1
    }

    std::vector<Record> m_slots;
    std::vector<char> m_alive;
    std::vector<size_t> m_tree;
    size_t m_count = 0;
};

bool allZero(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char b) { return b == 0; });
}

// Whether a whole, checked entry starts anywhere in `bytes`: then an entry
// before it that claims more than the file holds was damaged, not torn by a
// crash at the end. The search gives up, and says yes, after checking
// a few times the bytes there are: a damaged file is kept rather than read
// as torn.
bool holdsAWholeEntry(QByteArrayView bytes)
{
    static const QByteArrayView kinds("PDIWRTCQ");
    qint64 budget = 4 * qint64(bytes.size()) + (1 << 20);
    for (qsizetype at = 0; at + 9 <= bytes.size(); ++at) {
        const quint32 length = qFromLittleEndian<quint32>(bytes.data() + at);
        if (length == 0 || length > quint64(bytes.size() - at - 8)
            || !kinds.contains(bytes[at + 8]))
            continue;
        budget -= length;
        if (budget < 0)
            return true;
        if (crc32(bytes.sliced(at + 8, length))
            == qFromLittleEndian<quint32>(bytes.data() + at + 4))
            return true;
    }
    return false;
}

// -------------------------------------------------------------- files

using platform::Error;
using platform::Links;

[[noreturn]] void writeFailed(const QString &path, const QString &reason)
{
    throw Exception(
        QStringLiteral("Promjene se ne mogu zapisati u datoteku za oporavak \"%1\": %2.")
            .arg(shownPath(path), reason));
}

// A new or renamed name is durable only once its folder is.
Error syncFolderOf(const QString &file)
{
    return platform::syncFolder(QFileInfo(file).absolutePath());
}

QByteArray randomSuffix()
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray out(6, Qt::Uninitialized);
    for (char &c : out)
        c = letters[QRandomGenerator::system()->bounded(int(sizeof letters - 1))];
    return out;
}

JournalFile journalFileOf(const FileIdentity &id) { return { id.device, id.inode, true }; }

bool isFile(const JournalFile &file, const FileIdentity &id)
{
    return file.known && id.exists && file.device == id.device && file.inode == id.inode;
}

// Whether `path` leads, without following a link, to `file`.
bool stillThere(const QString &path, const JournalFile &file)
{
    return isFile(file, platform::identify(path, Links::DontFollow));
}

// The bytes of a journal file, which must be a regular file of this user:
// looked at first without following a link, then opened without following
// one and without waiting (a FIFO put there since would otherwise block the
// start), then looked at again through what was opened.
QByteArray readOwnFile(
    const QString &path, JournalFile *file, const std::function<Exception(const QString &)> &refuse)
{
    const auto check = [&refuse](const FileIdentity &id) {
        if (id.type == FileIdentity::Link)
            throw refuse(QStringLiteral("to je simbolička veza, a ne datoteka"));
        if (!id.regular)
            throw refuse(QStringLiteral("nije obična datoteka"));
        // Another user's file in our folder is nothing this program wrote.
        if (!id.ownedByUser)
            throw refuse(QStringLiteral("pripada drugom korisniku"));
        if (id.size > MaxDataFileSize)
            throw refuse(QStringLiteral("veća je od %1 MB").arg(MaxDataFileSize / (1024 * 1024)));
    };
    Error error;
    const FileIdentity seen = platform::identify(path, Links::DontFollow, &error);
    if (!seen.exists)
        throw refuse(error.message);
    check(seen);
    platform::File in = platform::File::openForReading(path, &error);
    if (!in.isOpen()) {
        if (error.code == Error::IsLink)
            throw refuse(QStringLiteral("to je simbolička veza, a ne datoteka"));
        throw refuse(error.message);
    }
    const FileIdentity opened = in.identity(&error);
    if (!opened.exists)
        throw refuse(error.message);
    check(opened);
    *file = journalFileOf(opened);
    QByteArray bytes;
    bytes.reserve(qsizetype(opened.size));
    // Read in pieces of this size: one system call per piece.
    constexpr qint64 ChunkBytes = 64 * 1024;
    char chunk[ChunkBytes];
    for (;;) {
        const qint64 n = in.read(chunk, ChunkBytes, &error);
        if (n < 0)
            throw refuse(error.message);
        if (n == 0)
            break;
        // It may have grown since it was looked at.
        if (bytes.size() + n > MaxDataFileSize)
            throw refuse(QStringLiteral("veća je od %1 MB").arg(MaxDataFileSize / (1024 * 1024)));
        bytes.append(chunk, qsizetype(n));
    }
    return bytes;
}

} // namespace

RecoveryJournal::RecoveryJournal(QString path)
    : m_path(std::move(path))
{
}

RecoveryJournal::~RecoveryJournal() { closeFile(); }

void RecoveryJournal::closeFile() { m_file = platform::File(); }

void RecoveryJournal::setBase(std::vector<Record> rows)
{
    closeFile();
    m_base = std::move(rows);
    m_broken = false;
    m_draft = false;
}

void RecoveryJournal::adopt(const QString &path, const Recovery &recovery)
{
    if (QFileInfo(path).absoluteFilePath() == QFileInfo(m_path).absoluteFilePath()) {
        m_written = recovery.file;
    } else {
        m_adoptedPath = path;
        m_adopted = recovery.file;
    }
}

bool RecoveryJournal::stillAtPath() const { return stillThere(m_path, m_written); }

void RecoveryJournal::begin(const QByteArray &firstEntry, const std::vector<Record> &table)
{
    closeFile();
    const bool wasBroken = m_broken;
    // Until the new journal is in place, the next change must write the
    // whole table again.
    m_broken = true;
    QByteArray bytes(Magic, sizeof Magic);
    bytes += headerEntry(m_base);
    if (wasBroken)
        bytes += resetEntry(table);
    bytes += firstEntry;

    // Written whole under another name and renamed: a journal is either the
    // old one or a complete new one, never a header torn half way. The name
    // is new and random and the file made exclusively, never through a
    // link: whatever someone put beside the register is never opened.
    QString temporary;
    platform::File file;
    Error error;
    for (int attempt = 0; attempt < NameTries && !file.isOpen(); ++attempt) {
        temporary = m_path + QStringLiteral(".new-") + QString::fromLatin1(randomSuffix());
        file = platform::File::createNew(temporary, &error);
        if (!file.isOpen() && error.code != Error::Exists)
            break;
    }
    if (!file.isOpen())
        writeFailed(m_path, error.message);
    const auto failed = [&](const QString &reason) {
        file.close();
        platform::remove(temporary);
        writeFailed(m_path, reason);
    };
    if ((error = file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        || (error = file.write(bytes)) || (error = file.sync()))
        failed(error.message);
    const FileIdentity written = file.identity(&error);
    if (!written.exists)
        failed(error.message);

    if (isFile(m_written, platform::identify(m_path, Links::DontFollow))) {
        // This journal's own earlier file: replaced in one step.
        if ((error = platform::rename(temporary, m_path)))
            failed(error.message);
    } else if ((error = platform::renameNoReplace(temporary, m_path))) {
        if (error.code != Error::Exists)
            failed(error.message);
        // Something this journal did not write is at its name: kept aside
        // for whoever wants to look, never replaced.
        const QString aside = setAside(m_path, m_path);
        if (aside.isEmpty())
            failed(QStringLiteral("na njezinu je mjestu druga datoteka, koja se ne može "
                                  "premjestiti"));
        qWarning("%ls was not written by this program and was moved to %ls.",
            qUtf16Printable(shownPath(m_path)), qUtf16Printable(shownPath(aside)));
        if ((error = platform::renameNoReplace(temporary, m_path)))
            failed(error.message);
    }
    m_file = std::move(file);
    m_written = journalFileOf(written);
    m_broken = false;
    if ((error = syncFolderOf(m_path))) {
        m_broken = true;
        writeFailed(m_path, error.message);
    }
    // An adopted journal under another name is superseded now.
    if (!m_adoptedPath.isEmpty()) {
        if (stillThere(m_adoptedPath, m_adopted) && !platform::remove(m_adoptedPath))
            syncFolderOf(m_adoptedPath);
        m_adoptedPath.clear();
        m_adopted = {};
    }
}

void RecoveryJournal::append(const QByteArray &entry, const std::vector<Record> &table)
{
    if (m_file.isOpen() && !m_broken && !stillAtPath()) {
        // The file was removed or replaced under the program: what it held
        // is written again, whole.
        m_broken = true;
    }
    if (!m_file.isOpen() || m_broken) {
        begin(entry, table);
        return;
    }
    Error error = m_file.write(entry);
    if (!error)
        error = m_file.syncData();
    if (error) {
        // What was written before is a valid prefix and stays; the next
        // change starts a complete journal again.
        m_broken = true;
        closeFile();
        writeFailed(m_path, error.message);
    }
}

void RecoveryJournal::record(const TableChange &change, const std::vector<Record> &table)
{
    // A change completes or drops the record being typed.
    m_draft = false;
    if (m_broken || (m_file.isOpen() && !stillAtPath())) {
        // The whole table replaces what the journal lacks; `table` already
        // holds this change.
        m_broken = true;
        begin(QByteArray(), table);
        return;
    }
    append(changeEntry(change), table);
}

void RecoveryJournal::recordDraft(int row, const Record &record, const std::vector<Record> &table)
{
    QByteArray p;
    p.append(char(Draft));
    putU32(p, quint32(row));
    putRecord(p, record);
    append(frame(p), table);
    m_draft = true;
}

void RecoveryJournal::clearDraft(const std::vector<Record> &table)
{
    if (!m_draft)
        return;
    append(frame(QByteArray(1, char(DraftDropped))), table);
    m_draft = false;
}

void RecoveryJournal::markClosedWithoutSaving(const std::vector<Record> &table)
{
    // Only a note on the journal as it stands: with none, nothing changed
    // since the last save; one that failed or was moved away is not
    // written anew by a program that is closing.
    if (!m_file.isOpen() || m_broken || !stillAtPath())
        return;
    append(frame(QByteArray(1, char(ClosedUnsaved))), table);
}

void RecoveryJournal::discard()
{
    closeFile();
    m_broken = false;
    m_draft = false;
    bool removed = false;
    if (stillThere(m_path, m_written) && !platform::remove(m_path))
        removed = true;
    if (!m_adoptedPath.isEmpty() && stillThere(m_adoptedPath, m_adopted)
        && !platform::remove(m_adoptedPath))
        removed = true;
    m_written = {};
    m_adoptedPath.clear();
    m_adopted = {};
    if (removed)
        syncFolderOf(m_path);
}

QString RecoveryJournal::privateName(const QString &path)
{
    return path + QLatin1Char('.') + QString::number(platform::processId()) + QLatin1Char('-')
        + QString::fromLatin1(randomSuffix());
}

QStringList RecoveryJournal::leftBehind(const QString &path)
{
    const QFileInfo journal(path);
    const QString prefix = journal.fileName() + QLatin1Char('.');
    QStringList out;
    if (platform::identify(path, Links::DontFollow).exists)
        out << path;
    std::vector<std::pair<qint64, QString>> others;
    const QDir folder = journal.absoluteDir();
    const QStringList names = folder.entryList(
        QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names) {
        if (!name.startsWith(prefix))
            continue;
        // A copy without the lock that still runs is writing this one.
        const QString rest = name.mid(prefix.size());
        const qsizetype dash = rest.indexOf(QLatin1Char('-'));
        bool numbered = false;
        const qint64 pid = rest.left(dash).toLongLong(&numbered);
        if (dash > 0 && numbered && pid > 0 && pid != platform::processId()
            && platform::processRuns(pid))
            continue;
        const QString file = folder.filePath(name);
        const FileIdentity info = platform::identify(file, Links::DontFollow);
        if (!info.exists)
            continue;
        others.emplace_back(info.modified, file);
    }
    std::stable_sort(others.begin(), others.end(),
        [](const auto &a, const auto &b) { return a.first > b.first; });
    for (const auto &other : others)
        out << other.second;
    return out;
}

QString RecoveryJournal::setAside(const QString &file, const QString &path)
{
    const QDateTime now = QDateTime::currentDateTime();
    for (int n = 1; n <= NameTries; ++n) {
        const QString target = stampedName(path, QLatin1Char('-'), now, n);
        const Error error = platform::renameNoReplace(file, target);
        if (!error) {
            syncFolderOf(target);
            return target;
        }
        if (error.code != Error::Exists)
            break;
    }
    return QString();
}

Recovery RecoveryJournal::read(const QString &path)
{
    const auto refuse = [&path](const QString &reason) {
        return Exception(QStringLiteral("Datoteka za oporavak \"%1\" nije ispravna: %2.")
                             .arg(shownPath(path), reason));
    };
    Recovery out;
    const QByteArray bytes = readOwnFile(path, &out.file, refuse);
    if (!bytes.startsWith(QByteArrayView(Magic, sizeof Magic)))
        throw refuse(QStringLiteral("nije datoteka za oporavak ovog programa"));

    Reader frames(QByteArrayView(bytes).sliced(sizeof Magic));
    // Without its header nothing of a journal can be read.
    try {
        if (frames.left() < 8)
            throw Damaged { QStringLiteral("zaglavlje je nepotpuno") };
        const quint32 length = frames.u32();
        const quint32 crc = frames.u32();
        if (length > quint64(frames.left()))
            throw Damaged { QStringLiteral("zaglavlje je nepotpuno") };
        const QByteArrayView payload = frames.take(length);
        if (crc32(payload) != crc)
            throw Damaged { QStringLiteral("zaglavlje je oštećeno") };
        Reader in(payload);
        readHeader(in, out);
    } catch (const Damaged &d) {
        throw refuse(d.reason);
    }

    ReplayRows rows;
    rows.assign(out.base);
    bool draftPending = false;
    int draftRow = -1;
    Record draft;
    while (!frames.atEnd()) {
        const QByteArrayView rest = frames.rest();
        // The end of an append a crash cut short: everything before stands.
        if (rest.size() < 8 || allZero(rest))
            break;
        const quint32 length = frames.u32();
        const quint32 crc = frames.u32();
        if (length > quint64(frames.left())) {
            if (holdsAWholeEntry(rest.sliced(1)))
                out.damage = QStringLiteral("duljina promjene nije ispravna");
            break;
        }
        const QByteArrayView payload = frames.take(length);
        if (crc32(payload) != crc) {
            out.damage = QStringLiteral("kontrolni zbroj promjene ne odgovara");
            break;
        }
        // Each entry is read whole before anything of it is applied.
        try {
            Reader in(payload);
            const char kind = char(in.u8());
            const auto counted = [&] {
                draftPending = false;
                out.closedWithoutSaving = false;
                ++out.changes;
            };
            switch (kind) {
            case Draft: {
                const quint32 row = in.u32();
                const int at = row == quint32(-1) ? -1 : checkedRow(row, rows.size());
                Record record = in.record();
                in.end();
                draftRow = at;
                draft = std::move(record);
                draftPending = true;
                break;
            }
            case DraftDropped:
                in.end();
                draftPending = false;
                break;
            case ClosedUnsaved:
                in.end();
                out.closedWithoutSaving = true;
                break;
            case Posted: {
                const int row = checkedRow(in.u32(), rows.size() + 1);
                Record record = in.record();
                in.end();
                if (size_t(row) == rows.size())
                    rows.append(std::move(record));
                else
                    rows.at(size_t(row)) = std::move(record);
                counted();
                break;
            }
            case Inserted: {
                const int row = checkedRow(in.u32(), rows.size() + 1);
                Record record = in.record();
                in.end();
                rows.insert(size_t(row), std::move(record));
                counted();
                break;
            }
            case Deleted: {
                const int row = checkedRow(in.u32(), rows.size());
                in.end();
                rows.erase(size_t(row));
                counted();
                break;
            }
            case Purged: {
                const quint32 count = in.u32();
                if (count > quint64(in.left()) / 4)
                    throw Damaged { QStringLiteral("broj obrisanih zapisa ne odgovara veličini") };
                std::vector<quint32> gone(count);
                for (quint32 i = 0; i < count; ++i) {
                    gone[i] = quint32(checkedRow(in.u32(), rows.size()));
                    if (i > 0 && gone[i] <= gone[i - 1])
                        throw Damaged { QStringLiteral("popis obrisanih zapisa nije uzlazan") };
                }
                in.end();
                // From the last: the rows before each stay where they are.
                for (auto it = gone.rbegin(); it != gone.rend(); ++it)
                    rows.erase(*it);
                counted();
                break;
            }
            case Reset: {
                std::vector<Record> all = in.rows();
                in.end();
                rows.assign(std::move(all));
                counted();
                break;
            }
            default:
                throw Damaged { QStringLiteral("nepoznata vrsta promjene") };
            }
        } catch (const Damaged &d) {
            out.damage = d.reason;
            break;
        }
    }
    out.rows = rows.take();
    if (draftPending) {
        ++out.changes;
        if (draftRow < 0)
            out.rows.push_back(std::move(draft));
        else
            out.rows[size_t(draftRow)] = std::move(draft);
    }
    return out;
}

} // namespace store

#include "store/journal.h"

#include "store/exception.h"
#include "store/safefile.h"
#include "store/schema.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <array>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
            throw Damaged { QStringLiteral("drugačiji popis polja (\"%1\" umjesto \"%2\")")
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

// -------------------------------------------------------------- files

QString systemReason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

[[noreturn]] void writeFailed(const QString &path, int error)
{
    throw Exception(QStringLiteral("Promjene se ne mogu zapisati u datoteku za oporavak \"%1\": %2")
                        .arg(QDir::toNativeSeparators(path), systemReason(error)));
}

bool writeAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

// A new or renamed name is durable only once its folder is.
bool syncFolderOf(const QString &file)
{
    return syncFolder(QFile::encodeName(QFileInfo(file).absolutePath()));
}

} // namespace

RecoveryJournal::RecoveryJournal(QString path)
    : m_path(std::move(path))
{
}

RecoveryJournal::~RecoveryJournal() { closeFile(); }

void RecoveryJournal::closeFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void RecoveryJournal::setBase(std::vector<Record> rows)
{
    closeFile();
    m_base = std::move(rows);
    m_broken = false;
    m_draft = false;
}

void RecoveryJournal::begin(const QByteArray &firstEntry, const std::vector<Record> &table)
{
    closeFile();
    // Written whole under another name and renamed: a journal is either the
    // old one or a complete new one, never a header torn half way.
    const QString temporary = m_path + QStringLiteral(".new");
    const QByteArray name = QFile::encodeName(temporary);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int error = errno;
        m_broken = true;
        writeFailed(m_path, error);
    }
    QByteArray bytes(Magic, sizeof Magic);
    bytes += headerEntry(m_base);
    if (m_broken)
        bytes += resetEntry(table);
    bytes += firstEntry;
    if (::fchmod(fd, 0600) != 0 || !writeAll(fd, bytes.constData(), bytes.size())
        || ::fsync(fd) != 0
        || ::rename(name.constData(), QFile::encodeName(m_path).constData()) != 0) {
        const int error = errno;
        ::close(fd);
        ::unlink(name.constData());
        m_broken = true;
        writeFailed(m_path, error);
    }
    m_fd = fd;
    m_broken = false;
    if (!syncFolderOf(m_path)) {
        const int error = errno;
        m_broken = true;
        writeFailed(m_path, error);
    }
}

void RecoveryJournal::append(const QByteArray &entry, const std::vector<Record> &table)
{
    if (m_fd < 0 || m_broken) {
        begin(entry, table);
        return;
    }
    if (!writeAll(m_fd, entry.constData(), entry.size()) || ::fdatasync(m_fd) != 0) {
        const int error = errno;
        // What was written before is a valid prefix and stays; the next
        // change starts a complete journal again.
        m_broken = true;
        closeFile();
        writeFailed(m_path, error);
    }
}

void RecoveryJournal::record(const TableChange &change, const std::vector<Record> &table)
{
    // A change completes or drops the record being typed.
    m_draft = false;
    if (m_broken) {
        // The whole table replaces what the failed journal lacks.
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

void RecoveryJournal::discard()
{
    closeFile();
    m_broken = false;
    m_draft = false;
    const QByteArray name = QFile::encodeName(m_path);
    if (::unlink(name.constData()) == 0)
        syncFolderOf(m_path);
}

Recovery RecoveryJournal::read(const QString &path)
{
    const auto refuse = [&path](const QString &reason) {
        return Exception(QStringLiteral("Datoteka za oporavak \"%1\" nije ispravna: %2.")
                             .arg(QDir::toNativeSeparators(path), reason));
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw refuse(file.errorString());
    // Another user's file in our folder is nothing this program wrote.
    struct stat info
    {
    };
    if (::fstat(file.handle(), &info) != 0 || info.st_uid != ::geteuid())
        throw refuse(QStringLiteral("pripada drugom korisniku"));
    if (!S_ISREG(info.st_mode))
        throw refuse(QStringLiteral("nije obična datoteka"));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw refuse(file.errorString());

    if (!bytes.startsWith(QByteArrayView(Magic, sizeof Magic)))
        throw refuse(QStringLiteral("nije datoteka za oporavak ovog programa"));

    Recovery out;
    bool haveHeader = false;
    bool draftPending = false;
    int draftRow = -1;
    Record draft;
    Reader frames(QByteArrayView(bytes).sliced(sizeof Magic));
    try {
        while (frames.left() >= 8) {
            const quint32 length = frames.u32();
            const quint32 crc = frames.u32();
            if (length > quint64(frames.left()))
                break; // torn by a crash: everything before it stands
            const QByteArrayView payload = frames.take(length);
            if (crc32(payload) != crc) {
                if (!haveHeader)
                    throw Damaged { QStringLiteral("zaglavlje je oštećeno") };
                break;
            }
            Reader in(payload);
            if (!haveHeader) {
                readHeader(in, out);
                out.rows = out.base;
                haveHeader = true;
                continue;
            }
            const char kind = char(in.u8());
            if (kind == Draft) {
                const quint32 row = in.u32();
                draftRow = row == quint32(-1) ? -1 : checkedRow(row, out.rows.size());
                draft = in.record();
                draftPending = true;
            } else if (kind == DraftDropped) {
                draftPending = false;
            } else {
                draftPending = false;
                ++out.changes;
                if (kind == Posted) {
                    const int row = checkedRow(in.u32(), out.rows.size() + 1);
                    Record r = in.record();
                    if (row == int(out.rows.size()))
                        out.rows.push_back(std::move(r));
                    else
                        out.rows[size_t(row)] = std::move(r);
                } else if (kind == Inserted) {
                    const int row = checkedRow(in.u32(), out.rows.size() + 1);
                    out.rows.insert(out.rows.begin() + row, in.record());
                } else if (kind == Deleted) {
                    const int row = checkedRow(in.u32(), out.rows.size());
                    out.rows.erase(out.rows.begin() + row);
                } else if (kind == Purged) {
                    const quint32 count = in.u32();
                    std::vector<char> drop(out.rows.size());
                    int previous = -1;
                    for (quint32 i = 0; i < count; ++i) {
                        const int row = checkedRow(in.u32(), out.rows.size());
                        if (row <= previous)
                            throw Damaged { QStringLiteral("popis obrisanih zapisa nije uzlazan") };
                        drop[size_t(row)] = 1;
                        previous = row;
                    }
                    size_t kept = 0;
                    for (size_t i = 0; i < out.rows.size(); ++i)
                        if (!drop[i])
                            out.rows[kept++] = std::move(out.rows[i]);
                    out.rows.resize(kept);
                } else if (kind == Reset) {
                    out.rows = in.rows();
                } else {
                    throw Damaged { QStringLiteral("nepoznata vrsta promjene") };
                }
            }
            if (!in.atEnd())
                throw Damaged { QStringLiteral("promjena ima višak podataka") };
        }
    } catch (const Damaged &d) {
        throw refuse(d.reason);
    }
    if (!haveHeader)
        throw refuse(QStringLiteral("zaglavlje je nepotpuno"));
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

#include "store/clientdataset.h"
#include "store/datapacket.h"
#include "store/exception.h"
#include "store/journal.h"
#include "store/messagetext.h"
#include "tests/support/files.h"
#include "tests/support/systemfiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QtEndian>

#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;
using store::ClientDataSet;
using store::Record;
using store::RecoveryJournal;
using Rows = std::vector<Record>;

namespace {

const int Naziv = store::fieldIndex(u"Naziv");
const int Pacijent = store::fieldIndex(u"Pacijent");
const int Kolicina = store::fieldIndex(u"Kolicina");

Record named(const QString &name, std::optional<double> quantity = std::nullopt)
{
    Record r;
    r.setText(Naziv, name);
    r.setNumber(Kolicina, quantity);
    return r;
}

QStringList names(const Rows &rows)
{
    QStringList out;
    for (const Record &r : rows)
        out << r.text(Naziv);
    return out;
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// The checksum the journal gives each entry, to forge entries that pass it.
quint32 crc32(const QByteArray &bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char b : bytes) {
        crc ^= quint8(b);
        for (int k = 0; k < 8; ++k)
            crc = crc & 1 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    return crc ^ 0xFFFFFFFFu;
}

// An entry with its length and checksum, as the journal frames one.
QByteArray framed(const QByteArray &payload)
{
    char head[8];
    qToLittleEndian(quint32(payload.size()), head);
    qToLittleEndian(crc32(payload), head + 4);
    return QByteArray(head, 8) + payload;
}

// Where the n-th entry (0: the header) of a journal begins.
qsizetype entryAt(const QByteArray &journal, int n)
{
    qsizetype at = 8;
    for (int i = 0; i < n; ++i)
        at += 8 + qFromLittleEndian<quint32>(journal.constData() + at);
    return at;
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QString refusal(const QString &path)
{
    try {
        RecoveryJournal::read(path);
    } catch (const store::Exception &e) {
        return e.message();
    }
    return QString();
}

// A table whose every change goes to a journal, as the window wires it.
struct Journalled
{
    explicit Journalled(const QString &path, Rows base = {})
        : journal(path)
    {
        table.createDataSet();
        table.assignRecords(base);
        journal.setBase(base);
        table.afterChange
            = [this](const store::TableChange &c) { journal.record(c, table.records()); };
    }
    void add(const QString &name)
    {
        table.insert();
        table.fieldByName(u"Naziv"_s)->setAsString(name);
        table.post();
    }
    ClientDataSet table;
    RecoveryJournal journal;
};

constexpr char childLoopArg[] = "--journal-in-a-loop";
constexpr char childOneChangeArg[] = "--journal-one-change";

// Begins a journal with one change, as a user's first entry does.
int childJournalOneChange(const QString &path)
{
    try {
        RecoveryJournal journal(path);
        journal.setBase({ named(u"base"_s) });
        const Rows table { named(u"base"_s), named(u"entry"_s) };
        const Record added = table[1];
        journal.record({ store::TableChange::Posted, 1, &added, {}, nullptr }, table);
    } catch (const store::Exception &e) {
        QTextStream(stdout) << e.message();
        return 1;
    }
    return 0;
}

#ifdef Q_OS_UNIX
// This test program again, as another user (numeric ids, no account needed).
int runAs(uint uid, uint gid, const QList<uint> &groups, const QStringList &args)
{
    QStringList groupList;
    for (uint g : groups)
        groupList << QString::number(g);
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(u"setpriv"_s,
        QStringList { u"--reuid=%1"_s.arg(uid), u"--regid=%1"_s.arg(gid),
            groups.isEmpty() ? u"--clear-groups"_s : u"--groups=%1"_s.arg(groupList.join(u',')),
            QCoreApplication::applicationFilePath() }
            + args);
    if (!p.waitForFinished(60000))
        return -1;
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}
#endif

// Posts "R0", "R1", ... one after another, each made durable before the
// next, and says how far it got only after the journal returned.
int childJournalInALoop(const QString &path)
{
    Journalled j(path, { named(u"base"_s) });
    QTextStream out(stdout);
    out << "ready" << Qt::endl;
    for (int i = 0;; ++i) {
        j.add(u"R%1"_s.arg(i));
        if (i % 7 == 3) {
            j.table.first();
            j.table.deleteRecord();
            j.add(u"base"_s);
        }
    }
}

} // namespace

class TestJournal : public QObject
{
    Q_OBJECT

private slots:
    void replaysEveryKindOfChange_data();
    void replaysEveryKindOfChange();
    void writesNothingUntilTheFirstChange();
    void fileIsOwnerOnlyAndDiscardRemovesIt();
    void everyTornTailReadsAsAPrefix();
    void killedWriterLeavesAPrefix();
    void refusesDamagedAndForeignFiles_data();
    void refusesDamagedAndForeignFiles();
    void failedWriteIsReportedAndTheNextChangeWritesEverything();
    void damageAfterTheHeaderKeepsWhatCameBefore_data();
    void damageAfterTheHeaderKeepsWhatCameBefore();
    void replayFollowsTheTableThroughManyChanges();
    void readsOnlyARegularFileOfItsOwn_data();
    void readsOnlyARegularFileOfItsOwn();
    void neverWritesThroughWhatIsAtItsNames_data();
    void neverWritesThroughWhatIsAtItsNames();
    void aGroupMembersPlantedFilesAreNeverWrittenThrough_data();
    void aGroupMembersPlantedFilesAreNeverWrittenThrough();
    void removedJournalIsWrittenAgainWhole();
    void closingWithoutSavingIsRecorded();
    void leftBehindListsWhatAStartMayRecover();

private:
    QTemporaryDir m_dir;
};

void TestJournal::replaysEveryKindOfChange_data()
{
    QTest::addColumn<int>("scenario");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("changes");
    QTest::newRow("appended records") << 0 << QStringList { "a", "b", "X", "Y" } << 2;
    QTest::newRow("an edit") << 1 << QStringList { "a", "B!" } << 1;
    QTest::newRow("a delete") << 2 << QStringList { "b" } << 1;
    QTest::newRow("a purge") << 3 << QStringList { "a", "b", "keep" } << 4;
    QTest::newRow("emptied") << 4 << QStringList { "new" } << 2;
    QTest::newRow("a new record being typed") << 5 << QStringList { "a", "b", "half" } << 1;
    QTest::newRow("an edit being typed") << 6 << QStringList { "a", "b-typing" } << 1;
    QTest::newRow("typing dropped") << 7 << QStringList { "a", "b" } << 0;
    QTest::newRow("typing then posted") << 8 << QStringList { "a", "b", "done" } << 1;
    QTest::newRow("second draft replaces the first")
        << 9 << QStringList { "a", "b", "second" } << 1;
    QTest::newRow("a deleted record put back") << 10 << QStringList { "a", "b" } << 2;
    QTest::newRow("a record put in between") << 11 << QStringList { "a", "mid", "b" } << 1;
}

void TestJournal::replaysEveryKindOfChange()
{
    QFETCH(int, scenario);
    QFETCH(QStringList, expected);
    QFETCH(int, changes);
    const QString path = m_dir.filePath(u"replay-%1"_s.arg(scenario));
    Journalled j(path, { named(u"a"_s, 2.5), named(u"b"_s) });
    auto draft = [&](int row, const QString &name) {
        Record r = row < 0 ? Record() : j.table.records()[size_t(row)];
        r.setText(Naziv, name);
        j.journal.recordDraft(row, r, j.table.records());
    };
    switch (scenario) {
    case 0:
        j.add(u"X"_s);
        j.add(u"Y"_s);
        break;
    case 1:
        j.table.last();
        j.table.edit();
        j.table.fieldByName(u"Naziv"_s)->setAsString(u"B!"_s);
        j.table.post();
        break;
    case 2:
        j.table.first();
        j.table.deleteRecord();
        break;
    case 3:
        j.add(QString());
        j.add(u"keep"_s);
        j.add(QString());
        j.table.deleteWhere([](const Record &r) { return r.isEmpty(Naziv); });
        break;
    case 4:
        j.table.createDataSet();
        j.add(u"new"_s);
        break;
    case 5:
        draft(-1, u"half"_s);
        break;
    case 6:
        draft(1, u"b-typing"_s);
        break;
    case 7:
        draft(-1, u"gone"_s);
        j.journal.clearDraft(j.table.records());
        break;
    case 8:
        draft(-1, u"do"_s);
        j.add(u"done"_s);
        break;
    case 9:
        draft(-1, u"first"_s);
        draft(-1, u"second"_s);
        break;
    case 10:
        j.table.first();
        j.table.deleteRecord();
        j.table.insertRecordAt(0, named(u"a"_s, 2.5));
        break;
    case 11:
        j.table.insertRecordAt(1, named(u"mid"_s));
        break;
    }
    const store::Recovery recovery = RecoveryJournal::read(path);
    QCOMPARE(recovery.damage, QString());
    QCOMPARE(names(recovery.rows), expected);
    QCOMPARE(recovery.changes, changes);
    QCOMPARE(names(recovery.base), (QStringList { "a", "b" }));
    // Numbers come back bit for bit, nulls as nulls.
    if (expected.first() == u"a"_s) {
        QCOMPARE(recovery.rows[0].number(Kolicina), std::optional<double>(2.5));
        QCOMPARE(recovery.rows[1].number(Kolicina), std::optional<double>());
    }
    if (scenario < 5 || scenario >= 10)
        QVERIFY(recovery.rows == j.table.records());
}

void TestJournal::writesNothingUntilTheFirstChange()
{
    const QString path = m_dir.filePath(u"quiet"_s);
    Journalled j(path, { named(u"a"_s) });
    j.table.first();
    j.table.last();
    QVERIFY(!QFile::exists(path));
    j.add(u"b"_s);
    QVERIFY(QFile::exists(path));
}

void TestJournal::fileIsOwnerOnlyAndDiscardRemovesIt()
{
    const QString path = m_dir.filePath(u"mode"_s);
    testsupport::PermissiveUmask umask;
    {
        Journalled j(path);
        j.add(u"a"_s);
        umask.restore();
        QCOMPARE(testsupport::fileMode(path), 0600u);
        QVERIFY(!QFile::exists(path + u".new"_s));
        j.journal.discard();
        QVERIFY(!QFile::exists(path));
        // The next change after a save begins a new journal from the new base.
        j.journal.setBase(j.table.records());
        j.add(u"b"_s);
    }
    const store::Recovery recovery = RecoveryJournal::read(path);
    QCOMPARE(names(recovery.base), QStringList { "a" });
    QCOMPARE(names(recovery.rows), (QStringList { "a", "b" }));
}

// A crash can stop a write at any byte: whatever is left reads as the
// register after some whole number of changes, never half of one.
void TestJournal::everyTornTailReadsAsAPrefix()
{
    const QString path = m_dir.filePath(u"torn"_s);
    std::vector<QStringList> states;
    std::vector<qint64> sizes;
    {
        Journalled j(path, { named(u"a"_s) });
        for (int i = 0; i < 6; ++i) {
            if (i == 3) {
                j.table.first();
                j.table.deleteRecord();
            } else {
                j.add(u"n%1"_s.arg(i));
            }
            states.push_back(names(j.table.records()));
            sizes.push_back(QFileInfo(path).size());
        }
    }
    const QByteArray whole = testsupport::readFile(path);
    const QString cut = m_dir.filePath(u"torn-cut"_s);
    for (qint64 length = sizes[0]; length <= whole.size(); ++length) {
        writeAll(cut, whole.left(length));
        const store::Recovery recovery = RecoveryJournal::read(cut);
        QCOMPARE(recovery.damage, QString());
        // The last change whose entry is complete at this length.
        size_t whole_changes = 0;
        while (whole_changes < sizes.size() && sizes[whole_changes] <= length)
            ++whole_changes;
        QCOMPARE(recovery.changes, int(whole_changes));
        QCOMPARE(names(recovery.rows), states[whole_changes - 1]);
    }
}

void TestJournal::killedWriterLeavesAPrefix()
{
    QRandomGenerator rng(20261210);
    int longest = 0;
    for (int round = 0; round < 25; ++round) {
        const QString path = m_dir.filePath(u"killed-%1"_s.arg(round));
        QProcess child;
        child.start(
            QCoreApplication::applicationFilePath(), { QString::fromLatin1(childLoopArg), path });
        QVERIFY(child.waitForStarted());
        QVERIFY(child.waitForReadyRead(60000));
        QThread::usleep(rng.bounded(1000, 120000));
        child.kill();
        QVERIFY(child.waitForFinished(60000));
        if (!QFile::exists(path))
            continue; // killed before its first change
        const store::Recovery recovery = RecoveryJournal::read(path);
        // Replaying the child's steps on our own table must meet exactly
        // this state after the same number of changes.
        Journalled mirror(m_dir.filePath(u"mirror"_s), { named(u"base"_s) });
        int changes = 0;
        for (int i = 0; changes < recovery.changes; ++i) {
            mirror.add(u"R%1"_s.arg(i));
            ++changes;
            if (i % 7 == 3 && changes < recovery.changes) {
                mirror.table.first();
                mirror.table.deleteRecord();
                ++changes;
                if (changes < recovery.changes) {
                    mirror.add(u"base"_s);
                    ++changes;
                }
            }
        }
        QCOMPARE(names(recovery.rows), names(mirror.table.records()));
        longest = std::max(longest, recovery.changes);
        mirror.journal.discard();
    }
    QVERIFY2(longest > 0, "no round got as far as a change");
}

void TestJournal::refusesDamagedAndForeignFiles_data()
{
    QTest::addColumn<int>("damage");
    QTest::addColumn<QString>("reason");
    QTest::newRow("empty") << 0 << "nije datoteka za oporavak ovog programa";
    QTest::newRow("garbage") << 1 << "nije datoteka za oporavak ovog programa";
    QTest::newRow("header cut short") << 2 << "zaglavlje je nepotpuno";
    QTest::newRow("header bit flipped") << 3 << "zaglavlje je oštećeno";
    QTest::newRow("another field list") << 4 << "drukčiji popis polja";
    QTest::newRow("another user's file") << 6 << "pripada drugom korisniku";
    QTest::newRow("a folder") << 7 << "";
}

void TestJournal::refusesDamagedAndForeignFiles()
{
    QFETCH(int, damage);
    QFETCH(QString, reason);
    const QString good = m_dir.filePath(u"good-%1"_s.arg(damage));
    {
        Journalled j(good, { named(u"a"_s) });
        j.add(u"b"_s);
    }
    QByteArray bytes = testsupport::readFile(good);
    const QString path = m_dir.filePath(u"damaged-%1"_s.arg(damage));
    // Offsets: 8 bytes of magic, then the header's length and CRC.
    const qsizetype header = 16 + qFromLittleEndian<quint32>(bytes.constData() + 8);
    switch (damage) {
    case 0:
        bytes.clear();
        break;
    case 1:
        bytes = QByteArray("<?xml version=\"1.0\"?><DATAPACKET/>");
        break;
    case 2:
        bytes.truncate(header - 5);
        break;
    case 3:
        bytes[header - 3] = char(bytes[header - 3] ^ 0x10);
        break;
    case 4: {
        // Rename a field and make the checksum fit, as another program's
        // journal of another table would be.
        const qsizetype at = bytes.indexOf("Naziv", 16);
        bytes.replace(at, 5, "Nazov");
        qToLittleEndian(crc32(bytes.mid(16, header - 16)), bytes.data() + 12);
        break;
    }
    default:
        break;
    }
    if (damage == 7) {
        QVERIFY(QDir(m_dir.path()).mkdir(u"damaged-7"_s));
    } else {
        writeAll(path, bytes);
    }
    if (damage == 6) {
        if (!testsupport::isSuperuser())
            QSKIP("giving a file to another user needs root");
#ifdef Q_OS_UNIX
        QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
#endif
    }
    const QByteArray before = testsupport::readFile(path);
    const QString message = refusal(path);
    QVERIFY2(message.startsWith(
                 u"Datoteka za oporavak \"%1\" nije ispravna: "_s.arg(store::shownPath(path))),
        qPrintable(message));
    QVERIFY2(message.contains(reason), qPrintable(message));
    QCOMPARE(testsupport::readFile(path), before);
}

void TestJournal::failedWriteIsReportedAndTheNextChangeWritesEverything()
{
    const QString folder = m_dir.filePath(u"gone"_s);
    const QString path = folder + u"/journal"_s;
    Journalled j(m_dir.filePath(u"unused"_s), { named(u"a"_s) });
    RecoveryJournal journal(path);
    journal.setBase(j.table.records());
    QString message;
    j.table.afterChange = [&](const store::TableChange &c) {
        try {
            journal.record(c, j.table.records());
        } catch (const store::Exception &e) {
            message = e.message();
        }
    };
    j.add(u"b"_s);
    QVERIFY2(
        message.startsWith(u"Promjene se ne mogu zapisati u datoteku za oporavak \"%1\": "_s.arg(
            store::shownPath(path))),
        qPrintable(message));
    // Once the folder is back, the next change writes the whole table:
    // the change that could not be written is not lost.
    QVERIFY(QDir().mkpath(folder));
    message.clear();
    j.add(u"c"_s);
    QVERIFY(message.isEmpty());
    const store::Recovery recovery = RecoveryJournal::read(path);
    QCOMPARE(names(recovery.base), QStringList { "a" });
    QCOMPARE(names(recovery.rows), (QStringList { "a", "b", "c" }));
}

void TestJournal::damageAfterTheHeaderKeepsWhatCameBefore_data()
{
    QTest::addColumn<int>("damage");
    QTest::addColumn<int>("changes");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("reason"); // empty: read to its end, silently
    const QStringList all { "a", "b", "c", "d" };
    QTest::newRow("first change's checksum")
        << 0 << 0 << QStringList { "a" } << "kontrolni zbroj promjene ne odgovara";
    QTest::newRow("second change's checksum")
        << 1 << 1 << QStringList { "a", "b" } << "kontrolni zbroj promjene ne odgovara";
    QTest::newRow("second change's length pointing past the end")
        << 2 << 1 << QStringList { "a", "b" } << "duljina promjene nije ispravna";
    QTest::newRow("a checked change of a record that is not there")
        << 3 << 3 << all << "nepostojeći zapis";
    QTest::newRow("a checked change of an unknown kind")
        << 4 << 3 << all << "nepoznata vrsta promjene";
    // The ends a crash leaves are no damage.
    QTest::newRow("last change torn") << 5 << 2 << QStringList { "a", "b", "c" } << "";
    QTest::newRow("zero bytes after the last change") << 6 << 3 << all << "";
}

// A bad entry in the middle is damage: the changes before it are read and
// the caller is told, so that the file with the rest is kept.
void TestJournal::damageAfterTheHeaderKeepsWhatCameBefore()
{
    QFETCH(int, damage);
    QFETCH(int, changes);
    QFETCH(QStringList, rows);
    QFETCH(QString, reason);
    const QString good = m_dir.filePath(u"mid-good-%1"_s.arg(damage));
    {
        Journalled j(good, { named(u"a"_s) });
        j.add(u"b"_s);
        j.add(u"c"_s);
        j.add(u"d"_s);
    }
    QByteArray bytes = testsupport::readFile(good);
    switch (damage) {
    case 0:
    case 1: {
        const qsizetype at = entryAt(bytes, damage + 2) - 1;
        bytes[at] = char(bytes[at] ^ 0x01);
        break;
    }
    case 2:
        bytes[entryAt(bytes, 2) + 3] = char(0x40);
        break;
    case 3:
        bytes += framed(QByteArray("D\x07\0\0\0", 5));
        bytes += framed(QByteArray("D\0\0\0\0", 5));
        break;
    case 4:
        bytes += framed(QByteArray("Z"));
        break;
    case 5:
        bytes.chop(3);
        break;
    case 6:
        bytes += QByteArray(4096, '\0');
        break;
    }
    const QString path = m_dir.filePath(u"mid-damaged-%1"_s.arg(damage));
    writeAll(path, bytes);
    const store::Recovery recovery = RecoveryJournal::read(path);
    QVERIFY2(reason.isEmpty() ? recovery.damage.isEmpty() : recovery.damage.contains(reason),
        qPrintable(recovery.damage));
    QCOMPARE(recovery.changes, changes);
    QCOMPARE(names(recovery.rows), rows);
    QCOMPARE(testsupport::readFile(path), bytes);
}

// Many changes of every kind, at random places: the replay meets the table
// exactly, record for record.
void TestJournal::replayFollowsTheTableThroughManyChanges()
{
    QRandomGenerator rng(20260607);
    Rows base;
    for (int i = 0; i < 300; ++i)
        base.push_back(named(u"base %1"_s.arg(i), i));
    const QString path = m_dir.filePath(u"many"_s);
    Journalled j(path, base);
    int next = 0;
    for (int step = 0; step < 3000; ++step) {
        const int count = j.table.recordCount();
        const quint32 what = rng.bounded(100);
        if (what < 35 || count < 5) {
            j.add(u"new %1"_s.arg(next++));
        } else if (what < 60) {
            j.table.moveTo(int(rng.bounded(count)));
            j.table.deleteRecord();
        } else if (what < 70) {
            // Put back anywhere: where a delete left a slot, and where none did.
            j.table.insertRecordAt(int(rng.bounded(count + 1)), named(u"back %1"_s.arg(step)));
        } else if (what < 95) {
            j.table.moveTo(int(rng.bounded(count)));
            j.table.edit();
            j.table.fieldByName(u"Naziv"_s)->setAsString(u"edit %1"_s.arg(step));
            j.table.post();
        } else if (what < 99) {
            const quint32 mod = 2 + rng.bounded(5);
            const quint32 rest = rng.bounded(mod);
            j.table.deleteWhere(
                [&, i = quint32(0)](const Record &) mutable { return i++ % mod == rest; });
        } else {
            Rows fresh;
            for (int i = 0; i < 20; ++i)
                fresh.push_back(named(u"reset %1"_s.arg(i)));
            j.table.assignRecords(fresh);
        }
    }
    const store::Recovery recovery = RecoveryJournal::read(path);
    QCOMPARE(recovery.damage, QString());
    QCOMPARE(recovery.changes, 3000);
    QCOMPARE(names(recovery.rows), names(j.table.records()));
    QVERIFY(recovery.rows == j.table.records());
}

void TestJournal::readsOnlyARegularFileOfItsOwn_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("link to a good journal") << "link"
                                            << "simbolička veza";
    QTest::newRow("FIFO nobody writes to") << "fifo"
                                           << "nije obična datoteka";
    QTest::newRow("link to a device") << "device"
                                      << "simbolička veza";
    QTest::newRow("larger than a data file may be") << "huge"
                                                    << "veća je od 128 MB";
}

// What is not a regular file of this user is refused before it is read,
// and nothing waits for a FIFO's writer.
void TestJournal::readsOnlyARegularFileOfItsOwn()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    if (kind != u"huge")
        LIJEKOVI_POSIX_ONLY("symbolic links, FIFOs and devices");
    const QString good = m_dir.filePath(u"own-good-%1"_s.arg(kind));
    {
        Journalled j(good, { named(u"a"_s) });
        j.add(u"b"_s);
    }
    const QString path = m_dir.filePath(u"own-%1"_s.arg(kind));
    if (kind == u"link") {
        QVERIFY(QFile::link(good, path));
    } else if (kind == u"fifo") {
        QVERIFY(testsupport::makeFifo(path));
    } else if (kind == u"device") {
        QVERIFY(QFile::link(u"/dev/zero"_s, path));
    } else {
        QFile::copy(good, path);
        QVERIFY(QFile::resize(path, store::MaxDataFileSize + 1));
    }
    const QString message = refusal(path);
    QVERIFY2(message.startsWith(
                 u"Datoteka za oporavak \"%1\" nije ispravna: "_s.arg(store::shownPath(path))),
        qPrintable(message));
    QVERIFY2(message.contains(reason), qPrintable(message));
}

void TestJournal::neverWritesThroughWhatIsAtItsNames_data()
{
    QTest::addColumn<QString>("where"); // the suffix of the name taken
    QTest::addColumn<QString>("kind");
    QTest::newRow("link at the temporary name") << ".new"
                                                << "link";
    QTest::newRow("FIFO at the temporary name") << ".new"
                                                << "fifo";
    QTest::newRow("link at the journal's name") << ""
                                                << "link";
    QTest::newRow("FIFO at the journal's name") << ""
                                                << "fifo";
    QTest::newRow("a file at the journal's name") << ""
                                                  << "file";
}

// Whatever was put at the names the journal uses, before its first write,
// is neither written through nor replaced: what it leads to stays as it
// was, and the journal is written whole beside it.
void TestJournal::neverWritesThroughWhatIsAtItsNames()
{
    QFETCH(QString, where);
    QFETCH(QString, kind);
    if (kind != u"file")
        LIJEKOVI_POSIX_ONLY("symbolic links and FIFOs");
    QTemporaryDir dir;
    const QString path = dir.filePath(u".Baza.xml.recovery"_s);
    const QString victim = m_dir.filePath(u"victim-%1-%2"_s.arg(where, kind));
    const QByteArray victimBytes("privatni registar");
    writeAll(victim, victimBytes);
    const QString planted = path + where;
    // A reader on the FIFO: an open for writing would not wait, it would
    // write into it.
    [[maybe_unused]] int reader = -1;
    if (kind == u"link") {
        QVERIFY(QFile::link(victim, planted));
    } else if (kind == u"fifo") {
#ifdef Q_OS_UNIX
        const QByteArray plantedName = QFile::encodeName(planted);
        QCOMPARE(::mkfifo(plantedName.constData(), 0600), 0);
        reader = ::open(plantedName.constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
#endif
    } else {
        writeAll(planted, "LJKREC01 nije moje");
    }
    const testsupport::FileStamp before = testsupport::stampOf(planted);
    QVERIFY(before.exists);
    {
        Journalled j(path, { named(u"a"_s) });
        j.add(u"b"_s);
        j.add(u"c"_s);
    }
#ifdef Q_OS_UNIX
    if (reader >= 0) {
        char byte;
        QCOMPARE(::read(reader, &byte, 1), ssize_t(0));
        ::close(reader);
    }
#endif
    QCOMPARE(testsupport::readFile(victim), victimBytes);
    // The planted thing is still what it was, at its name or moved aside.
    QString now = planted;
    if (where.isEmpty()) {
        const QStringList aside = QDir(dir.path())
                                      .entryList({ u".Baza.xml.recovery-*"_s },
                                          QDir::AllEntries | QDir::Hidden | QDir::System);
        QCOMPARE(aside.size(), 1);
        now = dir.filePath(aside[0]);
    }
    const testsupport::FileStamp after = testsupport::stampOf(now);
    QVERIFY(after.exists);
    QCOMPARE(after.inode, before.inode);
    QCOMPARE(after.mode, before.mode);
    const store::Recovery recovery = RecoveryJournal::read(path);
    QCOMPARE(names(recovery.rows), (QStringList { "a", "b", "c" }));
    QVERIFY(!entries(dir.path()).join(u' ').contains(u".new-"_s));
}

void TestJournal::aGroupMembersPlantedFilesAreNeverWrittenThrough_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<QString>("kind");
    QTest::newRow("link to alice's private register at the temporary name") << ".new"
                                                                            << "link";
    QTest::newRow("mallory's file at the temporary name") << ".new"
                                                          << "file";
    QTest::newRow("link to alice's private register at the journal's name") << ""
                                                                            << "link";
    QTest::newRow("mallory's file at the journal's name") << ""
                                                          << "file";
}

// A folder shared by a group (2770): mallory, a member, plants a link or a
// file of her own where alice's program will write its journal. Alice's
// private register is never touched, and her journal is written.
void TestJournal::aGroupMembersPlantedFilesAreNeverWrittenThrough()
{
#ifdef Q_OS_UNIX
    QFETCH(QString, where);
    QFETCH(QString, kind);
    if (::geteuid() != 0 || QStandardPaths::findExecutable(u"setpriv"_s).isEmpty())
        QSKIP("taking turns as two users needs the superuser and setpriv");
    constexpr uint pharm = 61100;
    constexpr uint alice = 61101;
    constexpr uint mallory = 61102;
    QTemporaryDir dir;
    QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const QString privateFolder = dir.filePath(u"private"_s);
    const QString shared = dir.filePath(u"shared"_s);
    QVERIFY(QDir().mkdir(privateFolder));
    QVERIFY(QDir().mkdir(shared));
    const QString privateFile = privateFolder + u"/Baza.xml"_s;
    const QByteArray privateBytes("<?xml version=\"1.0\"?><DATAPACKET>alice</DATAPACKET>");
    writeAll(privateFile, privateBytes);
    QCOMPARE(::chown(QFile::encodeName(privateFolder).constData(), alice, alice), 0);
    QCOMPARE(::chmod(QFile::encodeName(privateFolder).constData(), 0700), 0);
    QCOMPARE(::chown(QFile::encodeName(privateFile).constData(), alice, alice), 0);
    QCOMPARE(::chmod(QFile::encodeName(privateFile).constData(), 0600), 0);
    QCOMPARE(::chown(QFile::encodeName(shared).constData(), alice, pharm), 0);
    QCOMPARE(::chmod(QFile::encodeName(shared).constData(), 02770), 0);

    // Mallory's doing, as mallory: she cannot read alice's private folder.
    const QString journal = shared + u"/.Baza.xml.recovery"_s;
    const QString planted = journal + where;
    {
        QProcess p;
        const QString command = kind == u"link" ? u"ln -s \"$1\" \"$2\""_s
                                                : u"printf x > \"$2\" && chmod 644 \"$2\""_s;
        p.start(u"setpriv"_s,
            { u"--reuid=%1"_s.arg(mallory), u"--regid=%1"_s.arg(mallory),
                u"--groups=%1"_s.arg(pharm), u"sh"_s, u"-c"_s, command, u"sh"_s, privateFile,
                planted });
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
    }
    struct stat before
    {
    };
    QCOMPARE(::lstat(QFile::encodeName(planted).constData(), &before), 0);
    QCOMPARE(uint(before.st_uid), mallory);

    QCOMPARE(
        runAs(alice, alice, { pharm }, { QString::fromLatin1(childOneChangeArg), journal }), 0);
    QCOMPARE(testsupport::readFile(privateFile), privateBytes);
    struct stat journalInfo
    {
    };
    QCOMPARE(::lstat(QFile::encodeName(journal).constData(), &journalInfo), 0);
    QVERIFY(S_ISREG(journalInfo.st_mode));
    QCOMPARE(uint(journalInfo.st_uid), alice);
    QCOMPARE(int(journalInfo.st_mode & 07777), 0600);
    QVERIFY(journalInfo.st_ino != before.st_ino);
    // Mallory's thing is still there, at its name or moved aside.
    bool found = false;
    for (const QString &name : entries(shared)) {
        struct stat info
        {
        };
        if (::lstat(QFile::encodeName(shared + u'/' + name).constData(), &info) == 0
            && info.st_ino == before.st_ino)
            found = true;
    }
    QVERIFY(found);
    // Read back as alice would: hers, and what she typed.
    QCOMPARE(::chown(QFile::encodeName(journal).constData(), 0, 0), 0);
    QCOMPARE(names(RecoveryJournal::read(journal).rows), (QStringList { "base", "entry" }));
#else
    QSKIP("needs other users, groups and modes, through setpriv (POSIX only)");
#endif
}

// The journal removed (or replaced) under the running program: the next
// change writes the whole table into a new one rather than into nowhere.
void TestJournal::removedJournalIsWrittenAgainWhole()
{
    const QString path = m_dir.filePath(u"removed"_s);
    Journalled j(path, { named(u"a"_s) });
    j.add(u"b"_s);
    QVERIFY(QFile::remove(path));
    j.table.first();
    j.table.deleteRecord();
    const store::Recovery recovery = RecoveryJournal::read(path);
    QCOMPARE(names(recovery.base), QStringList { "a" });
    // The delete applied once: to the whole table, not again after it.
    QCOMPARE(names(recovery.rows), QStringList { "b" });
}

void TestJournal::closingWithoutSavingIsRecorded()
{
    const QString path = m_dir.filePath(u"closed"_s);
    {
        Journalled j(path, { named(u"a"_s) });
        // Nothing changed: nothing to record, no file.
        j.journal.markClosedWithoutSaving(j.table.records());
        QVERIFY(!QFile::exists(path));
        j.add(u"b"_s);
        QVERIFY(!RecoveryJournal::read(path).closedWithoutSaving);
        j.journal.markClosedWithoutSaving(j.table.records());
    }
    const store::Recovery recovery = RecoveryJournal::read(path);
    QVERIFY(recovery.closedWithoutSaving);
    QCOMPARE(recovery.changes, 1);
    QCOMPARE(names(recovery.rows), (QStringList { "a", "b" }));
}

void TestJournal::leftBehindListsWhatAStartMayRecover()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u".Baza.xml.recovery"_s);
    // A process that surely runs and one that is gone.
    const testsupport::RunningProcess running;
    QVERIFY(running.id() > 0);
    const QString live = u".Baza.xml.recovery.%1-AbCdEf"_s.arg(running.id());
    const qint64 gone = testsupport::endedProcessId();
    QVERIFY(gone > 0);
    const QString dead = u".Baza.xml.recovery.%1-GhIjKl"_s.arg(gone);
    const QStringList names { u".Baza.xml.recovery"_s, u".Baza.xml.recovery.new-Ab3x9Q"_s, live,
        dead, dead + u".new-Zz9Yy8"_s, u".Baza.xml.recovery-20260101-120000"_s, u".Baza.xml.lock"_s,
        u"Baza.xml"_s };
    for (const QString &name : names)
        writeAll(dir.filePath(name), "x");
    const QStringList found = RecoveryJournal::leftBehind(path);
    QCOMPARE(found.value(0), path);
    QStringList rest = found.mid(1);
    rest.sort();
    QStringList expected { dir.filePath(u".Baza.xml.recovery.new-Ab3x9Q"_s), dir.filePath(dead),
        dir.filePath(dead + u".new-Zz9Yy8"_s) };
    expected.sort();
    QCOMPARE(rest, expected);
    const QString own = RecoveryJournal::privateName(path);
    QVERIFY2(QFileInfo(own).fileName().startsWith(
                 u".Baza.xml.recovery.%1-"_s.arg(QCoreApplication::applicationPid())),
        qPrintable(own));
    QVERIFY(own != RecoveryJournal::privateName(path));
}

int main(int argc, char *argv[])
{
    if (argc == 3 && std::strcmp(argv[1], childLoopArg) == 0)
        return childJournalInALoop(QString::fromLocal8Bit(argv[2]));
    if (argc == 3 && std::strcmp(argv[1], childOneChangeArg) == 0) {
        QCoreApplication app(argc, argv);
        return childJournalOneChange(QString::fromLocal8Bit(argv[2]));
    }
    QCoreApplication app(argc, argv);
    TestJournal test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_journal.moc"

#include "store/clientdataset.h"
#include "store/exception.h"
#include "store/journal.h"
#include "tests/support/files.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QtEndian>

#include <csignal>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

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
    const mode_t old = ::umask(0);
    {
        Journalled j(path);
        j.add(u"a"_s);
        ::umask(old);
        QCOMPARE(QFile::permissions(path),
            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
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
        ::kill(pid_t(child.processId()), SIGKILL);
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
    QTest::newRow("another field list") << 4 << "drugačiji popis polja";
    QTest::newRow("change of a record that is not there") << 5 << "nepostojeći zapis";
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
    case 5: {
        // A delete of row 7 in a register of two, checksum and all.
        QByteArray payload("D");
        payload.append("\x07\0\0\0", 4);
        char frame[8];
        qToLittleEndian(quint32(payload.size()), frame);
        qToLittleEndian(crc32(payload), frame + 4);
        bytes += QByteArray(frame, 8) + payload;
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
        if (::geteuid() != 0)
            QSKIP("giving a file to another user needs root");
        QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
    }
    const QByteArray before = testsupport::readFile(path);
    const QString message = refusal(path);
    QVERIFY2(message.startsWith(u"Datoteka za oporavak \"%1\" nije ispravna: "_s.arg(path)),
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
    QVERIFY2(message.startsWith(
                 u"Promjene se ne mogu zapisati u datoteku za oporavak \"%1\": "_s.arg(path)),
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

int main(int argc, char *argv[])
{
    if (argc == 3 && std::strcmp(argv[1], childLoopArg) == 0)
        return childJournalInALoop(QString::fromLocal8Bit(argv[2]));
    QCoreApplication app(argc, argv);
    TestJournal test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_journal.moc"

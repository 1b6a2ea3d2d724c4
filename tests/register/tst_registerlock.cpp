// One program per register: the lock beside Baza.xml, taken in this
// process and by copies of this test run as other users, and the session
// that takes it at the start.
#include "register/registerlock.h"
#include "store/platform.h"
#include "tests/register/sessionfixture.h"
#include "tests/support/lockfolders.h"
#include "tests/support/users.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QThread>

#include <cstring>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace testsupport;

namespace {

// What the program says when it runs without the lock.
QString notLocked(const QString &what)
{
    return QStringLiteral("Registar nije zaključan: ") + what
        + QStringLiteral(
            "\n\nProgram radi dalje, ali ne može spriječiti da se u ovoj mapi "
            "istodobno pokrene još jedan. Prije svakog spremanja provjerava je li "
            "\"Baza.xml\" još ona koju je učitao ili zadnji put spremio. Upisano se i dalje "
            "bilježi za oporavak nakon prekida, u zasebnu datoteku ove kopije "
            "programa.");
}

QString unusableLock(const QString &lock, const QString &what)
{
    return notLocked(QStringLiteral("na mjestu datoteke zaključavanja \"%1\" nalazi se %2.\n"
                                    "Kad nijedan program ne radi s ovim registrom, uklonite "
                                    "\"%1\", pa će se registar opet zaključavati.")
                         .arg(lock, what));
}

QString unavailableLock(const QString &lock, const QString &why)
{
    return notLocked(
        QStringLiteral("datoteka zaključavanja \"%1\" ne može se napraviti: %2.").arg(lock, why));
}

} // namespace

QString swapCase(const QString &text)
{
    QString out = text;
    for (QChar &c : out)
        c = c.isUpper() ? c.toLower() : c.toUpper();
    return out;
}

// The raw content that stands for "held by a live copy" in the rows of
// leftoverLockFile.
const QByteArray Held = QByteArrayLiteral("held by a live copy");

class TestRegisterLock : public QObject
{
    Q_OBJECT

private slots:
    void secondLockInTheFolderIsRefusedUntilReleased()
    {
        QTemporaryDir dir;
        QTemporaryDir otherDir;
        RegisterLock first(dir.path());
        QCOMPARE(first.acquire(), RegisterLock::Locked);
        QVERIFY(first.permitsStart());
        QCOMPARE(first.filePath(), dir.filePath(QStringLiteral(".Baza.xml.lock")));
        QCOMPARE(lockOwner(first.filePath()), QCoreApplication::applicationPid());

        RegisterLock second(dir.path());
        QCOMPARE(second.acquire(), RegisterLock::HeldElsewhere);
        QVERIFY(!second.permitsStart());
        // Asking again changes nothing while the first holds it.
        QCOMPARE(second.acquire(), RegisterLock::HeldElsewhere);
        QCOMPARE(lockOwner(first.filePath()), QCoreApplication::applicationPid());

        // Another folder is another register.
        RegisterLock elsewhere(otherDir.path());
        QCOMPARE(elsewhere.acquire(), RegisterLock::Locked);

        first.release();
        QCOMPARE(first.status(), RegisterLock::Unlocked);
        QVERIFY(!QFile::exists(first.filePath()));
        QCOMPARE(second.acquire(), RegisterLock::Locked);
        QVERIFY(second.permitsStart());
        QCOMPARE(first.acquire(), RegisterLock::HeldElsewhere);
    }

    void lockIsGoneWithItsHolder()
    {
        QTemporaryDir dir;
        QString path;
        {
            RegisterLock lock(dir.path());
            QCOMPARE(lock.acquire(), RegisterLock::Locked);
            path = lock.filePath();
            QVERIFY(QFile::exists(path));
        }
        QVERIFY(!QFile::exists(path));
        RegisterLock next(dir.path());
        QCOMPARE(next.acquire(), RegisterLock::Locked);
    }

    // A lock file found at start-up, written by hand as another copy would
    // have left it.
    void leftoverLockFile_data()
    {
        QTest::addColumn<qint64>("pid");
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<bool>("old");
        QTest::addColumn<int>("expected");

        const qint64 gone = endedProcessId();
        QVERIFY2(gone > 0 && !processExists(gone), "no ended process id to use");
        const qint64 self = QCoreApplication::applicationPid();
        const QString here = store::platform::lockHostName();
        const QString lijekovi = QStringLiteral("lijekovi");
        const int taken = RegisterLock::Locked;
        const int refused = RegisterLock::HeldElsewhere;

        QTest::newRow("copy crashed") << gone << lijekovi << here << QByteArray() << false << taken;
        QTest::newRow("copy crashed an hour ago")
            << gone << lijekovi << here << QByteArray() << true << taken;
        // Host names are the same whatever their case: Qt writes the
        // computer's name, in capitals on Windows.
        QTest::newRow("copy crashed, host name in other case")
            << gone << lijekovi << swapCase(here) << QByteArray() << false << taken;
        QTest::newRow("copy crashed, no host recorded")
            << gone << lijekovi << QString() << QByteArray() << false << taken;
        // Its process id now belongs to another program (this test).
        QTest::newRow("process id reused")
            << self << lijekovi << here << QByteArray() << false << taken;
        // A live copy holds its lock file: here a lock this process holds
        // through Qt, as the program's own copy does (its process id, its
        // name).
        QTest::newRow("copy running") << self << QString() << here << Held << false << refused;
        // A register stays open all day: age alone never makes a lock stale.
        QTest::newRow("copy running for an hour")
            << self << QString() << here << Held << true << refused;
        // This process's own id in a lock nobody holds: an earlier process
        // had the id (Windows hands ids out again soon, and after a restart
        // any system may); this copy has not locked yet, so it is not the
        // copy that wrote it.
        QTest::newRow("own process id, nobody holding it")
            << self << ownProgramName() << here << QByteArray() << false << taken;
        // Whether a copy on another computer still runs cannot be told from here.
        QTest::newRow("copy on another computer")
            << gone << lijekovi << QStringLiteral("ljekarna-2") << QByteArray() << true << refused;
        // A copy killed between creating the file and writing it leaves it
        // empty; a copy starting right now has not written it yet.
        QTest::newRow("empty, just created")
            << qint64(0) << QString() << QString() << QByteArray() << false << refused;
        QTest::newRow("empty, an hour old")
            << qint64(0) << QString() << QString() << QByteArray() << true << taken;
        QTest::newRow("garbage, an hour old")
            << qint64(0) << QString() << QString() << QByteArray("\0\0\0\n", 4) << true << taken;
    }

    void leftoverLockFile()
    {
        QFETCH(qint64, pid);
        QFETCH(QString, program);
        QFETCH(QString, host);
        QFETCH(QByteArray, raw);
        QFETCH(bool, old);
        QFETCH(int, expected);

        QTemporaryDir dir;
        const QString path = dir.filePath(RegisterLock::fileName());
        QLockFile holder(path);
        if (raw == Held) {
            holder.setStaleLockTime(0);
            QVERIFY(holder.tryLock(0));
        } else {
            writeLockFile(path, pid, program, host, raw);
        }
        if (old)
            makeOld(path);
        const QByteArray before = readFile(path);

        RegisterLock lock(dir.path());
        QCOMPARE(int(lock.acquire()), expected);
        if (expected == RegisterLock::Locked) {
            QVERIFY(lock.permitsStart());
            QCOMPARE(lockOwner(path), QCoreApplication::applicationPid());
            lock.release();
            QVERIFY(!QFile::exists(path));
        } else {
            QVERIFY(!lock.permitsStart());
            QCOMPARE(readFile(path), before);
        }
    }

    // The program is not kept from its register by a folder that cannot
    // hold the lock, nor by something else at the lock's path: it starts
    // unlocked, says why, and leaves everything there as it was.
    void lockThatCannotBeHad_data()
    {
        QTest::addColumn<QString>("folder"); // relative to a fresh folder
        QTest::addColumn<int>("spoiler"); // -1: none
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("what"); // the reason; %2 stands for the folder

        const int none = -1;
        const int unusable = RegisterLock::Unusable;
        const int unavailable = RegisterLock::Unavailable;
        QTest::newRow("folder under a regular file") << QStringLiteral(
            "file/register") << none << unavailable << QStringLiteral("mapa \"%2\" ne postoji");
        QTest::newRow("folder that does not exist")
            << QStringLiteral("missing/register") << none << unavailable
            << QStringLiteral("mapa \"%2\" ne postoji");
        QTest::newRow("read-only folder")
            << QStringLiteral("register") << int(LockSpoiler::ReadOnlyFolder) << unavailable
            << QStringLiteral(
                   "u mapu se ne može pisati (nema prava pisanja ili je samo za čitanje)");
        QTest::newRow("full disk") << QStringLiteral("register") << int(LockSpoiler::FullDisk)
                                   << unavailable << QStringLiteral("disk je pun");
        QTest::newRow("a folder at the lock's path")
            << QStringLiteral("register") << int(LockSpoiler::Folder) << unusable
            << QStringLiteral("mapa");
        QTest::newRow("a link leading nowhere at the lock's path")
            << QStringLiteral("register") << int(LockSpoiler::BrokenLink) << unusable
            << QStringLiteral("simbolička veza na \"%2/nema\", koji ne postoji");
        QTest::newRow("a FIFO at the lock's path")
            << QStringLiteral("register") << int(LockSpoiler::Fifo) << unusable
            << QStringLiteral("imenovana cijev (FIFO)");
    }

    void lockThatCannotBeHad()
    {
        QFETCH(QString, folder);
        QFETCH(int, spoiler);
        QFETCH(int, status);
        QFETCH(QString, what);
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("file")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const QString path = dir.filePath(folder);
        if (spoiler == int(LockSpoiler::BrokenLink) || spoiler == int(LockSpoiler::Fifo))
            LIJEKOVI_POSIX_ONLY("symbolic links any user may make and FIFOs");
        std::unique_ptr<ScratchDisk> disk;
        if (spoiler >= 0) {
            QVERIFY(QDir().mkpath(path));
            QFile data(path + QStringLiteral("/Baza.xml"));
            QVERIFY(data.open(QIODevice::WriteOnly));
            data.write("registar");
            data.close();
            if (!spoilLock(path, LockSpoiler(spoiler), disk))
                QSKIP("a read-only or full file system needs the superuser (mount)");
        }
        const QMap<QString, QByteArray> before
            = spoiler >= 0 ? folderEntries(path) : folderEntries(dir.path());

        RegisterLock lock(path);
        QCOMPARE(int(lock.acquire()), status);
        QVERIFY(lock.permitsStart());
        const QString lockPath = QDir::toNativeSeparators(lock.filePath());
        what.replace(QStringLiteral("%2"), QDir::toNativeSeparators(path));
        const QString expected = status == RegisterLock::Unusable ? unusableLock(lockPath, what)
                                                                  : unavailableLock(lockPath, what);
        QCOMPARE(lock.problem(), expected);
        lock.release();
        QCOMPARE(lock.status(), RegisterLock::Unlocked);
        QCOMPARE(spoiler >= 0 ? folderEntries(path) : folderEntries(dir.path()), before);
    }

    // A copy that crashed in a folder its group shares does not keep the
    // group's other members out: its lock is taken over by whoever starts
    // next, whatever the user, while a live copy's lock still refuses.
    // Old behaviour caught: the lock was made 0644, and a colleague's start
    // could not open it for writing to take it over, so it said "Registar
    // je već otvoren u drugom prozoru." until the crashed copy's user came
    // back.
    void crashedColleaguesLockIsTakenOverInASharedFolder()
    {
#ifdef Q_OS_UNIX
        if (!testsupport::canActAsOtherUsers())
            QSKIP("two users taking turns need the superuser and setpriv");
        constexpr uint group = 61000;
        constexpr uint alice = 61001;
        constexpr uint bob = 61002;
        QTemporaryDir dir;
        QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
        const QString folder = dir.filePath(QStringLiteral("zajednicka"));
        QVERIFY(QDir().mkdir(folder));
        const QByteArray nativeFolder = QFile::encodeName(folder);
        QCOMPARE(::chown(nativeFolder.constData(), 0, group), 0);
        QCOMPARE(::chmod(nativeFolder.constData(), 02770), 0);
        const QString lockFile = folder + QLatin1Char('/') + RegisterLock::fileName();
        const auto aliceTries = [&] {
            return testsupport::runAs(
                alice, alice, { group }, { QStringLiteral("--try-lock"), folder });
        };
        const QString locked = QString::number(RegisterLock::Locked);
        const QString held = QString::number(RegisterLock::HeldElsewhere);

        // Bob's copy holds the register.
        QProcess bobsCopy;
        bobsCopy.start(QStringLiteral("setpriv"),
            testsupport::asUser(bob, bob, { group }, QCoreApplication::applicationFilePath(),
                { QStringLiteral("--hold-lock"), folder }));
        QVERIFY(bobsCopy.waitForReadyRead(30000));
        QCOMPARE(QString::fromLatin1(bobsCopy.readLine()).trimmed(), locked);
        struct stat st
        {
        };
        QCOMPARE(::stat(QFile::encodeName(lockFile).constData(), &st), 0);
        QCOMPARE(uint(st.st_uid), bob);
        QVERIFY2(st.st_mode & S_IWGRP, qPrintable(QString::number(st.st_mode & 0777, 8)));

        // Alive: Alice is refused and the lock stays Bob's.
        testsupport::Run run = aliceTries();
        QCOMPARE(run.output.trimmed(), held);
        QCOMPARE(lockOwner(lockFile), bobsCopy.processId());

        // Killed: Alice takes it over.
        bobsCopy.kill();
        bobsCopy.waitForFinished();
        QVERIFY(QFile::exists(lockFile));
        run = aliceTries();
        QCOMPARE(run.output.trimmed(), locked);
        QVERIFY(!QFile::exists(lockFile)); // given up as Alice's copy ended

        // A crashed copy's lock as earlier versions left it: Bob's, 0644.
        writeLockFile(lockFile, endedProcessId(), QStringLiteral("lijekovi"),
            store::platform::lockHostName());
        QCOMPARE(::chown(QFile::encodeName(lockFile).constData(), bob, group), 0);
        QCOMPARE(::chmod(QFile::encodeName(lockFile).constData(), 0644), 0);
        run = aliceTries();
        QCOMPARE(run.output.trimmed(), locked);
        QVERIFY(!QFile::exists(lockFile));

        // The same file, its process alive (this test, another user's to
        // Alice): refused, and left as it is.
        writeLockFile(lockFile, QCoreApplication::applicationPid(), QStringLiteral("lijekovi"),
            store::platform::lockHostName());
        QCOMPARE(::chown(QFile::encodeName(lockFile).constData(), bob, group), 0);
        QCOMPARE(::chmod(QFile::encodeName(lockFile).constData(), 0644), 0);
        const QByteArray live = readFile(lockFile);
        run = aliceTries();
        QCOMPARE(run.output.trimmed(), held);
        QCOMPARE(readFile(lockFile), live);
#else
        QSKIP("needs other users and groups, through setpriv (POSIX only)");
#endif
    }

    // ------------------------------------------------------------------
    // The session takes the lock at the start and says what stands in its
    // way; the window only shows what it says.

    void sessionLockDecidesTheStart_data()
    {
        QTest::addColumn<QString>("folder"); // what is there before the start
        QTest::addColumn<int>("access");
        QTest::newRow("free") << "free" << int(RegisterSession::Access::Locked);
        QTest::newRow("a stale lock of a crashed copy")
            << "stale" << int(RegisterSession::Access::Locked);
        QTest::newRow("held by another copy") << "held" << int(RegisterSession::Access::Refused);
        QTest::newRow("a folder at the lock's path")
            << "spoiled" << int(RegisterSession::Access::Unlocked);
    }

    void sessionLockDecidesTheStart()
    {
        QFETCH(QString, folder);
        QFETCH(int, access);
        QTemporaryDir dir;
        store::saveDataPacketFile(dir.filePath("Baza.xml"), { entry("A") });
        const QString lockFile = dir.filePath(RegisterLock::fileName());
        std::unique_ptr<RegisterLock> other;
        std::unique_ptr<ScratchDisk> none;
        if (folder == "stale") {
            writeLockFile(lockFile, endedProcessId(), QStringLiteral("lijekovi"),
                store::platform::lockHostName());
        } else if (folder == "held") {
            other = std::make_unique<RegisterLock>(dir.path());
            QCOMPARE(other->acquire(), RegisterLock::Locked);
        } else if (folder == "spoiled") {
            QVERIFY(spoilLock(dir.path(), LockSpoiler::Folder, none));
        }
        const QMap<QString, QByteArray> before = folderEntries(dir.path());

        store::ClientDataSet table;
        Answers dialogue;
        auto session = std::make_unique<RegisterSession>(dir.path(), table, dialogue);
        QCOMPARE(int(session->lock()), access);
        QVERIFY(dialogue.asked.isEmpty());
        const QString journal = dir.filePath(RegisterPaths::recoveryFileName());
        switch (RegisterSession::Access(access)) {
        case RegisterSession::Access::Locked:
            QVERIFY(dialogue.errors.isEmpty());
            QVERIFY(dialogue.notices.isEmpty());
            QCOMPARE(lockOwner(lockFile), QCoreApplication::applicationPid());
            QCOMPARE(session->journalFile(), journal);
            // Held as long as the session, and given up with it.
            session.reset();
            QVERIFY(!QFileInfo::exists(lockFile));
            break;
        case RegisterSession::Access::Refused:
            QCOMPARE(dialogue.errors,
                QStringList { "Registar je već otvoren u drugoj kopiji programa." });
            QVERIFY(dialogue.notices.isEmpty());
            session.reset();
            // The other copy's lock and everything else stay as they were.
            QCOMPARE(folderEntries(dir.path()), before);
            break;
        case RegisterSession::Access::Unlocked:
            QVERIFY(dialogue.errors.isEmpty());
            QCOMPARE(dialogue.notices,
                QStringList { unusableLock(QDir::toNativeSeparators(lockFile), "mapa") });
            // Another copy may write the register's journal: this one keeps
            // its own.
            QVERIFY2(QFileInfo(session->journalFile())
                         .fileName()
                         .startsWith(QStringLiteral(".Baza.xml.recovery.%1-")
                                         .arg(QCoreApplication::applicationPid())),
                qPrintable(session->journalFile()));
            session.reset();
            QCOMPARE(folderEntries(dir.path()), before);
            break;
        }
    }

    // Holding the lock, the start removes the temporary files its own
    // killed saves left, and nothing that merely looks like one; without
    // the lock another copy may be writing them, and all stay.
    void staleTemporaryFilesAreSweptUnderTheLock_data()
    {
        QTest::addColumn<bool>("locked");
        QTest::newRow("holding the lock") << true;
        QTest::newRow("without the lock") << false;
    }

    void staleTemporaryFilesAreSweptUnderTheLock()
    {
        QFETCH(bool, locked);
        QTemporaryDir dir;
        store::saveDataPacketFile(dir.filePath("Baza.xml"), { entry("A") });
        std::unique_ptr<ScratchDisk> none;
        if (!locked)
            QVERIFY(spoilLock(dir.path(), LockSpoiler::Folder, none));
        const auto &leftovers = staleLeftovers();
        for (const StaleLeftover &l : leftovers) {
            const QString path = dir.filePath(QLatin1String(l.name));
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(l.name);
            f.close();
            QVERIFY(setFileMode(path, uint(l.mode)));
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(
                QDateTime::currentDateTime().addSecs(-l.age), QFileDevice::FileModificationTime));
            f.close();
        }

        store::ClientDataSet table;
        Answers dialogue;
        RegisterSession session(dir.path(), table, dialogue);
        QCOMPARE(session.lock(),
            locked ? RegisterSession::Access::Locked : RegisterSession::Access::Unlocked);
        for (const StaleLeftover &l : leftovers) {
            const QString path = dir.filePath(QLatin1String(l.name));
            QVERIFY2(QFileInfo::exists(path) != (locked && l.removed), l.name);
            if (QFileInfo::exists(path))
                QCOMPARE(readFile(path), QByteArray(l.name));
        }
        QCOMPARE(readFile(dir.filePath("Baza.xml")),
            store::serializeDataPacket(std::vector<store::Record> { entry("A") }));
    }
};

// What another user's copy does with the lock, for the shared folder's
// test: takes it and says how it went; with --hold-lock keeps it until
// killed.
int lockAsAChild(const QString &folder, bool hold)
{
    RegisterLock lock(folder);
    const RegisterLock::Status status = lock.acquire();
    QTextStream(stdout) << int(status) << Qt::endl;
    if (hold)
        for (;;)
            QThread::sleep(60);
    return 0;
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 3
        && (std::strcmp(argv[1], "--try-lock") == 0 || std::strcmp(argv[1], "--hold-lock") == 0)) {
        return lockAsAChild(
            QString::fromLocal8Bit(argv[2]), std::strcmp(argv[1], "--hold-lock") == 0);
    }
    TestRegisterLock test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_registerlock.moc"

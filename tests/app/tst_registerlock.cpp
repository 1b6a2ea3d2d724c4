// One program per register: the lock beside Baza.xml, in-process and with
// the real program started twice in one folder.
#include "app/unit1.h"
#include "register/registerlock.h"
#include "tests/support/files.h"
#include "tests/support/users.h"

#include "store/datapacket.h"
#include "toolkit/bitbtn.h"

#include <QApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLayout>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// The process id a lock file names on its first line, or 0.
qint64 lockOwner(const QString &path)
{
    return testsupport::readFile(path).split('\n').value(0).toLongLong();
}

bool processExists(qint64 pid) { return ::kill(pid_t(pid), 0) == 0 || errno != ESRCH; }

// The id of a process that has just ended, as a copy that crashed leaves in
// its lock file.
qint64 endedProcessId()
{
    QProcess p;
    p.start(QStandardPaths::findExecutable(QStringLiteral("true")), QStringList());
    if (!p.waitForStarted())
        return 0;
    const qint64 pid = p.processId();
    p.waitForFinished();
    return pid;
}

// A lock file as QLockFile writes it: process id, program name and host,
// one a line.
void writeLockFile(const QString &path, qint64 pid, const QString &program, const QString &host,
    const QByteArray &raw = QByteArray())
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    if (pid)
        f.write(QByteArray::number(pid) + '\n' + program.toUtf8() + '\n' + host.toUtf8() + '\n');
    else
        f.write(raw);
    f.close();
}

void makeOld(const QString &path)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.setFileTime(
        QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
}

QString ownProgramName() { return QFileInfo(QCoreApplication::applicationFilePath()).fileName(); }

// Every entry of a folder with its kind and, for a regular file, its bytes.
QMap<QString, QByteArray> snapshot(const QString &folder)
{
    QMap<QString, QByteArray> out;
    const QDir dir(folder);
    for (const QString &name :
        dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        const QFileInfo info(dir.filePath(name));
        if (info.isSymLink())
            out[name] = "link to " + QFile::encodeName(info.symLinkTarget());
        else if (info.isDir())
            out[name] = "folder";
        else if (info.isFile())
            out[name] = testsupport::readFile(info.filePath());
        else
            out[name] = "special";
    }
    return out;
}

// A small file system of its own mounted on a folder for a test's life,
// to be filled up or made read-only. Only the superuser can mount.
class ScratchDisk
{
public:
    explicit ScratchDisk(const QString &folder)
        : m_folder(folder)
    {
        m_mounted = ::geteuid() == 0
            && QProcess::execute(QStringLiteral("mount"),
                   { QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                       QStringLiteral("size=256k,mode=0755"), QStringLiteral("tmpfs"), folder })
                == 0;
    }
    ~ScratchDisk()
    {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), { QStringLiteral("-l"), m_folder });
    }
    bool mounted() const { return m_mounted; }

    bool makeReadOnly()
    {
        return QProcess::execute(QStringLiteral("mount"),
                   { QStringLiteral("-o"), QStringLiteral("remount,ro"), m_folder })
            == 0;
    }

    // Fills the disk up to its last byte.
    bool fill()
    {
        QFile filler(m_folder + QStringLiteral("/punjenje"));
        if (!filler.open(QIODevice::WriteOnly))
            return false;
        const QByteArray block(1024, 'x');
        while (filler.write(block) == block.size() && filler.flush()) { }
        filler.close();
        const QByteArray one(1, 'x');
        while (filler.open(QIODevice::Append) && filler.write(one) == 1 && filler.flush())
            filler.close();
        return true;
    }

private:
    QString m_folder;
    bool m_mounted = false;
};

// How the register's folder is spoiled for the lock: something at the
// lock's path, or a folder that takes no new file.
enum class LockSpoiler { Folder, BrokenLink, Fifo, ReadOnlyFolder, FullDisk };

// Prepares `folder` (which holds a register) as `spoiler` says; false when
// this machine cannot (mounting needs the superuser).
bool spoilLock(const QString &folder, LockSpoiler spoiler, std::unique_ptr<ScratchDisk> &disk)
{
    const QString lock = folder + QLatin1Char('/') + RegisterLock::fileName();
    switch (spoiler) {
    case LockSpoiler::Folder:
        return QDir().mkpath(lock + QStringLiteral("/unutra"));
    case LockSpoiler::BrokenLink:
        return QFile::link(folder + QStringLiteral("/nema"), lock);
    case LockSpoiler::Fifo:
        return ::mkfifo(QFile::encodeName(lock).constData(), 0600) == 0;
    case LockSpoiler::ReadOnlyFolder:
    case LockSpoiler::FullDisk:
        break;
    }
    const QByteArray bytes = testsupport::readFile(folder + QStringLiteral("/Baza.xml"));
    disk = std::make_unique<ScratchDisk>(folder);
    if (!disk->mounted())
        return false;
    QFile data(folder + QStringLiteral("/Baza.xml"));
    if (!data.open(QIODevice::WriteOnly) || data.write(bytes) != bytes.size())
        return false;
    data.close();
    return spoiler == LockSpoiler::FullDisk ? disk->fill() : disk->makeReadOnly();
}

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

// ---------------------------------------------------------------- X server

constexpr int WindowWait = 30000;

QByteArray xdotool(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    if (!p.waitForFinished(15000)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    return p.readAllStandardOutput().trimmed();
}

// The visible windows of the X server, for failure messages.
QString describeScreen()
{
    QStringList out;
    const QList<QByteArray> ids = xdotool({ "search", "--onlyvisible", "--name", "." }).split('\n');
    for (const QByteArray &id : ids) {
        if (id.isEmpty())
            continue;
        out << QStringLiteral("%1 \"%2\" of process %3")
                   .arg(QString::fromLatin1(id),
                       QString::fromUtf8(xdotool({ "getwindowname", id })),
                       QString::fromLatin1(xdotool({ "getwindowpid", id })));
    }
    return out.isEmpty() ? QStringLiteral("no visible windows") : out.join(QStringLiteral("; "));
}

// The program, started in a folder, with its windows found by their titles
// and answered from the keyboard as a person would.
class Program
{
public:
    explicit Program(const QString &folder, const QString &home)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        // The file dialog's settings and the runtime folder stay in the test's folder.
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home);
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(folder);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral(LIJEKOVI_BINARY), QStringList());
    }

    ~Program()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    bool started() { return m_process.waitForStarted(); }
    qint64 pid() const { return m_pid ? m_pid : (m_pid = m_process.processId()); }

    // The id of this program's visible window titled `title`, once it shows.
    QByteArray window(const QString &title) const
    {
        QDeadlineTimer deadline(WindowWait);
        do {
            const QList<QByteArray> ids
                = xdotool({ "search", "--onlyvisible", "--pid", QString::number(pid()) })
                      .split('\n');
            for (const QByteArray &id : ids) {
                if (!id.isEmpty() && QString::fromUtf8(xdotool({ "getwindowname", id })) == title)
                    return id;
            }
            QTest::qWait(50);
        } while (!deadline.hasExpired() && m_process.state() == QProcess::Running);
        return {};
    }

    static void press(const QByteArray &window, const char *key)
    {
        xdotool({ "windowfocus", "--sync", window, "key", key });
    }

    // "Da" in a question whose default is "Ne": the focus moves from the
    // one button to the other, and Space presses it.
    static void answerYes(const QByteArray &box)
    {
        xdotool({ "windowfocus", "--sync", box, "key", "--delay", "100", "Tab", "space" });
    }

    static void type(const QByteArray &window, const char *text)
    {
        xdotool({ "windowfocus", "--sync", window, "type", "--delay", "50", text });
    }

    // The id of a window titled `title` other than `previous`: the next box
    // of the same caption, once the one before it has gone.
    QByteArray windowAfter(const QString &title, const QByteArray &previous) const
    {
        QDeadlineTimer deadline(WindowWait);
        do {
            const QByteArray id = window(title);
            if (!id.isEmpty() && id != previous)
                return id;
            QTest::qWait(50);
        } while (!deadline.hasExpired() && m_process.state() == QProcess::Running);
        return {};
    }

    // The titles of this program's visible windows, now.
    QStringList titles() const
    {
        QStringList out;
        const QList<QByteArray> ids
            = xdotool({ "search", "--onlyvisible", "--pid", QString::number(pid()) }).split('\n');
        for (const QByteArray &id : ids) {
            if (!id.isEmpty())
                out << QString::fromUtf8(xdotool({ "getwindowname", id }));
        }
        return out;
    }

    bool running() const { return m_process.state() == QProcess::Running; }

    static void click(const QByteArray &window, QPoint at)
    {
        QPoint origin;
        for (const QByteArray &line :
            xdotool({ "getwindowgeometry", "--shell", window }).split('\n')) {
            if (line.startsWith("X="))
                origin.setX(line.mid(2).toInt());
            else if (line.startsWith("Y="))
                origin.setY(line.mid(2).toInt());
        }
        const QPoint p = origin + at;
        // Another program's window may lie over this one.
        xdotool({ "windowraise", window });
        // The pointer comes from elsewhere, as a hand's does: a window that
        // appeared under a resting pointer has not seen it arrive.
        xdotool({ "mousemove", "--sync", QString::number(p.x() + 5), QString::number(p.y() + 5) });
        xdotool({ "mousemove", "--sync", QString::number(p.x()), QString::number(p.y()), "click",
            "1" });
    }

    // The exit code, once the program has ended by itself; -1 if it did not.
    int exitCode()
    {
        if (!m_process.waitForFinished(WindowWait))
            return -1;
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    // Ends the program as a kill or a logout does.
    void terminate() { ::kill(pid_t(pid()), SIGTERM); }

    void crash()
    {
        m_process.kill();
        m_process.waitForFinished();
    }

    QString output() { return QString::fromLocal8Bit(m_process.readAll()); }

private:
    QProcess m_process;
    mutable qint64 m_pid = 0;
};

const QString MainTitle = QStringLiteral("Tervalis - suglasnost za uvoz lijekova na recept");
const QString Greeting = QStringLiteral("Pozdrav");
const QString Refusal = QStringLiteral("Greška");
const QString Warning = QStringLiteral("Pažnja!");
// The notice that the register is not locked: a notice, not a question.
const QString Notice = QStringLiteral("Poruka");

// Where a person clicks a control: its centre in the window as the layout places it.
QPoint centreOf(const char *control)
{
    TForm1 form;
    form.layout()->activate();
    const QWidget *widget = form.findChild<QWidget *>(QString::fromLatin1(control));
    return widget ? widget->mapTo(&form, widget->rect().center()) : QPoint();
}

QPoint exitButtonCentre() { return centreOf("BitBtnExit"); }

// A folder's entries without the lock, which a program removes when it ends.
QMap<QString, QByteArray> filesBesideTheLock(const QString &folder)
{
    QMap<QString, QByteArray> files = snapshot(folder);
    files.remove(RegisterLock::fileName());
    return files;
}

} // namespace

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
        const QString here = QSysInfo::machineHostName();
        const QString lijekovi = QStringLiteral("lijekovi");
        const int taken = RegisterLock::Locked;
        const int refused = RegisterLock::HeldElsewhere;

        QTest::newRow("copy crashed") << gone << lijekovi << here << QByteArray() << false << taken;
        QTest::newRow("copy crashed an hour ago")
            << gone << lijekovi << here << QByteArray() << true << taken;
        QTest::newRow("copy crashed, no host recorded")
            << gone << lijekovi << QString() << QByteArray() << false << taken;
        // Its process id now belongs to another program (this test).
        QTest::newRow("process id reused")
            << self << lijekovi << here << QByteArray() << false << taken;
        QTest::newRow("copy running")
            << self << ownProgramName() << here << QByteArray() << false << refused;
        // A register stays open all day: age alone never makes a lock stale.
        QTest::newRow("copy running for an hour")
            << self << ownProgramName() << here << QByteArray() << true << refused;
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
        writeLockFile(path, pid, program, host, raw);
        if (old)
            makeOld(path);
        const QByteArray before = testsupport::readFile(path);

        RegisterLock lock(dir.path());
        QCOMPARE(int(lock.acquire()), expected);
        if (expected == RegisterLock::Locked) {
            QVERIFY(lock.permitsStart());
            QCOMPARE(lockOwner(path), QCoreApplication::applicationPid());
            lock.release();
            QVERIFY(!QFile::exists(path));
        } else {
            QVERIFY(!lock.permitsStart());
            QCOMPARE(testsupport::readFile(path), before);
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
            = spoiler >= 0 ? snapshot(path) : snapshot(dir.path());

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
        QCOMPARE(spoiler >= 0 ? snapshot(path) : snapshot(dir.path()), before);
    }

    // ------------------------------------------------------------------
    // The program itself, its boxes answered in an X server.

    void secondProgramInTheFolderEndsAndLeavesTheRegister()
    {
        if (!haveXServer())
            QSKIP("needs an X server and xdotool (CTest runs this under xvfb-run)");
        QTemporaryDir dir;
        const QString folder = makeRegister(dir);
        const QString dataFile = folder + QStringLiteral("/Baza.xml");
        const QString lockFile = folder + QLatin1Char('/') + RegisterLock::fileName();
        const QByteArray before = testsupport::readFile(dataFile);

        Program first(folder, dir.path());
        QVERIFY(first.started());
        const QByteArray greeting = first.window(Greeting);
        QVERIFY2(!greeting.isEmpty(), qPrintable(describeScreen()));
        Program::press(greeting, "Return");
        const QByteArray main = first.window(MainTitle);
        QVERIFY2(!main.isEmpty(), qPrintable(describeScreen()));
        QCOMPARE(lockOwner(lockFile), first.pid());

        Program second(folder, dir.path());
        QVERIFY(second.started());
        const QByteArray refusal = second.window(Refusal);
        QVERIFY2(!refusal.isEmpty(), qPrintable(describeScreen() + second.output()));
        // Nothing of the register is touched while the refusal waits.
        QCOMPARE(testsupport::readFile(dataFile), before);
        Program::press(refusal, "Return");
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(testsupport::readFile(dataFile), before);
        QCOMPARE(lockOwner(lockFile), first.pid());

        // The first carries on, and gives the register up when it ends.
        Program::click(main, exitButtonCentre());
        QCOMPARE(first.exitCode(), 0);
        QVERIFY(!QFile::exists(lockFile));
        QCOMPARE(names(dataFile), registerNames());

        Program third(folder, dir.path());
        QVERIFY(third.started());
        QVERIFY2(!third.window(Greeting).isEmpty(), qPrintable(describeScreen() + third.output()));
    }

    void crashedProgramDoesNotBlockTheNext()
    {
        if (!haveXServer())
            QSKIP("needs an X server and xdotool (CTest runs this under xvfb-run)");
        QTemporaryDir dir;
        const QString folder = makeRegister(dir);
        const QString lockFile = folder + QLatin1Char('/') + RegisterLock::fileName();

        qint64 crashedPid = 0;
        {
            Program crashed(folder, dir.path());
            QVERIFY(crashed.started());
            QVERIFY2(!crashed.window(Greeting).isEmpty(),
                qPrintable(describeScreen() + crashed.output()));
            crashedPid = crashed.pid();
            crashed.crash();
        }
        QCOMPARE(lockOwner(lockFile), crashedPid);

        Program next(folder, dir.path());
        QVERIFY(next.started());
        const QByteArray greeting = next.window(Greeting);
        QVERIFY2(!greeting.isEmpty(), qPrintable(describeScreen() + next.output()));
        QCOMPARE(lockOwner(lockFile), next.pid());
        Program::press(greeting, "Return");
        const QByteArray main = next.window(MainTitle);
        QVERIFY2(!main.isEmpty(), qPrintable(describeScreen()));
        Program::click(main, exitButtonCentre());
        QCOMPARE(next.exitCode(), 0);
        QVERIFY(!QFile::exists(lockFile));
        QCOMPARE(names(folder + QStringLiteral("/Baza.xml")), registerNames());
    }

    // Without the lock the program says why before its greeting, and goes
    // on; what it cannot save it says so, and loses no file.
    void programWithoutTheLockSaysSoAndGoesOn_data()
    {
        QTest::addColumn<int>("spoiler");
        QTest::addColumn<bool>("saves");
        QTest::newRow("a folder at the lock's path") << int(LockSpoiler::Folder) << true;
        QTest::newRow("a link leading nowhere at the lock's path")
            << int(LockSpoiler::BrokenLink) << true;
        QTest::newRow("read-only folder") << int(LockSpoiler::ReadOnlyFolder) << false;
        QTest::newRow("full disk") << int(LockSpoiler::FullDisk) << false;
    }

    void programWithoutTheLockSaysSoAndGoesOn()
    {
        QFETCH(int, spoiler);
        QFETCH(bool, saves);
        if (!haveXServer())
            QSKIP("needs an X server and xdotool (CTest runs this under xvfb-run)");
        QTemporaryDir dir;
        const QString folder = makeRegister(dir);
        std::unique_ptr<ScratchDisk> disk;
        if (!spoilLock(folder, LockSpoiler(spoiler), disk))
            QSKIP("a read-only or full file system needs the superuser (mount)");
        const QMap<QString, QByteArray> before = snapshot(folder);
        {
            Program program(folder, dir.path());
            QVERIFY(program.started());
            const QByteArray notice = program.window(Notice);
            QVERIFY2(!notice.isEmpty(), qPrintable(describeScreen() + program.output()));
            QVERIFY(!program.titles().contains(Greeting));
            Program::press(notice, "Return");
            const QByteArray greeting = program.window(Greeting);
            QVERIFY2(!greeting.isEmpty(), qPrintable(describeScreen() + program.output()));
            Program::press(greeting, "Return");
            const QByteArray main = program.window(MainTitle);
            QVERIFY2(!main.isEmpty(), qPrintable(describeScreen()));
            Program::click(main, exitButtonCentre());
            if (!saves) {
                const QByteArray error = program.window(Refusal);
                QVERIFY2(!error.isEmpty(), qPrintable(describeScreen()));
                Program::press(error, "Return");
                // "Podaci nisu spremljeni. Zatvoriti program bez spremanja?"
                const QByteArray question = program.windowAfter(Warning, notice);
                QVERIFY2(!question.isEmpty(), qPrintable(describeScreen()));
                Program::answerYes(question);
            }
            QCOMPARE(program.exitCode(), 0);
        }
        QCOMPARE(snapshot(folder), before);
        QCOMPARE(names(folder + QStringLiteral("/Baza.xml")), registerNames());
    }

    // Two copies in one folder that no lock keeps apart: the one that
    // closes second finds the first one's file and does not write over it.
    void twoCopiesWithoutTheLockKeepEachOthersEntries()
    {
        if (!haveXServer())
            QSKIP("needs an X server and xdotool (CTest runs this under xvfb-run)");
        QTemporaryDir dir;
        const QString folder = makeRegister(dir);
        const QString dataFile = folder + QStringLiteral("/Baza.xml");
        std::unique_ptr<ScratchDisk> none;
        QVERIFY(spoilLock(folder, LockSpoiler::Folder, none));

        auto startUnlocked = [&](Program &program) -> QByteArray {
            if (!program.started())
                return {};
            const QByteArray notice = program.window(Notice);
            if (notice.isEmpty())
                return {};
            Program::press(notice, "Return");
            const QByteArray greeting = program.window(Greeting);
            if (greeting.isEmpty())
                return {};
            Program::press(greeting, "Return");
            return program.window(MainTitle);
        };
        Program first(folder, dir.path());
        const QByteArray firstMain = startUnlocked(first);
        QVERIFY2(!firstMain.isEmpty(), qPrintable(describeScreen() + first.output()));
        Program second(folder, dir.path());
        const QByteArray secondMain = startUnlocked(second);
        QVERIFY2(!secondMain.isEmpty(), qPrintable(describeScreen() + second.output()));

        // The first copy changes an entry and closes: its save is the register.
        Program::click(firstMain, centreOf("DBEditNaziv"));
        Program::type(firstMain, "Novi");
        Program::click(firstMain, exitButtonCentre());
        QCOMPARE(first.exitCode(), 0);
        const QByteArray saved = testsupport::readFile(dataFile);
        const QStringList savedNames = names(dataFile);
        QCOMPARE(savedNames.size(), 2);
        QVERIFY2(savedNames[1].contains(QStringLiteral("Novi")), qPrintable(savedNames.join(u',')));

        // The second asks, No by default, then is closed without saving.
        Program::click(secondMain, exitButtonCentre());
        const QByteArray question = second.window(Warning);
        QVERIFY2(!question.isEmpty(), qPrintable(describeScreen()));
        Program::press(question, "Return");
        const QByteArray close = second.windowAfter(Warning, question);
        QVERIFY2(!close.isEmpty(), qPrintable(describeScreen()));
        Program::answerYes(close);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(testsupport::readFile(dataFile), saved);
    }

    // The register changed behind the program's back: Izlaz asks before
    // writing over it, No keeps every file, and the window can stay.
    void changedRegisterIsNotWrittenOverOnClose_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("a larger register moved over it") << QStringLiteral("moved over");
        QTest::newRow("folder renamed, a new one with a register")
            << QStringLiteral("new folder, register");
        QTest::newRow("folder renamed, a new empty one") << QStringLiteral("new folder, empty");
    }

    void changedRegisterIsNotWrittenOverOnClose()
    {
        QFETCH(QString, change);
        if (!haveXServer())
            QSKIP("needs an X server and xdotool (CTest runs this under xvfb-run)");
        QTemporaryDir dir;
        const QString folder = makeRegister(dir);
        const QString dataFile = folder + QStringLiteral("/Baza.xml");
        const QByteArray ours = testsupport::readFile(dataFile);
        const QString renamed = folder + QStringLiteral("-staro");

        Program program(folder, dir.path());
        QVERIFY(program.started());
        const QByteArray greeting = program.window(Greeting);
        QVERIFY2(!greeting.isEmpty(), qPrintable(describeScreen() + program.output()));
        Program::press(greeting, "Return");
        const QByteArray main = program.window(MainTitle);
        QVERIFY2(!main.isEmpty(), qPrintable(describeScreen()));

        std::vector<store::Record> rows(change == QStringLiteral("moved over") ? 250 : 3);
        for (size_t i = 0; i < rows.size(); ++i)
            rows[i].setText(store::fieldIndex(u"Naziv"), QStringLiteral("Tuđi %1").arg(i));
        if (change == QStringLiteral("moved over")) {
            store::saveDataPacketFile(folder + QStringLiteral("/drugi.xml"), rows);
            QVERIFY(::rename(QFile::encodeName(folder + QStringLiteral("/drugi.xml")).constData(),
                        QFile::encodeName(dataFile).constData())
                == 0);
        } else {
            QVERIFY(QDir().rename(folder, renamed));
            QVERIFY(QDir().mkdir(folder));
            if (change == QStringLiteral("new folder, register"))
                store::saveDataPacketFile(dataFile, rows);
        }
        const auto before = filesBesideTheLock(folder);

        // No, the default, then No to closing without saving: the window stays.
        Program::click(main, exitButtonCentre());
        const QByteArray question = program.window(Warning);
        QVERIFY2(!question.isEmpty(), qPrintable(describeScreen()));
        Program::press(question, "Return");
        const QByteArray close = program.windowAfter(Warning, question);
        QVERIFY2(!close.isEmpty(), qPrintable(describeScreen()));
        Program::press(close, "Escape");
        QTest::qWait(500);
        QVERIFY(program.running());
        QCOMPARE(program.titles(), QStringList { MainTitle });
        QCOMPARE(filesBesideTheLock(folder), before);

        // Asked again; closing without saving leaves every file as it was.
        Program::click(main, exitButtonCentre());
        const QByteArray again = program.windowAfter(Warning, close);
        QVERIFY2(!again.isEmpty(), qPrintable(describeScreen()));
        Program::press(again, "Return");
        const QByteArray closeAgain = program.windowAfter(Warning, again);
        QVERIFY2(!closeAgain.isEmpty(), qPrintable(describeScreen()));
        Program::answerYes(closeAgain);
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(filesBesideTheLock(folder), before);
        if (change != QStringLiteral("moved over")) {
            QCOMPARE(testsupport::readFile(renamed + QStringLiteral("/Baza.xml")), ours);
            QDir(renamed).removeRecursively();
        }
    }

    // Ended by a signal, nobody can be asked: the other program's file stays,
    // and the register is kept beside it, readable by its owner only.
    void changedRegisterIsKeptBesideWhenEndedBySignal()
    {
        if (!haveXServer())
            QSKIP("needs an X server and xdotool (CTest runs this under xvfb-run)");
        QTemporaryDir dir;
        const QString folder = makeRegister(dir);
        const QString dataFile = folder + QStringLiteral("/Baza.xml");

        Program program(folder, dir.path());
        QVERIFY(program.started());
        const QByteArray greeting = program.window(Greeting);
        QVERIFY2(!greeting.isEmpty(), qPrintable(describeScreen() + program.output()));
        Program::press(greeting, "Return");
        QVERIFY2(!program.window(MainTitle).isEmpty(), qPrintable(describeScreen()));

        std::vector<store::Record> rows(250);
        for (size_t i = 0; i < rows.size(); ++i)
            rows[i].setText(store::fieldIndex(u"Naziv"), QStringLiteral("Tuđi %1").arg(i));
        store::saveDataPacketFile(folder + QStringLiteral("/drugi.xml"), rows);
        QVERIFY(::rename(QFile::encodeName(folder + QStringLiteral("/drugi.xml")).constData(),
                    QFile::encodeName(dataFile).constData())
            == 0);
        const QByteArray foreign = testsupport::readFile(dataFile);

        program.terminate();
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(testsupport::readFile(dataFile), foreign);
        const QStringList beside
            = QDir(folder).entryList({ QStringLiteral("Baza.xml.*") }, QDir::Files | QDir::Hidden);
        QCOMPARE(beside.size(), 1);
        QVERIFY2(QRegularExpression(QStringLiteral("^Baza\\.xml\\.\\d{8}-\\d{6}$"))
                     .match(beside[0])
                     .hasMatch(),
            qPrintable(beside[0]));
        const QString kept = folder + QLatin1Char('/') + beside[0];
        QCOMPARE(names(kept), registerNames());
        struct stat st
        {
        };
        QCOMPARE(::stat(QFile::encodeName(kept).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);
        QVERIFY2(
            program.output().contains(QStringLiteral("is kept; the register is saved beside it")),
            qPrintable(program.output()));
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
        writeLockFile(
            lockFile, endedProcessId(), QStringLiteral("lijekovi"), QSysInfo::machineHostName());
        QCOMPARE(::chown(QFile::encodeName(lockFile).constData(), bob, group), 0);
        QCOMPARE(::chmod(QFile::encodeName(lockFile).constData(), 0644), 0);
        run = aliceTries();
        QCOMPARE(run.output.trimmed(), locked);
        QVERIFY(!QFile::exists(lockFile));

        // The same file, its process alive (this test, another user's to
        // Alice): refused, and left as it is.
        writeLockFile(lockFile, QCoreApplication::applicationPid(), QStringLiteral("lijekovi"),
            QSysInfo::machineHostName());
        QCOMPARE(::chown(QFile::encodeName(lockFile).constData(), bob, group), 0);
        QCOMPARE(::chmod(QFile::encodeName(lockFile).constData(), 0644), 0);
        const QByteArray live = testsupport::readFile(lockFile);
        run = aliceTries();
        QCOMPARE(run.output.trimmed(), held);
        QCOMPARE(testsupport::readFile(lockFile), live);
    }

    // A kill or a logout while a box shown before the window waits (the
    // register open in another copy, the lock that cannot be had) ends the
    // program the way that box would: status 0, nothing touched. Old
    // behaviour caught: the signal handlers came after those boxes, and the
    // program died of the signal (status 143).
    void signalAtABoxBeforeTheWindowEndsCleanly_data()
    {
        QTest::addColumn<bool>("heldElsewhere");
        QTest::newRow("\"Registar je već otvoren u drugoj kopiji programa.\"") << true;
        QTest::newRow("the lock cannot be had") << false;
    }

    void signalAtABoxBeforeTheWindowEndsCleanly()
    {
        QFETCH(bool, heldElsewhere);
        if (!haveXServer())
            QSKIP("needs an X server and xdotool (CTest runs this under xvfb-run)");
        QTemporaryDir dir;
        const QString folder = makeRegister(dir);
        std::unique_ptr<Program> holder;
        std::unique_ptr<ScratchDisk> none;
        if (heldElsewhere) {
            holder = std::make_unique<Program>(folder, dir.path());
            QVERIFY(holder->started());
            QVERIFY2(!holder->window(Greeting).isEmpty(), qPrintable(describeScreen()));
        } else {
            QVERIFY(spoilLock(folder, LockSpoiler::Folder, none));
        }
        const QMap<QString, QByteArray> before = snapshot(folder);

        Program program(folder, dir.path());
        QVERIFY(program.started());
        const QByteArray box = program.window(heldElsewhere ? Refusal : Notice);
        QVERIFY2(!box.isEmpty(), qPrintable(describeScreen() + program.output()));
        program.terminate();
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(snapshot(folder), before);
    }

    // At its start the program removes the temporary files that its own
    // killed saves left, and nothing that merely looks like one.
    void startRemovesOnlyItsOwnStaleTemporaryFiles()
    {
        if (!haveXServer())
            QSKIP("needs an X server and xdotool (CTest runs this under xvfb-run)");
        QTemporaryDir dir;
        const QString folder = makeRegister(dir);
        struct Leftover
        {
            const char *name;
            int mode;
            qint64 age; // seconds; negative: written after the start
            bool removed;
        };
        const Leftover leftovers[] = {
            { ".Baza.xml.lijekovi-Ab3x9Q", 0600, 3600, true },
            { ".lijekovi.txt.lijekovi-Cd4y0R", 0600, 3600, true },
            { ".Baza.xml.lijekovi-Ef5z1S", 0644, 3600, false }, // not owner-only
            { ".Baza.xml.lijekovi-Gh6a2T", 0600, -3600, false }, // newer than the program
            { ".Baza.xml.recovery-20261210-143055", 0600, 3600, false }, // not the pattern
        };
        for (const Leftover &l : leftovers) {
            const QString path = folder + QLatin1Char('/') + QLatin1String(l.name);
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(l.name);
            f.close();
            QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode_t(l.mode)), 0);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(
                QDateTime::currentDateTime().addSecs(-l.age), QFileDevice::FileModificationTime));
            f.close();
        }

        Program program(folder, dir.path());
        QVERIFY(program.started());
        const QByteArray greeting = program.window(Greeting);
        QVERIFY2(!greeting.isEmpty(), qPrintable(describeScreen() + program.output()));
        for (const Leftover &l : leftovers) {
            const QString path = folder + QLatin1Char('/') + QLatin1String(l.name);
            QVERIFY2(QFileInfo::exists(path) != l.removed, l.name);
            if (!l.removed)
                QCOMPARE(testsupport::readFile(path), QByteArray(l.name));
        }
        Program::press(greeting, "Return");
        const QByteArray main = program.window(MainTitle);
        QVERIFY2(!main.isEmpty(), qPrintable(describeScreen()));
        Program::click(main, exitButtonCentre());
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(names(folder + QStringLiteral("/Baza.xml")), registerNames());
    }

private:
    static bool haveXServer()
    {
        return !qEnvironmentVariableIsEmpty("DISPLAY")
            && !QStandardPaths::findExecutable("xdotool").isEmpty();
    }

    static QStringList registerNames()
    {
        return { QStringLiteral("Aspirin"), QStringLiteral("Čaj") };
    }

    // A folder holding a register of two entries.
    static QString makeRegister(const QTemporaryDir &dir)
    {
        const QString folder = dir.filePath(QStringLiteral("register"));
        QDir().mkpath(folder);
        std::vector<store::Record> rows(2);
        const int naziv = store::fieldIndex(u"Naziv");
        rows[0].setText(naziv, registerNames()[0]);
        rows[1].setText(naziv, registerNames()[1]);
        store::saveDataPacketFile(folder + QStringLiteral("/Baza.xml"), rows);
        return folder;
    }

    static QStringList names(const QString &dataFile)
    {
        QStringList out;
        for (const store::Record &r : store::loadDataPacketFile(dataFile))
            out << r.text(store::fieldIndex(u"Naziv"));
        return out;
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
            ::pause();
    return 0;
}

int main(int argc, char *argv[])
{
    if (argc == 3
        && (std::strcmp(argv[1], "--try-lock") == 0 || std::strcmp(argv[1], "--hold-lock") == 0)) {
        QCoreApplication app(argc, argv);
        return lockAsAChild(
            QString::fromLocal8Bit(argv[2]), std::strcmp(argv[1], "--hold-lock") == 0);
    }
    QApplication app(argc, argv);
    TestRegisterLock test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_registerlock.moc"

// One program per register: the lock beside Baza.xml, in-process and with
// the real program started twice in one folder.
#include "registerlock.h"
#include "files.h"
#include "unit1.h"

#include "bitbtn.h"
#include "datapacket.h"

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

#include <cerrno>
#include <csignal>
#include <vector>

namespace {


// The process id a lock file names on its first line, or 0.
qint64 lockOwner(const QString &path) { return testsupport::readFile(path).split('\n').value(0).toLongLong(); }

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

// Where a person clicks "Izlaz": its centre in the window as the layout places it.
QPoint exitButtonCentre()
{
    TForm1 form;
    form.layout()->activate();
    return form.BitBtnExit->mapTo(&form, form.BitBtnExit->rect().center());
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
    // hold the lock: it starts unlocked, and the first save reports the folder.
    void folderThatCannotHoldTheLock_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("folder under a regular file") << QStringLiteral("file/register");
        QTest::newRow("folder that does not exist") << QStringLiteral("missing/register");
    }

    void folderThatCannotHoldTheLock()
    {
        QFETCH(QString, folder);
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("file")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();

        RegisterLock lock(dir.filePath(folder));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("not locked")));
        QCOMPARE(lock.acquire(), RegisterLock::Unavailable);
        QVERIFY(lock.permitsStart());
        QVERIFY(!QFileInfo::exists(lock.filePath()));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList { QStringLiteral("file") });
        lock.release();
        QCOMPARE(lock.status(), RegisterLock::Unlocked);
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

QTEST_MAIN(TestRegisterLock)
#include "tst_registerlock.moc"

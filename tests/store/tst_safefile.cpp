// The safe replace on its own: what it refuses, what it keeps of the file it
// replaces, the checks a caller can put around it, and the temporary files
// it leaves when killed and removes at the next start.
#include "store/datapacket.h"
#include "store/exception.h"
#include "store/fileidentity.h"
#include "store/messagetext.h"
#include "store/safefile.h"
#include "tests/support/systemfiles.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<missing>";
    return f.readAll();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size()
        && f.flush();
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
}

using testsupport::fileMode;
using testsupport::setAge;
using testsupport::setFileMode;
using testsupport::stampOf;

QString refusal(const std::function<void()> &f)
{
    try {
        f();
    } catch (const store::Exception &e) {
        return e.message();
    }
    return {};
}

bool isRoot() { return testsupport::isSuperuser(); }

// ------------------------------------------------------ child processes

constexpr char childLoopArg[] = "--replace-in-a-loop";
constexpr char childSaveArg[] = "--save-register";
constexpr char childLoadArg[] = "--load-register";

int childReplaceInALoop(const QString &path)
{
    const QByteArray bytes(8 * 1024 * 1024, 'x');
    QTextStream(stdout) << "ready" << Qt::endl;
    for (;;)
        store::replaceFileContents(path, bytes);
}

// A register of `count` rows named after `who`.
std::vector<store::Record> registerOf(const QString &who, int count)
{
    std::vector<store::Record> rows { size_t(count), store::Record() };
    for (int i = 0; i < count; ++i)
        rows[size_t(i)].setText(store::fieldIndex(u"Naziv"), u"%1 %2"_s.arg(who).arg(i));
    return rows;
}

int childSave(const QString &path, const QString &who)
{
    try {
        store::saveDataPacketFile(path, registerOf(who, 3));
    } catch (const store::Exception &e) {
        QTextStream(stdout) << e.message();
        return 1;
    }
    return 0;
}

int childLoad(const QString &path)
{
    try {
        for (const store::Record &r : store::loadDataPacketFile(path))
            QTextStream(stdout) << r.text(store::fieldIndex(u"Naziv")) << '\n';
    } catch (const store::Exception &e) {
        QTextStream(stdout) << e.message();
        return 1;
    }
    return 0;
}

// This test program again, as another user (numeric ids, no account needed).
struct Run
{
    int exitCode = -1;
    QString output;
};

#ifdef Q_OS_UNIX
QByteArray native(const QString &path) { return QFile::encodeName(path); }

struct stat statOf(const QString &path)
{
    struct stat st
    {
    };
    ::lstat(native(path).constData(), &st);
    return st;
}

Run runAs(uint uid, uint gid, const QList<uint> &groups, const QStringList &args)
{
    QStringList groupList;
    for (uint g : groups)
        groupList << QString::number(g);
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(u"setpriv"_s,
        QStringList { u"--reuid=%1"_s.arg(uid), u"--regid=%1"_s.arg(gid),
            groups.isEmpty() ? u"--clear-groups"_s : u"--groups=%1"_s.arg(groupList.join(u',')),
            QCoreApplication::applicationFilePath() }
            + args);
    Run run;
    if (!p.waitForFinished(60000))
        return run;
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.output = QString::fromUtf8(p.readAll());
    return run;
}
#endif

} // namespace

class TestSafeFile : public QObject
{
    Q_OBJECT

private slots:
    // Something that is not a regular file is never replaced by one, nor
    // opened (a FIFO would wait for a reader).
    void refusesWhatIsNotARegularFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("throughLink");
        QTest::newRow("FIFO") << u"fifo"_s << false;
        QTest::newRow("link to a FIFO") << u"fifo"_s << true;
        QTest::newRow("folder") << u"folder"_s << false;
        QTest::newRow("device node") << u"device"_s << false;
        QTest::newRow("link to a device node") << u"device"_s << true;
    }

    void refusesWhatIsNotARegularFile()
    {
        QFETCH(QString, kind);
        QFETCH(bool, throughLink);
        if (throughLink || kind != u"folder")
            LIJEKOVI_POSIX_ONLY("FIFOs, device nodes and symbolic links");
        QTemporaryDir dir;
        const QString thing = dir.filePath(u"stvar"_s);
        if (kind == u"fifo")
            QVERIFY(testsupport::makeFifo(thing));
        else if (kind == u"folder")
            QVERIFY(QDir().mkdir(thing));
        else if (!testsupport::makeNullDevice(thing))
            QSKIP("making a device node needs the superuser");
        const QString target = throughLink ? dir.filePath(u"izvoz.txt"_s) : thing;
        if (throughLink)
            QVERIFY(QFile::link(thing, target));
        const testsupport::FileStamp before = stampOf(thing);
        const QStringList names = entries(dir.path());

        const QString message = refusal(
            [&] { store::replaceFileContents(target, "podaci", QFileDevice::ReadOwner); });
        QVERIFY2(message.startsWith(
                     u"Datoteka \"%1\" ne može se spremiti: "_s.arg(store::shownPath(target))),
            qPrintable(message));
        const testsupport::FileStamp after = stampOf(thing);
        QCOMPARE(after.inode, before.inode);
        QCOMPARE(after.mode, before.mode);
        QCOMPARE(after.rdev, before.rdev);
        QCOMPARE(entries(dir.path()), names);
        if (throughLink)
            QCOMPARE(QFileInfo(target).symLinkTarget(), thing);
    }

    // A link is followed: the file it leads to is replaced, the link stays.
    void followsALinkToItsFile()
    {
        LIJEKOVI_POSIX_ONLY("symbolic links and a mode for the group");
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(u"pravi"_s));
        const QString file = dir.filePath(u"pravi/Baza.xml"_s);
        QVERIFY(writeFile(file, "staro"));
        QVERIFY(setFileMode(file, 0640));
        const QString link = dir.filePath(u"Baza.xml"_s);
        QVERIFY(QFile::link(u"pravi/Baza.xml"_s, link));

        const store::FileIdentity written = store::replaceFileContents(link, "novo");
        QCOMPARE(QFileInfo(link).symLinkTarget(), file);
        QCOMPARE(readAll(file), QByteArray("novo"));
        QCOMPARE(int(fileMode(file)), 0640);
        QVERIFY(written.sameStateAs(store::identifyFile(file)));
        QCOMPARE(store::replacedFilePath(link), file);
        QCOMPARE(entries(dir.filePath(u"pravi"_s)), QStringList { u"Baza.xml"_s });
    }

    // What a caller can ask of a replace it does not make itself: replace
    // only the file it has seen, or only create.
    void replaceCheck_data()
    {
        QTest::addColumn<QString>("meanwhile"); // what happens after the caller looked
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("written");
        const int replace = store::ReplaceCheck::ReplaceExpected;
        const int create = store::ReplaceCheck::CreateOnly;
        QTest::newRow("unchanged") << u"nothing"_s << replace << true;
        QTest::newRow("renamed over") << u"renamed over"_s << replace << false;
        QTest::newRow("written into") << u"written into"_s << replace << false;
        QTest::newRow("removed") << u"removed"_s << replace << true;
        QTest::newRow("created where none was") << u"created"_s << replace << false;
        QTest::newRow("create, name free") << u"removed"_s << create << true;
        QTest::newRow("create, name taken") << u"nothing"_s << create << false;
        QTest::newRow("create, name taken meanwhile") << u"created"_s << create << false;
        QTest::newRow("create, a link at the name") << u"linked"_s << create << false;
    }

    void replaceCheck()
    {
        QFETCH(QString, meanwhile);
        QFETCH(int, mode);
        QFETCH(bool, written);
        if (meanwhile == u"linked")
            LIJEKOVI_POSIX_ONLY("symbolic links");
        QTemporaryDir dir;
        const QString path = dir.filePath(u"Baza.xml"_s);
        if (meanwhile != u"created")
            QVERIFY(writeFile(path, "prvo"));
        const store::FileIdentity seen = store::identifyFile(path);

        QByteArray other;
        if (meanwhile == u"renamed over" || meanwhile == u"created") {
            other = "drugi program";
            QVERIFY(writeFile(dir.filePath(u"drugo"_s), other));
            QVERIFY(testsupport::renameOver(dir.filePath(u"drugo"_s), path));
        } else if (meanwhile == u"written into") {
            other = "drugo"; // the same size, later
            QTest::qWait(20);
            QVERIFY(writeFile(path, other));
        } else if (meanwhile == u"linked") {
            // A link leading nowhere: following it would create a file elsewhere.
            QVERIFY(QFile::remove(path));
            QVERIFY(QFile::link(dir.filePath(u"drugdje"_s), path));
            other = "<missing>";
        } else if (meanwhile == u"removed") {
            QVERIFY(QFile::remove(path));
        } else {
            other = "prvo";
        }

        store::ReplaceCheck check(path, store::ReplaceCheck::Mode(mode), seen);
        const QString message = refusal(
            [&] { store::replaceFileContents(path, "novi registar", std::nullopt, &check); });
        if (written) {
            QCOMPARE(message, QString());
            QCOMPARE(readAll(path), QByteArray("novi registar"));
            QVERIFY(check.written());
            QVERIFY(check.written()->sameStateAs(store::identifyFile(path)));
            QCOMPARE(check.written()->sha256,
                QCryptographicHash::hash("novi registar", QCryptographicHash::Sha256));
        } else {
            QVERIFY2(message.startsWith(
                         u"Datoteka \"%1\" ne može se spremiti: "_s.arg(store::shownPath(path))),
                qPrintable(message));
            QCOMPARE(readAll(path), other);
            QVERIFY(!check.written());
            QCOMPARE(check.nameTaken(), mode == store::ReplaceCheck::CreateOnly);
        }
        // Nothing else is left, and nothing made where a link leads.
        QCOMPARE(entries(dir.path()), QStringList { u"Baza.xml"_s });
    }

    // A check for one path leaves the saves of every other path alone.
    void replaceCheckIsForItsPathOnly()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"Baza.xml"_s);
        const QString other = dir.filePath(u"izvoz.txt"_s);
        QVERIFY(writeFile(other, "staro"));
        store::ReplaceCheck check(path, store::ReplaceCheck::CreateOnly);
        store::replaceFileContents(other, "novo", std::nullopt, &check);
        QCOMPARE(readAll(other), QByteArray("novo"));
        QVERIFY(!check.written());
    }

    // A save killed before its rename leaves the old file whole, and at
    // most a temporary file of this program's own pattern, readable by its
    // owner only; the next start's sweep removes it.
    void killedSaveLeavesATemporaryFileTheSweepRemoves()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"Baza.xml"_s);
        const QByteArray old = "stari registar";
        QVERIFY(writeFile(path, old));
        QRandomGenerator rng(20261210);
        int leftovers = 0;
        for (int round = 0; round < 20 && leftovers < 3; ++round) {
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(),
                { QString::fromLatin1(childLoopArg), path });
            QVERIFY(child.waitForStarted());
            QVERIFY(child.waitForReadyRead(60000));
            QThread::usleep(rng.bounded(5000, 60000));
            child.kill();
            QVERIFY(child.waitForFinished(60000));

            const QByteArray now = readAll(path);
            QVERIFY(now == old || now == QByteArray(8 * 1024 * 1024, 'x'));
            QStringList names = entries(dir.path());
            names.removeOne(u"Baza.xml"_s);
            QVERIFY2(names.size() <= 1, qPrintable(names.join(u' ')));
            for (const QString &name : names) {
                ++leftovers;
                QVERIFY2(name.startsWith(u".Baza.xml.lijekovi-"_s), qPrintable(name));
                QVERIFY(store::isTemporaryFileName(name));
                QCOMPARE(int(fileMode(dir.filePath(name)) & 0777), 0600);
                QVERIFY(testsupport::ownedByThisUser(dir.filePath(name)));
                // Written before a program starting now: stale to it.
                QVERIFY(setAge(dir.filePath(name), 10));
                QCOMPARE(store::removeStaleTemporaryFiles(dir.path(), store::nowNs()),
                    QStringList { name });
            }
            QCOMPARE(entries(dir.path()), QStringList { u"Baza.xml"_s });
        }
        QVERIFY2(leftovers > 0, "no kill landed within a save");
    }

    // The sweep removes only what can be nothing but a stale leftover of
    // this program's own saves.
    void sweepRemovesOnlyOwnStaleTemporaryFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind"); // file, link, folder, second link
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("foreignOwner");
        QTest::addColumn<int>("age"); // seconds before the program's start; < 0: after it
        QTest::addColumn<bool>("removed");

        const QString own = u".Baza.xml.lijekovi-Ab3x9Q"_s;
        QTest::newRow("own, a killed save's") << own << u"file"_s << 0600 << false << 3600 << true;
        QTest::newRow("own, of an export beside the register")
            << u".lijekovi.txt.lijekovi-Zz0000"_s << u"file"_s << 0600 << false << 3600 << true;
        QTest::newRow("just before the start, within the clock's lag")
            << own << u"file"_s << 0600 << false << 1 << false;
        QTest::newRow("after the start") << own << u"file"_s << 0600 << false << -5 << false;
        QTest::newRow("readable by the group")
            << own << u"file"_s << 0640 << false << 3600 << false;
        QTest::newRow("another user's") << own << u"file"_s << 0600 << true << 3600 << false;
        QTest::newRow("a link of the name") << own << u"link"_s << 0600 << false << 3600 << false;
        QTest::newRow("a folder of the name")
            << own << u"folder"_s << 0700 << false << 3600 << false;
        QTest::newRow("a file with a second name")
            << own << u"second link"_s << 0600 << false << 3600 << false;
        QTest::newRow("the recovery data")
            << u".Baza.xml.recovery"_s << u"file"_s << 0600 << false << 3600 << false;
        QTest::newRow("no leading dot")
            << u"Baza.xml.lijekovi-Ab3x9Q"_s << u"file"_s << 0600 << false << 3600 << false;
        QTest::newRow("five characters")
            << u".Baza.xml.lijekovi-Ab3x9"_s << u"file"_s << 0600 << false << 3600 << false;
        QTest::newRow("something after the pattern")
            << u".Baza.xml.lijekovi-Ab3x9Q~"_s << u"file"_s << 0600 << false << 3600 << false;
        QTest::newRow("another program's pattern")
            << u".Baza.xml.XXXXXX-Ab3x9Q"_s << u"file"_s << 0600 << false << 3600 << false;
    }

    void sweepRemovesOnlyOwnStaleTemporaryFiles()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(int, mode);
        QFETCH(bool, foreignOwner);
        QFETCH(int, age);
        QFETCH(bool, removed);
        if (foreignOwner && !isRoot())
            QSKIP("giving a file to another user needs the superuser");
        if (kind == u"link")
            LIJEKOVI_POSIX_ONLY("symbolic links");
        if (mode & 077)
            LIJEKOVI_POSIX_ONLY("modes for the group and others");

        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        const QString elsewhere = dir.filePath(u"Baza.xml"_s);
        const QByteArray content = "ostaci spremanja";
        QVERIFY(writeFile(elsewhere, "registar"));
        if (kind == u"file") {
            QVERIFY(writeFile(path, content));
        } else if (kind == u"link") {
            QVERIFY(QFile::link(elsewhere, path));
        } else if (kind == u"folder") {
            QVERIFY(QDir().mkdir(path));
        } else {
            QVERIFY(testsupport::makeHardLink(elsewhere, path));
        }
        if (kind != u"link")
            QVERIFY(setFileMode(path, uint(mode)));
#ifdef Q_OS_UNIX
        if (foreignOwner)
            QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
#endif
        const qint64 started = store::nowNs();
        QVERIFY(setAge(path, age));
        const QStringList before = entries(dir.path());

        const QStringList gone = store::removeStaleTemporaryFiles(dir.path(), started);
        QCOMPARE(gone, removed ? QStringList { name } : QStringList());
        QStringList expected = before;
        if (removed)
            expected.removeOne(name);
        QCOMPARE(entries(dir.path()), expected);
        QCOMPARE(readAll(elsewhere), QByteArray("registar"));
        if (!removed && kind == u"file")
            QCOMPARE(readAll(path), content);
    }

    // A file whose mode keeps its own user from writing it is not replaced,
    // though the folder would let a rename do it: the save says so, and
    // writes nothing. Run as an unprivileged user (the superuser ignores
    // modes). Old behaviour caught: the safe replace renamed over a 0444
    // file and gave the new one the same 0444.
    void readOnlyFileIsNotReplaced_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("0444") << 0444;
        QTest::newRow("0400") << 0400;
        QTest::newRow("0464, the group may write, not the owner") << 0464;
    }

    void readOnlyFileIsNotReplaced()
    {
        QFETCH(int, mode);
        QTemporaryDir dir;
        QVERIFY(setFileMode(dir.path(), 0755));
        const QString folder = dir.filePath(u"moja"_s);
        QVERIFY(QDir().mkdir(folder));
        const QString path = folder + u"/Baza.xml"_s;
        const QByteArray old = store::serializeDataPacket(registerOf(u"Staro"_s, 2));
        QVERIFY(writeFile(path, old));
        QVERIFY(setFileMode(path, uint(mode)));
        Run save;
        if (isRoot()) {
#ifdef Q_OS_UNIX
            constexpr uint user = 61004;
            if (QStandardPaths::findExecutable(u"setpriv"_s).isEmpty())
                QSKIP("the superuser ignores modes, and setpriv to be another user is missing");
            QCOMPARE(::chown(QFile::encodeName(folder).constData(), user, user), 0);
            QCOMPARE(::chown(QFile::encodeName(path).constData(), user, user), 0);
            save = runAs(user, user, {}, { QString::fromLatin1(childSaveArg), path, u"Novo"_s });
#endif
        } else {
            save = Run { childSave(path, u"Novo"_s), QString() };
        }
        QCOMPARE(save.exitCode, 1);
        if (isRoot()) {
            QCOMPARE(save.output,
                u"Datoteka \"%1\" ne može se spremiti: datoteka je samo za čitanje (nema prava "
                "pisanja u nju). Ništa nije zapisano."_s.arg(store::shownPath(path)));
        }
        QCOMPARE(readAll(path), old);
#ifdef Q_OS_UNIX
        QCOMPARE(int(fileMode(path)), mode);
#else
        // Windows holds the owner's write bit alone, as the read-only
        // attribute: the file is still read-only.
        QCOMPARE(fileMode(path) & 0200, 0u);
#endif
        QCOMPARE(entries(folder), QStringList { u"Baza.xml"_s });
    }

    // Every name the system takes can be saved under: the temporary file's
    // longer name is cut short, and still recognised as this program's.
    // Old behaviour caught: a name of 239 bytes or more failed with "File
    // name too long".
    void longNamesAreSaved_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("249 bytes") << QString(245, u'a') + u".txt"_s;
        QTest::newRow("255 bytes, the longest") << QString(251, u'b') + u".txt"_s;
        // Cut between letters, never inside one.
        QTest::newRow("254 bytes of two-byte letters") << QString(125, u'č') + u".txt"_s;
    }

    void longNamesAreSaved()
    {
        QFETCH(QString, name);
        if (testsupport::runsUnderWine())
            QSKIP("Wine names no open file whose path is longer than MAX_PATH "
                  "(GetFinalPathNameByHandleW), as every path here is");
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        store::replaceFileContents(path, "prvi");
        QCOMPARE(readAll(path), QByteArray("prvi"));
        store::replaceFileContents(path, "drugi");
        QCOMPARE(readAll(path), QByteArray("drugi"));
        QCOMPARE(entries(dir.path()), QStringList { name });
        // What a killed save would leave is of the pattern the sweep knows.
        const QString temporary = u"."_s + name.left(200) + u".lijekovi-Ab3x9Q"_s;
        QVERIFY(store::isTemporaryFileName(temporary));
    }

    // A file about to be replaced is first copied beside it when the caller
    // asks: byte for byte, owner-only, under a name nobody else has taken,
    // never written through a link planted at that name.
    void replacedFileIsKeptFirst_data()
    {
        QTest::addColumn<QString>("atTheName"); // what is there already
        QTest::addColumn<QString>("keptAs");
        QTest::newRow("a free name") << QString() << u"Baza.xml.20261210-143055"_s;
        QTest::newRow("a file of that name") << u"file"_s << u"Baza.xml.20261210-143055-2"_s;
        QTest::newRow("a link to another file") << u"link"_s << u"Baza.xml.20261210-143055-2"_s;
        QTest::newRow("a link leading nowhere") << u"dangling"_s << u"Baza.xml.20261210-143055-2"_s;
    }

    void replacedFileIsKeptFirst()
    {
        QFETCH(QString, atTheName);
        QFETCH(QString, keptAs);
        if (atTheName == u"link" || atTheName == u"dangling")
            LIJEKOVI_POSIX_ONLY("symbolic links");
        QTemporaryDir dir;
        const QString path = dir.filePath(u"Baza.xml"_s);
        const QString name = u"Baza.xml.20261210-143055"_s;
        const QString victim = dir.filePath(u"zrtva"_s);
        QVERIFY(writeFile(victim, "netaknuto"));
        if (atTheName == u"file")
            QVERIFY(writeFile(dir.filePath(name), "zauzeto"));
        else if (atTheName == u"link")
            QVERIFY(QFile::link(victim, dir.filePath(name)));
        else if (atTheName == u"dangling")
            QVERIFY(QFile::link(dir.filePath(u"nema"_s), dir.filePath(name)));
        const QByteArray theirs = store::serializeDataPacket(registerOf(u"Tuđi"_s, 5));
        QVERIFY(writeFile(path, theirs));
        QVERIFY(setFileMode(path, 0644));
        const auto before = entries(dir.path());

        {
            store::ReplaceCheck check(
                path, store::ReplaceCheck::ReplaceExpected, store::identifyFile(path));
            check.keepReplacedAs(name);
            store::replaceFileContents(path, "nasi", std::nullopt, &check);
            QCOMPARE(check.keptAs(), dir.filePath(keptAs));
        }
        QCOMPARE(readAll(path), QByteArray("nasi"));
        QCOMPARE(readAll(dir.filePath(keptAs)), theirs);
        QCOMPARE(int(fileMode(dir.filePath(keptAs))), 0600);
        QCOMPARE(readAll(victim), QByteArray("netaknuto"));
        if (atTheName == u"file")
            QCOMPARE(readAll(dir.filePath(name)), QByteArray("zauzeto"));
        else if (!atTheName.isEmpty())
            QVERIFY(QFileInfo(dir.filePath(name)).isSymLink());
        QStringList expected = before;
        if (!expected.contains(keptAs))
            expected << keptAs;
        expected.sort();
        QCOMPARE(entries(dir.path()), expected);

        // No file there: nothing to keep.
        QVERIFY(QFile::remove(path));
        store::ReplaceCheck check(
            path, store::ReplaceCheck::ReplaceExpected, store::FileIdentity());
        check.keepReplacedAs(u"Baza.xml.drugo"_s);
        store::replaceFileContents(path, "novi", std::nullopt, &check);
        QVERIFY(check.keptAs().isEmpty());
        QVERIFY(!QFile::exists(dir.filePath(u"Baza.xml.drugo"_s)));
    }

    // A caller that expects no file has none to follow a link to: a link
    // at the name, leading nowhere, is refused and nothing is made where it
    // leads. Old behaviour caught: the file was created at the link's
    // target.
    void linkIsNotFollowedWhenNoFileIsExpected()
    {
        LIJEKOVI_POSIX_ONLY("symbolic links");
        QTemporaryDir dir;
        const QString path = dir.filePath(u"Baza.xml"_s);
        const QString target = dir.filePath(u"drugdje.xml"_s);
        QVERIFY(QFile::link(target, path));
        store::ReplaceCheck check(
            path, store::ReplaceCheck::ReplaceExpected, store::FileIdentity());
        const QString message
            = refusal([&] { store::replaceFileContents(path, "novi", std::nullopt, &check); });
        QCOMPARE(message,
            u"Datoteka \"%1\" ne može se spremiti: na tom je mjestu simbolička veza, a ne datoteka "
            "koju je program učitao. Ništa nije zapisano."_s.arg(store::shownPath(path)));
        QVERIFY(!QFile::exists(target));
        QCOMPARE(entries(dir.path()), QStringList { u"Baza.xml"_s });
    }

    // An edit in place of the same size whose modification time was put
    // back still shows: the inode's change time cannot be set back.
    void editWithTheTimePutBackChangesTheIdentity()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"Baza.xml"_s);
        QVERIFY(writeFile(path, "Aspirin"));
        QVERIFY(setAge(path, 3600));
        const store::FileIdentity before = store::identifyFile(path);
        QThread::msleep(20);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QCOMPARE(f.write("Brufen!"), 7);
        f.close();
        QVERIFY(testsupport::setModifiedNs(path, before.modified));
        const store::FileIdentity after = store::identifyFile(path);
        QCOMPARE(after.size, before.size);
        QCOMPARE(after.modified, before.modified);
        QVERIFY(!after.sameStateAs(before));
    }

    // Messages show a path as it really is, and the system's reasons in
    // Croatian where the program knows them.
    void messageTexts_data()
    {
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("expected");
        // In the system's own spelling: backslashes on Windows.
        const auto native = [](const QString &path) { return QDir::toNativeSeparators(path); };
        QTest::newRow("plain path")
            << store::shownPath(u"/tmp/lijekovi.txt"_s) << native(u"/tmp/lijekovi.txt"_s);
        QTest::newRow("right-to-left override") << store::shownPath(u"/tmp/racun\u202Etxt.exe"_s)
                                                << native(u"/tmp/racun<U+202E>txt.exe"_s);
        QTest::newRow("isolates and marks") << store::shownPath(u"a\u2066b\u2069c\u200Fd\u061Ce"_s)
                                            << u"a<U+2066>b<U+2069>c<U+200F>d<U+061C>e"_s;
        QTest::newRow("Croatian letters stay")
            << store::shownPath(u"Đurđa Šarić.txt"_s) << u"Đurđa Šarić.txt"_s;
        const auto raw = [](int e) { return QString::fromLocal8Bit(std::strerror(e)); };
        QTest::newRow("no space") << store::systemErrorText(ENOSPC)
                                  << u"na disku nema mjesta (%1)"_s.arg(raw(ENOSPC));
        QTest::newRow("no permission")
            << store::systemErrorText(EACCES) << u"nema prava pristupa (%1)"_s.arg(raw(EACCES));
        QTest::newRow("read-only file system") << store::systemErrorText(
            EROFS) << u"disk ili mapa su samo za čitanje (%1)"_s.arg(raw(EROFS));
        QTest::newRow("not found") << store::systemErrorText(ENOENT)
                                   << u"datoteka ili mapa ne postoji (%1)"_s.arg(raw(ENOENT));
        QTest::newRow("too long") << store::systemErrorText(ENAMETOOLONG)
                                  << u"ime je predugo (%1)"_s.arg(raw(ENAMETOOLONG));
        QTest::newRow("another: the system's text") << store::systemErrorText(EIO) << raw(EIO);
    }

    void messageTexts()
    {
        QFETCH(QString, shown);
        QFETCH(QString, expected);
        QCOMPARE(shown, expected);
    }

    // A count of entries agrees with its number, as Croatian has it: the
    // singular after 1, 21, 31... but not after 11 or 111.
    void entryCountAgreesWithItsNumber_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("expected");
        const QList<int> singular { 1, 21, 31, 41, 51, 61, 71, 81, 91, 101, 121 };
        for (int n = 0; n <= 125; ++n) {
            QTest::addRow("%d", n)
                << n << (singular.contains(n) ? u"%1 zapis"_s : u"%1 zapisa"_s).arg(n);
        }
        QTest::newRow("1001") << 1001 << u"1001 zapis"_s;
        QTest::newRow("10011") << 10011 << u"10011 zapisa"_s;
    }

    void entryCountAgreesWithItsNumber()
    {
        QFETCH(int, count);
        QFETCH(QString, expected);
        QCOMPARE(store::entryCount(count), expected);
    }

    // A register in a folder shared by a group (folder 0775 root:group, file
    // 0660) keeps working for every member, whoever saved last.
    void sharedFolderKeepsTheFileToItsGroup_data()
    {
        QTest::addColumn<uint>("saver");
        QTest::addColumn<QList<uint>>("saverGroups");
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<int>("fileMode");
        QTest::addColumn<uint>("expectedOwner");
        QTest::addColumn<uint>("expectedGroup");
        QTest::addColumn<int>("expectedMode");
        QTest::addColumn<bool>("mayWrite");

        constexpr uint group = 61000;
        constexpr uint alice = 61001;
        constexpr uint bob = 61002;
        constexpr uint stranger = 61003;
        QTest::newRow("a member saves")
            << alice << QList<uint> { group } << 0775 << 0660 << alice << group << 0660 << true;
        QTest::newRow("a member saves a file readable by all")
            << bob << QList<uint> { group } << 0775 << 0664 << bob << group << 0664 << true;
        // Not in the group, it may not write the file: the folder's write
        // permission alone does not let it replace the file.
        QTest::newRow("an outsider saves")
            << stranger << QList<uint>() << 0777 << 0660 << alice << group << 0660 << false;
        QTest::newRow("an outsider saves a file readable by all")
            << stranger << QList<uint>() << 0777 << 0664 << alice << group << 0664 << false;
        // Not in the group, but the file is everybody's to write: it cannot
        // keep the group, and its own group gets no more than everybody else.
        QTest::newRow("an outsider saves a file writable by all")
            << stranger << QList<uint>() << 0777 << 0666 << stranger << stranger << 0666 << true;
        // The superuser may give the file back to its owner.
        QTest::newRow("the superuser saves")
            << 0u << QList<uint>() << 0775 << 0660 << alice << group << 0660 << true;
    }

    void sharedFolderKeepsTheFileToItsGroup()
    {
#ifdef Q_OS_UNIX
        QFETCH(uint, saver);
        QFETCH(QList<uint>, saverGroups);
        QFETCH(int, folderMode);
        QFETCH(int, fileMode);
        QFETCH(uint, expectedOwner);
        QFETCH(uint, expectedGroup);
        QFETCH(int, expectedMode);
        QFETCH(bool, mayWrite);
        if (!isRoot() || QStandardPaths::findExecutable(u"setpriv"_s).isEmpty())
            QSKIP("taking turns as two users needs the superuser and setpriv");

        constexpr uint group = 61000;
        constexpr uint alice = 61001;
        QTemporaryDir dir;
        QCOMPARE(::chmod(native(dir.path()).constData(), 0755), 0);
        const QString folder = dir.filePath(u"zajednicka"_s);
        QVERIFY(QDir().mkdir(folder));
        QCOMPARE(::chown(native(folder).constData(), 0, group), 0);
        QCOMPARE(::chmod(native(folder).constData(), mode_t(folderMode)), 0);
        const QString path = folder + u"/Baza.xml"_s;

        // Alice made the register.
        QVERIFY(writeFile(path, store::serializeDataPacket(registerOf(u"Alice"_s, 2))));
        QCOMPARE(::chown(native(path).constData(), alice, group), 0);
        QCOMPARE(::chmod(native(path).constData(), mode_t(fileMode)), 0);

        const Run save = saver == 0 ? Run { childSave(path, u"Saver"_s), QString() }
                                    : runAs(saver, saver, saverGroups,
                                        { QString::fromLatin1(childSaveArg), path, u"Saver"_s });
        if (!mayWrite) {
            QCOMPARE(save.exitCode, 1);
            QVERIFY2(
                save.output.contains(u"datoteka je samo za čitanje"_s), qPrintable(save.output));
            const struct stat st = statOf(path);
            QCOMPARE(uint(st.st_uid), expectedOwner);
            QCOMPARE(uint(st.st_gid), expectedGroup);
            QCOMPARE(int(st.st_mode & 07777), expectedMode);
            QCOMPARE(readAll(path), store::serializeDataPacket(registerOf(u"Alice"_s, 2)));
            QCOMPARE(entries(folder), QStringList { u"Baza.xml"_s });
            return;
        }
        QVERIFY2(save.exitCode == 0, qPrintable(save.output));
        const struct stat st = statOf(path);
        QCOMPARE(uint(st.st_uid), expectedOwner);
        QCOMPARE(uint(st.st_gid), expectedGroup);
        QCOMPARE(int(st.st_mode & 07777), expectedMode);
        QCOMPARE(entries(folder), QStringList { u"Baza.xml"_s });

        // Whoever is in the group still reads it, and saves in turn.
        const bool groupKeeps = expectedGroup == group;
        const Run aliceLoads
            = runAs(alice, alice, { group }, { QString::fromLatin1(childLoadArg), path });
        const bool aliceMayRead = groupKeeps || expectedOwner == alice || (expectedMode & 04);
        QCOMPARE(aliceLoads.exitCode, aliceMayRead ? 0 : 1);
        if (aliceLoads.exitCode == 0) {
            QCOMPARE(aliceLoads.output, u"Saver 0\nSaver 1\nSaver 2\n"_s);
            const Run aliceSaves = runAs(
                alice, alice, { group }, { QString::fromLatin1(childSaveArg), path, u"Alice"_s });
            QVERIFY2(aliceSaves.exitCode == 0, qPrintable(aliceSaves.output));
            if (groupKeeps) {
                QCOMPARE(uint(statOf(path).st_gid), group);
                const Run bobLoads
                    = runAs(61002, 61002, { group }, { QString::fromLatin1(childLoadArg), path });
                QCOMPARE(bobLoads.exitCode, 0);
                QCOMPARE(bobLoads.output, u"Alice 0\nAlice 1\nAlice 2\n"_s);
            }
        } else {
            // Refused, not lost: the saver's register is there whole.
            QVERIFY2(aliceLoads.output.contains(path), qPrintable(aliceLoads.output));
            QCOMPARE(store::loadDataPacketFile(path).size(), size_t(3));
        }
#else
        QSKIP("needs other users, groups and modes, through setpriv (POSIX only)");
#endif
    }
};

int main(int argc, char *argv[])
{
    if (argc == 3 && std::strcmp(argv[1], childLoopArg) == 0)
        return childReplaceInALoop(QString::fromLocal8Bit(argv[2]));
    if (argc == 4 && std::strcmp(argv[1], childSaveArg) == 0)
        return childSave(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    if (argc == 3 && std::strcmp(argv[1], childLoadArg) == 0)
        return childLoad(QString::fromLocal8Bit(argv[2]));

    QCoreApplication app(argc, argv);
    TestSafeFile test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_safefile.moc"

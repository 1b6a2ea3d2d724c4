// What the store asks of the system, held to the promises its callers rely
// on: an exclusive create or rename never takes a name that is there (a
// dangling link included), a read without links neither follows one nor
// waits on a FIFO, identities tell the link from its target, and every
// failure comes back as a code with the system's reason to show.
#include "store/platform.h"
#include "tests/support/systemfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;
using namespace store;
using platform::Error;
using platform::Links;

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
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// What a name in the test's folder is to start with.
enum class Kind { Nothing, File, LinkToFile, DanglingLink, Fifo };

// Puts a `kind` at `path`; a link's target is `path` + ".target".
bool make(Kind kind, const QString &path)
{
    const QString target = path + u".target"_s;
    switch (kind) {
    case Kind::Nothing:
        return true;
    case Kind::File:
        return writeFile(path, "old");
    case Kind::LinkToFile:
        return writeFile(target, "target") && QFile::link(target, path);
    case Kind::DanglingLink:
        return QFile::link(target, path);
    case Kind::Fifo:
        return testsupport::makeFifo(path);
    }
    return false;
}

// Links any user may make and FIFOs: a POSIX system's.
bool posixOnly(Kind kind)
{
    return kind == Kind::LinkToFile || kind == Kind::DanglingLink || kind == Kind::Fifo;
}

} // namespace

Q_DECLARE_METATYPE(Kind)
Q_DECLARE_METATYPE(Error::Code)
Q_DECLARE_METATYPE(Links)
Q_DECLARE_METATYPE(FileIdentity::Type)

class TstPlatform : public QObject
{
    Q_OBJECT

private slots:
    void createNewTakesOnlyAFreeName_data();
    void createNewTakesOnlyAFreeName();
    void openForReading_data();
    void openForReading();
    void renames_data();
    void renames();
    void identifyTellsTheLinkFromItsTarget();
    void followLinks_data();
    void followLinks();
    void writeReadAndClose();
    void folderNamesAndRemove();
    void lockIsExclusiveBetweenOpens();
    void shareWithFolderGroup_data();
    void shareWithFolderGroup();
    void processRuns();
};

void TstPlatform::createNewTakesOnlyAFreeName_data()
{
    QTest::addColumn<Kind>("there");
    QTest::addColumn<bool>("inFolder");
    QTest::addColumn<Error::Code>("expected");
    for (const bool inFolder : { false, true }) {
        const char *how = inFolder ? "in folder" : "by path";
        QTest::addRow("free name, %s", how) << Kind::Nothing << inFolder << Error::None;
        QTest::addRow("file, %s", how) << Kind::File << inFolder << Error::Exists;
        QTest::addRow("link to a file, %s", how) << Kind::LinkToFile << inFolder << Error::Exists;
        QTest::addRow("dangling link, %s", how) << Kind::DanglingLink << inFolder << Error::Exists;
    }
}

void TstPlatform::createNewTakesOnlyAFreeName()
{
    QFETCH(Kind, there);
    QFETCH(bool, inFolder);
    QFETCH(Error::Code, expected);
    if (posixOnly(there))
        LIJEKOVI_POSIX_ONLY("symbolic links and FIFOs");
    QTemporaryDir dir;
    const QString path = dir.filePath(u"name"_s);
    QVERIFY(make(there, path));
    const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::System);

    Error error;
    const platform::Folder folder = platform::Folder::open(dir.path(), &error);
    QVERIFY(folder.isOpen());
    platform::File file
        = inFolder ? folder.createNew(u"name"_s, &error) : platform::File::createNew(path, &error);
    QCOMPARE(error.code, expected);
    QCOMPARE(file.isOpen(), expected == Error::None);
    if (expected != Error::None) {
        QVERIFY(!error.message.isEmpty());
        // Nothing made: not the name, not a link's target.
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::System), before);
        if (there == Kind::File)
            QCOMPARE(readAll(path), QByteArray("old"));
        return;
    }
    const FileIdentity made = file.identity();
    QVERIFY(made.regular);
    QVERIFY(made.ownedByUser);
    QCOMPARE(made.permissions, 0600u);
    QVERIFY(made.ownerOnly());
    QVERIFY(made.sameFileAs(platform::identify(path, Links::DontFollow)));
}

void TstPlatform::openForReading_data()
{
    QTest::addColumn<Kind>("there");
    QTest::addColumn<Links>("links");
    QTest::addColumn<bool>("inFolder");
    QTest::addColumn<Error::Code>("expected");
    QTest::addColumn<FileIdentity::Type>("type");
    QTest::addColumn<QByteArray>("content");

    for (const bool inFolder : { false, true }) {
        const char *how = inFolder ? "in folder" : "by path";
        QTest::addRow("file, %s", how) << Kind::File << Links::DontFollow << inFolder << Error::None
                                       << FileIdentity::Regular << QByteArray("old");
        QTest::addRow("link, %s", how) << Kind::LinkToFile << Links::DontFollow << inFolder
                                       << Error::IsLink << FileIdentity::Missing << QByteArray();
        // Opened without waiting for a writer: the caller sees what it is.
        QTest::addRow("FIFO, %s", how) << Kind::Fifo << Links::DontFollow << inFolder << Error::None
                                       << FileIdentity::Fifo << QByteArray();
        QTest::addRow("nothing, %s", how) << Kind::Nothing << Links::DontFollow << inFolder
                                          << Error::Other << FileIdentity::Missing << QByteArray();
    }
    QTest::addRow("link followed") << Kind::LinkToFile << Links::Follow << false << Error::None
                                   << FileIdentity::Regular << QByteArray("target");
}

void TstPlatform::openForReading()
{
    QFETCH(Kind, there);
    QFETCH(Links, links);
    QFETCH(bool, inFolder);
    QFETCH(Error::Code, expected);
    QFETCH(FileIdentity::Type, type);
    QFETCH(QByteArray, content);
    if (posixOnly(there))
        LIJEKOVI_POSIX_ONLY("symbolic links and FIFOs");
    QTemporaryDir dir;
    const QString path = dir.filePath(u"name"_s);
    QVERIFY(make(there, path));

    Error error;
    const platform::Folder folder = platform::Folder::open(dir.path(), &error);
    platform::File file = inFolder ? folder.openForReading(u"name"_s, &error)
                                   : platform::File::openForReading(path, &error, links);
    QCOMPARE(error.code, expected);
    QCOMPARE(file.isOpen(), expected == Error::None);
    if (!file.isOpen()) {
        QVERIFY(!error.message.isEmpty());
        return;
    }
    QCOMPARE(file.identity().type, type);
    if (type != FileIdentity::Regular)
        return;
    char buffer[64];
    const qint64 n = file.read(buffer, sizeof buffer, &error);
    QCOMPARE(QByteArray(buffer, int(n)), content);
}

void TstPlatform::renames_data()
{
    QTest::addColumn<Kind>("there");
    QTest::addColumn<bool>("replace");
    QTest::addColumn<bool>("inFolder");
    QTest::addColumn<Error::Code>("expected");
    for (const bool inFolder : { false, true }) {
        const char *how = inFolder ? "in folder" : "by path";
        QTest::addRow("no replace, free, %s", how)
            << Kind::Nothing << false << inFolder << Error::None;
        QTest::addRow("no replace, file, %s", how)
            << Kind::File << false << inFolder << Error::Exists;
        QTest::addRow("no replace, dangling link, %s", how)
            << Kind::DanglingLink << false << inFolder << Error::Exists;
        QTest::addRow("replace, free, %s", how) << Kind::Nothing << true << inFolder << Error::None;
        QTest::addRow("replace, file, %s", how) << Kind::File << true << inFolder << Error::None;
        // The link itself goes, the file it led to stays as it was.
        QTest::addRow("replace, link, %s", how)
            << Kind::LinkToFile << true << inFolder << Error::None;
    }
}

void TstPlatform::renames()
{
    QFETCH(Kind, there);
    QFETCH(bool, replace);
    QFETCH(bool, inFolder);
    QFETCH(Error::Code, expected);
    if (posixOnly(there))
        LIJEKOVI_POSIX_ONLY("symbolic links");
    QTemporaryDir dir;
    const QString from = dir.filePath(u"from"_s);
    const QString to = dir.filePath(u"to"_s);
    QVERIFY(writeFile(from, "new"));
    QVERIFY(make(there, to));
    const FileIdentity moved = platform::identify(from);
    const FileIdentity before = platform::identify(to, Links::DontFollow);

    Error error;
    const platform::Folder folder = platform::Folder::open(dir.path(), &error);
    if (inFolder) {
        error = replace ? folder.rename(u"from"_s, u"to"_s)
                        : folder.renameNoReplace(u"from"_s, u"to"_s);
    } else {
        error = replace ? platform::rename(from, to) : platform::renameNoReplace(from, to);
    }
    QCOMPARE(error.code, expected);
    if (expected == Error::None) {
        QVERIFY(!QFileInfo::exists(from));
        QVERIFY(platform::identify(to, Links::DontFollow).sameFileAs(moved));
        QCOMPARE(readAll(to), QByteArray("new"));
    } else {
        QVERIFY(!error.message.isEmpty());
        QCOMPARE(readAll(from), QByteArray("new"));
        QVERIFY(platform::identify(to, Links::DontFollow).sameStateAs(before));
    }
    if (there == Kind::LinkToFile)
        QCOMPARE(readAll(to + u".target"_s), QByteArray("target"));
}

void TstPlatform::identifyTellsTheLinkFromItsTarget()
{
    LIJEKOVI_POSIX_ONLY("symbolic links");
    QTemporaryDir dir;
    const QString link = dir.filePath(u"link"_s);
    QVERIFY(make(Kind::LinkToFile, link));
    const FileIdentity target = platform::identify(link + u".target"_s);
    QVERIFY(target.regular);
    QCOMPARE(target.size, qint64(6));

    const FileIdentity followed = platform::identify(link);
    QVERIFY(followed.sameStateAs(target));
    const FileIdentity itself = platform::identify(link, Links::DontFollow);
    QVERIFY(itself.exists);
    QVERIFY(!itself.regular);
    QCOMPARE(itself.type, FileIdentity::Link);
    QVERIFY(!itself.sameFileAs(target));

    // An open file says what identify() says of its name.
    Error error;
    const platform::File file = platform::File::openForReading(link + u".target"_s, &error);
    QVERIFY(file.identity().sameStateAs(target));
    QCOMPARE(file.identity().links, 1u);

    const FileIdentity missing = platform::identify(dir.filePath(u"none"_s), Links::Follow, &error);
    QVERIFY(!missing.exists);
    QCOMPARE(missing.type, FileIdentity::Missing);
    QVERIFY(error.message.contains(u"ne postoji"_s));
}

void TstPlatform::followLinks_data()
{
    // Links made in the test's folder, "name" -> "target", in this order,
    // and the name whose end is asked for.
    QTest::addColumn<QStringList>("links");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end"); // relative to the folder; empty: an error

    QTest::newRow("no link") << QStringList() << u"file"_s << u"file"_s;
    QTest::newRow("relative") << QStringList { u"a>file"_s } << u"a"_s << u"file"_s;
    QTest::newRow("chain") << QStringList { u"a>b"_s, u"b>sub/c"_s, u"sub/c>../file"_s } << u"a"_s
                           << u"sub/../file"_s;
    QTest::newRow("absolute") << QStringList { u"a>@/file"_s } << u"a"_s << u"file"_s;
    // The last target, though nothing is there: a save creates it.
    QTest::newRow("dangling") << QStringList { u"a>b"_s, u"b>missing"_s } << u"a"_s << u"missing"_s;
    QTest::newRow("loop") << QStringList { u"a>b"_s, u"b>a"_s } << u"a"_s << QString();
    QTest::newRow("self") << QStringList { u"a>a"_s } << u"a"_s << QString();
}

void TstPlatform::followLinks()
{
    QFETCH(QStringList, links);
    QFETCH(QString, start);
    QFETCH(QString, end);
#ifdef Q_OS_UNIX
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(u"sub"_s));
    QVERIFY(writeFile(dir.filePath(u"file"_s), "x"));
    for (const QString &link : links) {
        const QStringList parts = link.split(u'>');
        QString target = parts[1];
        target.replace(u"@"_s, dir.path());
        QVERIFY(::symlink(QFile::encodeName(target).constData(),
                    QFile::encodeName(dir.filePath(parts[0])).constData())
            == 0);
    }
    Error error;
    const QString found = platform::followLinks(dir.filePath(start), &error);
    if (end.isEmpty()) {
        QVERIFY(found.isEmpty());
        QVERIFY(error);
        QVERIFY(!error.message.isEmpty());
    } else {
        QVERIFY2(!error, qPrintable(error.message));
        QCOMPARE(found, dir.filePath(end));
    }
#else
    QSKIP("needs symbolic links any user may make (POSIX only)");
#endif
}

void TstPlatform::writeReadAndClose()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"data"_s);
    // Larger than one read, and not a whole number of pieces.
    QByteArray bytes(3 * 1024 * 1024 + 17, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7 + i / 251);
    Error error;
    platform::File out = platform::File::createNew(path, &error);
    QVERIFY(out.isOpen());
    QVERIFY(!out.write(bytes));
    QVERIFY(!out.write(QByteArrayView()));
    QVERIFY(!out.syncData());
    QVERIFY(!out.sync());
    QCOMPARE(out.identity().size, qint64(bytes.size()));
    QVERIFY(!out.setPermissions(QFileDevice::ReadOwner | QFileDevice::ReadGroup));
#ifdef Q_OS_UNIX
    QCOMPARE(out.identity().permissions, 0440u);
#else
    // Read-only for its owner. Other accounts get what the folder passes on
    // to every file in it, which in the user's own temporary folder is
    // nobody but the system and the administrators.
    QCOMPARE(out.identity().permissions, 0400u);
#endif
    QVERIFY(!out.close());
    QVERIFY(!out.isOpen());
    // A closed file closes nothing, and says so without an error.
    QVERIFY(!out.close());

    platform::File in = platform::File::openForReading(path, &error);
    QByteArray back;
    char piece[100'000];
    qint64 n;
    while ((n = in.read(piece, sizeof piece, &error)) > 0)
        back.append(piece, qsizetype(n));
    QCOMPARE(n, qint64(0));
    QCOMPARE(back.size(), bytes.size());
    QVERIFY(back == bytes);

    // A moved file is open in its new owner only.
    platform::File moved = std::move(in);
    QVERIFY(!in.isOpen());
    QVERIFY(moved.isOpen());
    QCOMPARE(moved.identity().size, qint64(bytes.size()));
}

void TstPlatform::folderNamesAndRemove()
{
    // A dangling link among the names where any user may make one.
#ifdef Q_OS_UNIX
    const bool withLink = true;
#else
    const bool withLink = false;
#endif
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(u"visible"_s), "a"));
    QVERIFY(writeFile(dir.filePath(u".hidden"_s), "b"));
    QVERIFY(writeFile(dir.filePath(u"čćž"_s), "c"));
    if (withLink)
        QVERIFY(make(Kind::DanglingLink, dir.filePath(u"link"_s)));
    Error error;
    const platform::Folder folder = platform::Folder::open(dir.path(), &error);
    QVERIFY(folder.isOpen());
    QStringList names = folder.names();
    names.sort();
    QStringList expected { u".hidden"_s, u"visible"_s, u"čćž"_s };
    if (withLink)
        expected.insert(1, u"link"_s);
    QCOMPARE(names, expected);
    QVERIFY(folder.maxNameBytes() >= 255);
    QVERIFY(!folder.sync());

    QVERIFY(!folder.remove(u"čćž"_s));
    // A link goes itself; what it leads to is not touched.
    if (withLink)
        QVERIFY(!folder.remove(u"link"_s));
    const Error again = folder.remove(u"čćž"_s);
    QCOMPARE(again.code, Error::Other);
    QVERIFY(again.message.contains(u"ne postoji"_s));
    names = folder.names();
    names.sort();
    QCOMPARE(names, (QStringList { u".hidden"_s, u"visible"_s }));

    QVERIFY(!platform::remove(dir.filePath(u"visible"_s)));
    QVERIFY(!QFileInfo::exists(dir.filePath(u"visible"_s)));
    QVERIFY(!platform::syncFolder(dir.path()));
    QVERIFY(platform::syncFolder(dir.filePath(u"gone"_s)));

    const platform::Folder none = platform::Folder::open(dir.filePath(u"gone"_s), &error);
    QVERIFY(!none.isOpen());
    QVERIFY(error.message.contains(u"ne postoji"_s));
}

void TstPlatform::lockIsExclusiveBetweenOpens()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"lock"_s);
    QVERIFY(writeFile(path, "1"));
    Error error;
    platform::File first = platform::File::openForReading(path, &error);
    platform::File second = platform::File::openForReading(path, &error);
    QVERIFY(first.tryLock());
    QVERIFY(!second.tryLock());
    // Given up with its file.
    first = platform::File();
    QVERIFY(second.tryLock());
}

void TstPlatform::shareWithFolderGroup_data()
{
    QTest::addColumn<uint>("folderMode");
    QTest::addColumn<Kind>("there");
    QTest::addColumn<uint>("fileMode"); // what the file at the name (or the link's target) has
    QTest::addColumn<uint>("expected");
    QTest::newRow("group may write the folder") << 0770u << Kind::File << 0600u << 0660u;
    QTest::newRow("group may write, others' rights kept") << 0775u << Kind::File << 0604u << 0664u;
    QTest::newRow("group may only read the folder") << 0750u << Kind::File << 0600u << 0600u;
    QTest::newRow("a link is left alone") << 0770u << Kind::LinkToFile << 0600u << 0600u;
}

void TstPlatform::shareWithFolderGroup()
{
#ifdef Q_OS_UNIX
    QFETCH(uint, folderMode);
    QFETCH(Kind, there);
    QFETCH(uint, fileMode);
    QFETCH(uint, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"lock"_s);
    QVERIFY(make(there, path));
    const QString file = there == Kind::LinkToFile ? path + u".target"_s : path;
    QVERIFY(::chmod(QFile::encodeName(file).constData(), fileMode) == 0);
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), folderMode) == 0);
    platform::shareWithFolderGroup(path);
    QCOMPARE(platform::identify(file).permissions, expected);
#else
    QSKIP("needs modes and groups (POSIX only)");
#endif
}

void TstPlatform::processRuns()
{
    QVERIFY(platform::processRuns(platform::processId()));
    QCOMPARE(platform::processId(), QCoreApplication::applicationPid());
    // A process that has ended and been waited for is gone.
    const qint64 pid = testsupport::endedProcessId();
    QVERIFY(pid != 0);
    QVERIFY(!platform::processRuns(pid));
}

QTEST_GUILESS_MAIN(TstPlatform)
#include "tst_platform.moc"

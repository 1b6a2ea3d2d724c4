#include "store/safefile.h"

#include "store/exception.h"
#include "store/messagetext.h"
#include "store/platform.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>

namespace store {

namespace {

// The name part this program puts into its temporary files' names.
constexpr char ProgramTag[] = "lijekovi-";

[[noreturn]] void fail(const QString &path, const QString &reason)
{
    QString message
        = QStringLiteral("Datoteka \"%1\" ne može se spremiti: %2").arg(shownPath(path), reason);
    if (!message.endsWith(QLatin1Char('.')))
        message += QLatin1Char('.');
    throw Exception(message);
}

QString changedMeanwhile()
{
    return QStringLiteral("datoteku je u međuvremenu promijenio drugi program, pa nije "
                          "zamijenjena. Ništa nije zapisano.");
}

QString nameTaken() { return QStringLiteral("datoteka tog imena već postoji i ne zamjenjuje se."); }

QString readOnly()
{
    return QStringLiteral("datoteka je samo za čitanje (nema prava pisanja u nju). Ništa nije "
                          "zapisano.");
}

QString absolute(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QByteArray hashOf(QByteArrayView bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

using platform::Error;
using platform::Links;

// The file a save of `path` writes: symbolic links followed to their end.
QString followLinks(const QString &path)
{
    Error error;
    const QString target = platform::followLinks(absolute(path), &error);
    if (error)
        fail(path, error.message);
    return target;
}

// The folder a save writes into, open for the whole save: every name in it
// is created, checked and renamed relative to this one folder, so a folder
// renamed or swapped for a link meanwhile does not send a file elsewhere.
platform::Folder openFolder(const QString &path, const QString &folderPath)
{
    Error error;
    platform::Folder folder = platform::Folder::open(folderPath, &error);
    if (!folder.isOpen())
        fail(path, error.message);
    return folder;
}

// `name` cut to at most `bytes` of UTF-8, never inside a sequence.
QString cutName(const QString &name, qsizetype bytes)
{
    const QByteArray encoded = QFile::encodeName(name);
    if (encoded.size() <= bytes)
        return name;
    qsizetype cut = bytes;
    while (cut > 0 && (uchar(encoded[cut]) & 0xC0) == 0x80)
        --cut;
    return QFile::decodeName(encoded.left(cut));
}

// The temporary file until it is renamed: removed, and closed, unless the
// rename took it.
class TemporaryFile
{
public:
    TemporaryFile(const QString &path, const platform::Folder &folder, const QString &name)
        : m_path(path)
        , m_folder(folder)
    {
        // ".<name>.lijekovi-XXXXXX", the name cut short where the whole
        // would be longer than the folder takes: every valid name can be
        // saved, and the pattern still says whose file it is.
        const QString tag = QLatin1Char('.') + QLatin1StringView(ProgramTag);
        const QString stem = QLatin1Char('.')
            + cutName(name, folder.maxNameBytes() - 1 - tag.size() - RandomLength);
        static constexpr char Letters[]
            = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        Error error;
        for (int attempt = 0; attempt < NameTries; ++attempt) {
            QString random(RandomLength, Qt::Uninitialized);
            for (QChar &c : random)
                c = QLatin1Char(
                    Letters[QRandomGenerator::system()->bounded(int(sizeof Letters - 1))]);
            m_name = stem + tag + random;
            // Only ever a file of its own, readable by its owner only while
            // it is written, and never through a link planted at the name.
            m_file = folder.createNew(m_name, &error);
            if (m_file.isOpen() || error.code != Error::Exists)
                break;
        }
        if (!m_file.isOpen())
            fail(m_path, error.message);
    }
    ~TemporaryFile()
    {
        m_file.close();
        if (!m_kept)
            m_folder.remove(m_name);
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    platform::File &file() { return m_file; }
    const QString &name() const { return m_name; }

    void write(QByteArrayView bytes) { check(m_file.write(bytes)); }
    void sync() { check(m_file.syncData()); }

    FileIdentity identity() const
    {
        Error error;
        const FileIdentity id = m_file.identity(&error);
        check(error);
        return id;
    }

    // Some file systems report a failed write only here.
    void close() { check(m_file.close()); }

    // Whether the name still holds the file written: in a folder others
    // may write to, it could have been swapped for another meanwhile.
    bool stillAtItsName(const FileIdentity &written) const
    {
        return m_folder.identify(m_name, Links::DontFollow).sameFileAs(written);
    }

    void keep() { m_kept = true; }

    void check(const Error &error) const
    {
        if (error)
            fail(m_path, error.message);
    }

private:
    static constexpr qsizetype RandomLength = 6;
    QString m_path;
    const platform::Folder &m_folder;
    QString m_name;
    platform::File m_file;
    bool m_kept = false;
};

// Copies the file about to be replaced, `name` in `folder`, to a new file
// beside it: `keepAs`, or with "-2", "-3"... added where that name is
// taken. Only the very file `expected` is copied, and the copy is on disk,
// its name too, before this returns. Returns the copy's path.
QString keepCopy(const QString &path, const platform::Folder &folder, const QString &name,
    const FileIdentity &expected, const QString &keepAs)
{
    const auto check = [&path](const Error &error) {
        if (error)
            fail(path, error.message);
    };
    Error error;
    platform::File in = folder.openForReading(name, &error);
    if (!in.isOpen())
        fail(path, error.message);
    const FileIdentity opened = in.identity(&error);
    check(error);
    if (!opened.sameStateAs(expected))
        fail(path, changedMeanwhile());

    const QString copyFolder = keepAs.left(keepAs.lastIndexOf(QLatin1Char('/')) + 1);
    const QString base = keepAs.mid(copyFolder.size());
    QString copyName;
    platform::File out;
    for (int n = 1; n <= NameTries && !out.isOpen(); ++n) {
        copyName = n == 1 ? base : base + QLatin1Char('-') + QString::number(n);
        out = folder.createNew(copyName, &error);
        if (!out.isOpen() && error.code != Error::Exists)
            fail(path, error.message);
    }
    if (!out.isOpen())
        fail(path,
            QStringLiteral(
                "sva su imena za njezinu kopiju pored nje zauzeta. Ništa nije zapisano."));
    bool done = false;
    const auto closeOut = qScopeGuard([&] {
        out.close();
        if (!done)
            folder.remove(copyName);
    });
    char buffer[1 << 16];
    for (;;) {
        const qint64 n = in.read(buffer, sizeof buffer, &error);
        if (n < 0)
            fail(path, error.message);
        if (n == 0)
            break;
        check(out.write(QByteArrayView(buffer, n)));
    }
    check(out.syncData());
    done = true;
    // The copy's name must be on disk before the rename takes the old name
    // from the file it holds.
    folder.sync();
    return copyFolder + copyName;
}

// Moves the finished file to its name, never over another file.
void linkNew(TemporaryFile &file, const platform::Folder &folder, const QString &path,
    const QString &name, bool *taken)
{
    const Error error = folder.renameNoReplace(file.name(), name);
    if (!error) {
        file.keep();
        return;
    }
    if (error.code == Error::Exists) {
        *taken = true;
        fail(path, nameTaken());
    }
    fail(path, error.message);
}
} // namespace

ReplaceCheck::ReplaceCheck(const QString &path, Mode mode, const FileIdentity &expected)
    : m_path(absolute(path))
    , m_mode(mode)
    , m_expected(expected)
{
}

ReplaceCheck *ReplaceCheck::forPath(const QString &absolutePath)
{
    return m_path == absolutePath ? this : nullptr;
}

QString stampedName(const QString &path, QChar separator, const QDateTime &when, int n)
{
    const QString name = path + separator + when.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    return n == 1 ? name : name + QLatin1Char('-') + QString::number(n);
}

bool isTemporaryFileName(const QString &name)
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\..+\\.%1[A-Za-z0-9]{6}$").arg(QLatin1StringView(ProgramTag)));
    return pattern.match(name).hasMatch();
}

QString replacedFilePath(const QString &path) { return followLinks(path); }

FileIdentity replaceFileContents(const QString &path, QByteArrayView bytes,
    std::optional<QFileDevice::Permissions> newFilePermissions, ReplaceCheck *given)
{
    ReplaceCheck *check = given ? given->forPath(absolute(path)) : nullptr;
    const bool createOnly = check && check->m_mode == ReplaceCheck::CreateOnly;
    // A caller that expects no file there has no file of its own to follow
    // a link to: a link at the name, leading nowhere or to a file nobody
    // loaded, is not written through.
    const bool ownNameOnly = createOnly || (check && !check->m_expected.exists);

    const QString target = ownNameOnly ? absolute(path) : followLinks(path);
    const qsizetype slash = target.lastIndexOf(QLatin1Char('/'));
    const QString name = target.mid(slash + 1);
    const platform::Folder folder
        = openFolder(path, slash > 0 ? target.left(slash) : QStringLiteral("/"));

    const FileIdentity old = folder.identify(name, ownNameOnly ? Links::DontFollow : Links::Follow);
    const bool existed = old.exists;
    if (existed && createOnly) {
        check->m_nameTaken = true;
        fail(path, nameTaken());
    }
    if (existed && old.type == FileIdentity::Link) {
        fail(path,
            QStringLiteral("na tom je mjestu simbolička veza, a ne datoteka koju je program "
                           "učitao. Ništa nije zapisano."));
    }
    if (existed && !old.regular) {
        fail(path,
            old.type == FileIdentity::Folder ? QStringLiteral("na tom se mjestu nalazi mapa.")
                                             : QStringLiteral("to nije obična datoteka."));
    }
    // A rename needs only the folder's permission; a file that its mode
    // keeps from this user's writes is not this user's to replace.
    if (existed) {
        const Error writable = folder.checkWritable(name);
        if (writable.code == Error::Denied)
            fail(path, readOnly());
        if (writable.code == Error::ReadOnlyMedium)
            fail(path, writable.message);
    }

    TemporaryFile file(path, folder, name);
    file.write(bytes);
    file.sync();
    // Only now, so that a save killed while writing leaves a file readable
    // by its owner only, which the next start knows to be its own.
    if (existed && !createOnly)
        file.check(file.file().takeOverAttributes(old));
    else if (newFilePermissions)
        file.check(file.file().setPermissions(*newFilePermissions));
    else
        file.check(file.file().setDefaultPermissions());
    FileIdentity written = file.identity();
    file.close();
    if (!file.stillAtItsName(written))
        fail(path,
            QStringLiteral("privremenu datoteku zamijenio je drugi program. Ništa nije "
                           "zapisano."));

    if (createOnly) {
        linkNew(file, folder, path, name, &check->m_nameTaken);
    } else {
        const FileIdentity there = folder.identify(name, Links::DontFollow);
        const bool present = there.exists;
        if (check && present && !there.sameStateAs(check->m_expected))
            fail(path, changedMeanwhile());
        // Gone meanwhile is fine: nothing is lost by writing there. Made
        // readable by nobody else since the look: refused as at the start.
        if (present && folder.checkWritable(name).code == Error::Denied)
            fail(path, readOnly());
        if (check && present && !check->m_keepAs.isEmpty()) {
            check->m_keptAs = keepCopy(
                path, folder, name, check->m_expected, target.left(slash + 1) + check->m_keepAs);
        }
        file.check(folder.rename(file.name(), name));
        file.keep();
    }
    // Makes the rename itself durable; the file's own data is on disk by
    // now whether or not the folder can be synced.
    folder.sync();
    // A rename moves the file's change time: the identity is the one the
    // file has at its name now.
    const FileIdentity now = folder.identify(name, Links::DontFollow);
    if (now.sameFileAs(written))
        written = now;

    if (check) {
        check->m_written = written;
        check->m_written->sha256 = hashOf(bytes);
    }
    return written;
}

QStringList removeStaleTemporaryFiles(const QString &folderPath, qint64 startedNs)
{
    // A file's time comes from a clock that may lag the program's by a tick.
    const qint64 olderThanNs = startedNs - 2'000'000'000;
    QStringList removed;
    const platform::Folder folder = platform::Folder::open(folderPath, nullptr);
    if (!folder.isOpen())
        return removed;
    const QStringList names = folder.names();
    for (const QString &name : names) {
        if (!isTemporaryFileName(name))
            continue;
        const FileIdentity id = folder.identify(name, Links::DontFollow);
        if (!id.exists || !id.regular || id.links != 1 || !id.ownedByUser || !id.ownerOnly()
            || id.modified >= olderThanNs)
            continue;
        if (!folder.remove(name))
            removed << name;
    }
    return removed;
}

} // namespace store

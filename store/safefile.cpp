#include "safefile.h"

#include "exception.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>


namespace store {

namespace {

[[noreturn]] void fail(const QString &path, const QString &reason)
{
    throw Exception(QStringLiteral("Datoteka \"%1\" ne može se spremiti: %2")
                        .arg(QDir::toNativeSeparators(path), reason));
}

// Gives up the temporary file and says why. Qt sets no error on the device
// after a short write, so `fallback` speaks then.
[[noreturn]] void abandon(QSaveFile &file, const QString &path, const QString &fallback)
{
    QString reason = file.errorString();
    if (file.error() == QFileDevice::NoError || reason.isEmpty())
        reason = fallback;
    file.cancelWriting();
    fail(path, reason);
}

} // namespace

void replaceFileContents(const QString &path, QByteArrayView bytes,
                         std::optional<QFileDevice::Permissions> newFilePermissions)
{
    const bool isNew = !QFileInfo::exists(path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        fail(path, file.errorString());
    if (isNew && newFilePermissions && !file.setPermissions(*newFilePermissions))
        abandon(file, path, QStringLiteral("ne mogu se postaviti prava pristupa."));

    // Qt 6.4's QSaveFile can report success after a short write on a full
    // disk (a large write returns a short count without an error, and the
    // buffer that commit() flushes is not checked), which would replace the
    // old file by a truncated one. So every count is checked here, and the
    // buffer is flushed by hand before the commit.
    const QString diskFull
        = QStringLiteral("Disk je pun ili je dosegnuto ograničenje veličine datoteke.");
    if (!bytes.isEmpty() && file.write(bytes.data(), bytes.size()) != bytes.size())
        abandon(file, path, diskFull);
    if (!file.flush())
        abandon(file, path, diskFull);
    if (!file.commit())
        fail(path, file.errorString());
}

} // namespace store

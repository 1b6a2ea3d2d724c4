#include "safefile.h"

#include "exception.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>

namespace store {

namespace {

[[noreturn]] void fail(const QString &path, const QString &reason)
{
    throw Exception(QStringLiteral("Datoteka \"%1\" nije spremljena: %2")
                        .arg(QDir::toNativeSeparators(path), reason));
}

QString reasonOf(const QSaveFile &file, int savedErrno)
{
    // A short write sets no error on the device; errno still says why.
    if (savedErrno != 0)
        return qt_error_string(savedErrno);
    if (file.error() != QFileDevice::NoError && !file.errorString().isEmpty())
        return file.errorString();
    return qt_error_string(ENOSPC);
}

} // namespace

void replaceFileContents(const QString &path, QByteArrayView bytes,
                         std::optional<QFileDevice::Permissions> newFilePermissions)
{
    const bool existed = QFileInfo::exists(path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        fail(path, file.errorString());
    if (!existed && newFilePermissions && !file.setPermissions(*newFilePermissions)) {
        const QString reason = file.errorString();
        file.cancelWriting();
        fail(path, reason);
    }

    // Qt 6.4's QSaveFile can report success after a short write on a full
    // disk (a large write returns a short count without an error, and the
    // buffer that commit() flushes is not checked), which would replace the
    // old file by a truncated one. So every count is checked here, and the
    // buffer is flushed by hand before the commit.
    errno = 0;
    const qint64 written = bytes.isEmpty() ? 0 : file.write(bytes.data(), bytes.size());
    if (written != bytes.size()) {
        const QString reason = reasonOf(file, written < 0 ? 0 : errno);
        file.cancelWriting();
        fail(path, reason);
    }
    errno = 0;
    if (!file.flush()) {
        const QString reason = reasonOf(file, errno);
        file.cancelWriting();
        fail(path, reason);
    }
    if (!file.commit())
        fail(path, file.errorString());
}

} // namespace store

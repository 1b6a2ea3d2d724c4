#include "store/fileidentity.h"

#include "store/platform.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>

namespace store {

FileIdentity identifyFile(const QString &path) { return platform::identify(path); }

bool stampIsRecent(const FileIdentity &identity, qint64 now)
{
    constexpr qint64 granularity = 2'000'000'000;
    return identity.modified > now - granularity;
}

qint64 nowNs() { return platform::nowNs(); }

QByteArray fileSha256(const QString &path)
{
    // Never opened unless regular: opening a FIFO would wait for a writer.
    if (!identifyFile(path).regular)
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return {};
    return hash.result();
}

} // namespace store

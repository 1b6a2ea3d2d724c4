#include "store/datapacket.h"
#include "store/datapacket_p.h"

#include "store/exception.h"
#include "store/messagetext.h"
#include "store/platform.h"
#include "store/safefile.h"

#include <QFileInfo>

namespace store {

namespace {

QString cannotSave(const QString &path, const QString &reason)
{
    return QStringLiteral("Datoteka \"%1\" ne može se spremiti: %2").arg(shownPath(path), reason);
}

} // namespace

namespace {

std::vector<Record> parse(const QByteArray &bytes, const QString &sourceName, bool giveBackRead)
{
    // The program's own packets by the scan made for them; whatever it does
    // not take, the XML reader accepts or refuses.
    if (auto rows = packet::scanOwnPacket(bytes, sourceName))
        return std::move(*rows);
    return packet::readXml(bytes, sourceName, giveBackRead);
}

} // namespace

std::vector<Record> parseDataPacket(const QByteArray &bytes, const QString &sourceName)
{
    return parse(bytes, sourceName, false);
}

QByteArray serializeDataPacket(const std::vector<Record> &rows)
{
    try {
        return packet::serialize(rows);
    } catch (const packet::UnsavableValue &e) {
        throw Exception(QStringLiteral("Podaci se ne mogu spremiti: %1").arg(e.reason));
    }
}

std::vector<Record> loadDataPacketFile(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        throw Exception(QStringLiteral("Datoteka \"%1\" ne može se otvoriti: %2")
                            .arg(shownPath(path),
                                info.isDir() ? QStringLiteral("to je mapa.")
                                             : QStringLiteral("to nije obična datoteka.")));
    }
    // Opened here, so that the system's reason is known and said in Croatian.
    platform::Error error;
    platform::File file = platform::File::openForReading(path, &error, platform::Links::Follow);
    if (!file.isOpen()) {
        throw Exception(QStringLiteral("Datoteka \"%1\" ne može se otvoriti: %2.")
                            .arg(shownPath(path), error.message));
    }
    const FileIdentity opened = file.identity(&error);
    if (!opened.exists) {
        throw Exception(QStringLiteral("Datoteka \"%1\" ne može se otvoriti: %2.")
                            .arg(shownPath(path), error.message));
    }
    const qint64 size = opened.size;
    auto tooLarge = [&path](qint64 bytes) {
        return Exception(
            QStringLiteral("Datoteka \"%1\" je prevelika (%2 MB, najviše %3 MB) i neće se učitati.")
                .arg(shownPath(path), QString::number(bytes / (1024 * 1024)),
                    QString::number(MaxDataFileSize / (1024 * 1024))));
    };
    if (size > MaxDataFileSize)
        throw tooLarge(size);

    // One byte more than reported, so a file that grew meanwhile is noticed.
    QByteArray bytes(qsizetype(size) + 1, Qt::Uninitialized);
    qsizetype got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (got > MaxDataFileSize)
                throw tooLarge(got);
            bytes.resize(std::min<qsizetype>(got + 1024 * 1024, MaxDataFileSize + 1));
        }
        const qint64 n = file.read(bytes.data() + got, bytes.size() - got, &error);
        if (n < 0) {
            throw Exception(QStringLiteral("Datoteka \"%1\" ne može se pročitati: %2")
                                .arg(shownPath(path), error.message));
        }
        if (n == 0)
            break;
        got += qsizetype(n);
    }
    bytes.truncate(got);
    // Nothing else holds these bytes: the XML reader may give back what it
    // has read.
    return parse(bytes, path, bytes.isDetached());
}

void saveDataPacketFile(const QString &path, const std::vector<Record> &rows, ReplaceCheck *check)
{
    QByteArray bytes;
    try {
        bytes = packet::serialize(rows);
    } catch (const packet::UnsavableValue &e) {
        throw Exception(cannotSave(path, e.reason));
    }

    // The register holds patient data: a new file is readable by its owner
    // only. A replaced file keeps the permissions it had.
    replaceFileContents(path, bytes, QFileDevice::ReadOwner | QFileDevice::WriteOwner, check);
}

} // namespace store

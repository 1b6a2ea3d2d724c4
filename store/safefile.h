#pragma once

#include <QByteArrayView>
#include <QFileDevice>
#include <QString>

#include <optional>

namespace store {

// Replaces `path` whole with `bytes`: the bytes go to a temporary file beside
// it, which is renamed over the old file only once every byte is on disk.
// A crash, a kill or a full disk in between leaves the old file as it was.
// `newFilePermissions` applies when the file does not exist yet; a replaced
// file keeps its own. Throws store::Exception with the system's reason.
void replaceFileContents(const QString &path, QByteArrayView bytes,
                         std::optional<QFileDevice::Permissions> newFilePermissions = std::nullopt);

} // namespace store

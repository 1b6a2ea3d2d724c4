#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

namespace testsupport {

// The bytes of a file, or "<missing>" when it cannot be read, so that a
// comparison with the expected content fails and says why.
QByteArray readFile(const QString &path);

// Every file of a folder, hidden ones too, with its bytes.
QMap<QString, QByteArray> snapshot(const QString &folder);

} // namespace testsupport

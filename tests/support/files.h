#pragma once

#include <QByteArray>
#include <QString>

namespace testsupport {

// The bytes of a file, or "<missing>" when it cannot be read, so that a
// comparison with the expected content fails and says why.
QByteArray readFile(const QString &path);

} // namespace testsupport

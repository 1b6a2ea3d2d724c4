#include "tests/support/files.h"

#include <QFile>

namespace testsupport {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArrayLiteral("<missing>");
    return f.readAll();
}

} // namespace testsupport

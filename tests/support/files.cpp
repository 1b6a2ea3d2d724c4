#include "tests/support/files.h"

#include <QDir>
#include <QFile>

namespace testsupport {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArrayLiteral("<missing>");
    return f.readAll();
}

QMap<QString, QByteArray> snapshot(const QString &folder)
{
    QMap<QString, QByteArray> out;
    const QDir dir(folder);
    for (const QString &name :
        dir.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        out[name] = readFile(dir.filePath(name));
    return out;
}

} // namespace testsupport

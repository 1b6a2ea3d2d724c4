#include "register/registerpaths.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

RegisterPaths::RegisterPaths(const QString &folder)
    : m_folder(folder)
    // Qt's separator, as every other path here: the messages show the
    // system's own.
    , m_dataFile(folder + QLatin1Char('/') + dataFileName())
{
}

QString RegisterPaths::dataFileName() { return QStringLiteral("Baza.xml"); }

QString RegisterPaths::lockFileName() { return QLatin1Char('.') + dataFileName() + u".lock"; }

QString RegisterPaths::recoveryFileName()
{
    return QLatin1Char('.') + dataFileName() + u".recovery";
}

QString RegisterPaths::lockFile() const { return m_folder + QLatin1Char('/') + lockFileName(); }

QString RegisterPaths::recoveryFile() const
{
    // Beside the data file as the user's path names it, links and all.
    return QFileInfo(m_dataFile).absolutePath() + QLatin1Char('/') + recoveryFileName();
}

bool RegisterPaths::isRegisterFileName(const QString &name)
{
    const QString base = dataFileName();
    return isDataFileName(name) || name.startsWith(base + QLatin1Char('.'), Qt::CaseInsensitive)
        || name.startsWith(QLatin1Char('.') + base + QLatin1Char('.'), Qt::CaseInsensitive);
}

bool RegisterPaths::isDataFileName(const QString &name)
{
    return name.compare(dataFileName(), Qt::CaseInsensitive) == 0;
}

QStringList RegisterPaths::registerFileNamePatterns()
{
    const QString base = dataFileName();
    return { base, base + u".*", QLatin1Char('.') + base + u".*" };
}

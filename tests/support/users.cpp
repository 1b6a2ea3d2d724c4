#include "tests/support/users.h"

#include <QCoreApplication>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace testsupport {

bool canActAsOtherUsers()
{
#ifdef Q_OS_UNIX
    return ::geteuid() == 0 && !QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty();
#else
    // Windows has no setpriv and no numeric users to become.
    return false;
#endif
}

QStringList asUser(
    uint uid, uint gid, const QList<uint> &groups, const QString &program, const QStringList &args)
{
    QStringList groupList;
    for (uint g : groups)
        groupList << QString::number(g);
    return QStringList { QStringLiteral("--reuid=%1").arg(uid),
        QStringLiteral("--regid=%1").arg(gid),
        groups.isEmpty() ? QStringLiteral("--clear-groups")
                         : QStringLiteral("--groups=%1").arg(groupList.join(QLatin1Char(','))),
        program }
    + args;
}

Run runAs(uint uid, uint gid, const QList<uint> &groups, const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("setpriv"),
        asUser(uid, gid, groups, QCoreApplication::applicationFilePath(), args));
    Run run;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return run;
    }
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.output = QString::fromUtf8(p.readAll());
    return run;
}

} // namespace testsupport

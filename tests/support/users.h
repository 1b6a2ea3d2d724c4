#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace testsupport {

// Whether this test may run programs as other users: it runs as the
// superuser and setpriv is there. Users are given by numeric ids, so no
// account is needed.
bool canActAsOtherUsers();

// The arguments that start `program` as user `uid` of group `gid`, also
// in `groups` (none: in no other group).
QStringList asUser(
    uint uid, uint gid, const QList<uint> &groups, const QString &program, const QStringList &args);

struct Run
{
    int exitCode = -1; // -1: did not end by itself within a minute
    QString output; // stdout and stderr
};

// Runs `args` of this test program again as another user, and waits.
Run runAs(uint uid, uint gid, const QList<uint> &groups, const QStringList &args);

} // namespace testsupport

#include "bench/machine.h"

#include <QByteArray>
#include <QFile>

#include <sys/resource.h>

// The kernel's ru_maxrss outlives exec: a child forked from the bench starts
// with the bench's own peak and reports it whatever it does. The high-water
// mark in /proc/self/status (VmHWM) is the same measure for this image alone;
// ru_maxrss stands in where there is no /proc.
qint64 peakResidentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
        }
    }
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_maxrss) * 1024; // Linux reports kilobytes
}

QString cpuModel()
{
    QFile cpuinfo(QStringLiteral("/proc/cpuinfo"));
    if (cpuinfo.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : cpuinfo.readAll().split('\n')) {
            if (line.startsWith("model name")) {
                return QString::fromUtf8(line.mid(line.indexOf(':') + 1).trimmed());
            }
        }
    }
    return QStringLiteral("unknown");
}

double memoryGiB()
{
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (meminfo.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : meminfo.readAll().split('\n')) {
            if (line.startsWith("MemTotal:"))
                return line.mid(9).trimmed().split(' ').value(0).toDouble() / (1024 * 1024);
        }
    }
    return 0;
}

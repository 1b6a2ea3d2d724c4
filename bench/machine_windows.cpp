#include "bench/machine.h"

#include <QSettings>

#include <windows.h>

#include <psapi.h>

// The peak working set is what Windows calls the resident high-water mark.
qint64 peakResidentBytes()
{
    PROCESS_MEMORY_COUNTERS counters {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return -1;
    return qint64(counters.PeakWorkingSetSize);
}

QString cpuModel()
{
    const QSettings processor(
        QStringLiteral("HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0"),
        QSettings::NativeFormat);
    const QString name
        = processor.value(QStringLiteral("ProcessorNameString")).toString().trimmed();
    return name.isEmpty() ? QStringLiteral("unknown") : name;
}

double memoryGiB()
{
    MEMORYSTATUSEX status {};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? double(status.ullTotalPhys) / (1024.0 * 1024 * 1024) : 0;
}

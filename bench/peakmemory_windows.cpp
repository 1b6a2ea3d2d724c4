#include "bench/peakmemory.h"

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

#include "benchprobe.h"

#include <windows.h>

#include <psapi.h>

namespace {
qint64 microseconds(const FILETIME &time) // FILETIME counts 100 ns
{
    return ((qint64(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 10;
}
} // namespace

qint64 BenchProbe::processCpuUs()
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    return microseconds(kernel) + microseconds(user);
}

long BenchProbe::maxRssKib()
{
    PROCESS_MEMORY_COUNTERS counters {};
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return long(counters.PeakWorkingSetSize / 1024);
}

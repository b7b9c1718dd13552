// Windows' process information functions, as the standard Prometheus client
// libraries read them: GetProcessTimes for the start and the processor time,
// GetProcessMemoryInfo for the working set.
#include "platform/process_stats.h"

#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <cstdint>

namespace platform {
namespace {

// A FILETIME counts 100-nanosecond intervals.
double seconds(FILETIME time)
{
    const std::uint64_t ticks = (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return static_cast<double>(ticks) / 1e7;
}

// Seconds from 1601-01-01, where FILETIME dates start, to 1970-01-01.
constexpr double unixEpoch = 11644473600.0;

}  // namespace

ProcessStats processStats()
{
    ProcessStats stats;
    FILETIME creation{}, exit{}, kernel{}, user{};
    if (GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user)) {
        stats.startTimeSeconds = seconds(creation) - unixEpoch;
        stats.cpuSeconds = seconds(kernel) + seconds(user);
    }
    PROCESS_MEMORY_COUNTERS memory{};
    if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory))
        stats.residentBytes = static_cast<double>(memory.WorkingSetSize);
    return stats;
}

}  // namespace platform

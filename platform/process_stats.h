// What the system says of sensor-watch's own process, for the process_*
// metrics that operators look for first in every exporter. Read afresh at
// each call: it costs a few small reads.
#pragma once

#include <optional>

namespace platform {

// Each figure is missing where the system does not give it.
struct ProcessStats {
    // When the process started, in Unix seconds.
    std::optional<double> startTimeSeconds;
    // Processor time spent, user and system together, in seconds.
    std::optional<double> cpuSeconds;
    // Resident memory (on Windows the working set), in bytes.
    std::optional<double> residentBytes;
    // Open file descriptors. Windows has none: its handle count also counts
    // threads, events, mutexes and registry keys, so it is left out there.
    std::optional<double> openFds;
};

ProcessStats processStats();

}  // namespace platform

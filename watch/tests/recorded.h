// Readings models for the view tests, made from plain snapshots.
#pragma once

#include "watch/readings.h"

#include <initializer_list>

// The model after recording the snapshots in turn, the last at `at`.
inline watch::Readings recorded(std::initializer_list<watch::Snapshot> snapshots, watch::Moment at = {},
                                bool old = false, bool keepHistory = false)
{
    watch::Readings readings{.keepHistory = keepHistory};
    for (const watch::Snapshot &snapshot : snapshots)
        watch::recordSnapshot(readings, snapshot, at, old);
    return readings;
}

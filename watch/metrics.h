// Renders snapshots in the Prometheus text exposition format (version 0.0.4),
// for the consumer's serve mode. Pure text handling, so the tests drive it
// with plain snapshots.
#pragma once

#include "block_reader.h"

#include <optional>
#include <string>
#include <string_view>

namespace watch {

inline constexpr std::string_view metricsContentType = "text/plain; version=0.0.4; charset=utf-8";

// A snapshot counts as fresh while the block last changed at most this many
// seconds ago; the bridge refreshes it about once a second.
inline constexpr int freshSeconds = 5;

// One gauge sample per reading, sensor_bridge_reading{sensor, label, type,
// index}, under its HELP and TYPE lines. The index tells apart readings of one
// sensor with the same label and type. Sensors without readings give no
// sample. The text is valid UTF-8 whatever bytes the names hold.
std::string renderReadings(const Snapshot &snapshot);

struct SnapshotAge {
    // Unix time at which the served snapshot appeared in the block.
    double timestamp = 0;
    // Seconds since then.
    double seconds = 0;
    // The snapshot was in the block already when the consumer first looked:
    // it appeared at the timestamp or earlier, and is never fresh.
    bool old = false;
};

// Whether the block changed to a new snapshot at most freshSeconds ago: never
// before the first snapshot, nor for an old one.
bool isFresh(const std::optional<SnapshotAge> &age);

// The gauges that tell whether the bridge still publishes: the snapshot's
// timestamp and age, and sensor_bridge_snapshot_fresh. Before the first
// snapshot (no age) only the fresh gauge is given, as 0; an old snapshot is
// given with its age counted from the consumer's first look, and as not fresh.
std::string renderFreshness(const std::optional<SnapshotAge> &age);

}  // namespace watch

// The Prometheus text exposition format (version 0.0.4): a view of the
// readings model for serve mode. Pure text handling, so the tests drive it
// with plain snapshots.
#pragma once

#include "watch/readings.h"

#include <optional>
#include <string>
#include <string_view>

namespace watch {

inline constexpr std::string_view metricsContentType = "text/plain; version=0.0.4; charset=utf-8";

// One gauge sample per reading of the last recorded snapshot,
// sensor_bridge_reading{sensor, label, type, index} by its served name, under
// their HELP and TYPE lines. Sensors without readings give no sample. The
// text is valid UTF-8 whatever bytes the names hold.
std::string renderReadings(const Readings &readings);

// The gauges that tell whether the bridge still publishes: the snapshot's
// timestamp and age, and sensor_bridge_snapshot_fresh. Before the first
// snapshot (no age) only the fresh gauge is given, as 0; an old snapshot is
// given with its age counted from sensor-watch's first look, and as not fresh.
std::string renderFreshness(const std::optional<SnapshotAge> &age);

// sensor_bridge_build_info{version} 1, the constant that fleets' dashboards
// join on to tell which release serves; in every scrape.
std::string renderBuildInfo();

}  // namespace watch

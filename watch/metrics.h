// The Prometheus text exposition format (version 0.0.4): a view of the
// readings model for serve mode. Pure text handling, so the tests drive it
// with plain snapshots.
#pragma once

#include "platform/process_stats.h"
#include "watch/readings.h"

#include <optional>
#include <string>
#include <string_view>

namespace watch {

inline constexpr std::string_view metricsContentType = "text/plain; version=0.0.4; charset=utf-8";

// One gauge sample per reading of the last recorded snapshot, sensor by
// sensor, labelled with its served name's sensor, label and index. With
// `units`, each type has a family of its own in base units, from the vendor
// library's default unit for the type (see metrics.cpp): a clock's MHz as
// hertz, a usage's percentage as a ratio. Without (a library set to other
// units) every reading is in one family as published,
// sensor_bridge_reading{sensor, label, type, index}. The text is valid UTF-8
// whatever bytes the names hold. The format has no unit lines (only
// OpenMetrics has), so the unit is in each name and its HELP.
std::string renderReadings(const Readings &readings, bool units);

// The gauges that tell whether the bridge still publishes: the snapshot's
// timestamp and age, and sensor_bridge_snapshot_fresh. Before the first
// snapshot (no age) only the fresh gauge is given, as 0; an old snapshot is
// given with its age counted from sensor-watch's first look, and as not fresh.
std::string renderFreshness(const std::optional<SnapshotAge> &age);

// sensor_bridge_build_info{version} 1, the constant that fleets' dashboards
// join on to tell which release serves; in every scrape.
std::string renderBuildInfo();

// The standard process metrics (process_start_time_seconds,
// process_cpu_seconds_total, process_resident_memory_bytes, process_open_fds),
// each where the system gave it.
std::string renderProcess(const platform::ProcessStats &stats);

}  // namespace watch

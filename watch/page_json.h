// The JSON documents that feed the dashboard page, written with jsoncpp: views
// of the readings model. Names, labels, types and value texts are valid UTF-8
// by then, so the documents are valid UTF-8 whatever bytes the block holds.
// Pure data handling, so the tests drive it with plain snapshots.
#pragma once

#include "watch/readings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace watch {

inline constexpr std::string_view jsonContentType = "application/json; charset=utf-8";

// The last recorded snapshot grouped by sensor, each reading with its id, its
// value as published and as a number (null when not a finite one), and its
// minimum, maximum and average (null before any finite value):
// {"sequence", "time", "old", "sensors": [{"name", "noReading", "readings":
// [{"id", "label", "type", "value", "number", "min", "max", "average"}]}]}.
// With `withUnits`, each reading also has "shown": {"value", "min", "max",
// "average"}, the texts to show in its type's unit (see units.h; the
// statistics null before any finite value), and the document "units":
// {type: symbol} for every type that has one.
std::string renderSnapshotJson(const Readings &readings, bool withUnits);

// Whether the bridge still publishes: {"sequence", "fresh"} and, once there
// is a snapshot, "age" in seconds and "old".
std::string renderStatusJson(std::uint64_t sequence, const std::optional<SnapshotAge> &age);

// {"sequence", "times": [Unix seconds], "readings": [{"id", "values": [number
// or null]}]}; a reading's values may be fewer than the times, and then end
// with them.
std::string renderHistoryJson(const HistoryExtract &extract);

// {"error": message}, for a request the server cannot answer.
std::string renderErrorJson(std::string_view message);

}  // namespace watch

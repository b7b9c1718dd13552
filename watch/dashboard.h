// The JSON documents that feed the dashboard page, written with jsoncpp.
// Names, labels, types and value texts are made valid UTF-8 first, so the
// documents are valid UTF-8 whatever bytes the block holds. Pure data
// handling, so the tests drive it with plain snapshots.
#pragma once

#include "block_reader.h"
#include "history.h"
#include "metrics.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace watch {

inline constexpr std::string_view jsonContentType = "application/json; charset=utf-8";

// The snapshot grouped by sensor, each reading with its history id, its
// value as published and as a number (null when not a finite one), and its
// minimum, maximum and average (null before any finite value):
// {"sequence", "time", "old", "sensors": [{"name", "noReading", "readings":
// [{"id", "label", "type", "value", "number", "min", "max", "average"}]}]}.
// `history` must hold this snapshot as its latest.
std::string renderSnapshotJson(const Snapshot &snapshot, const History &history, double unixTime, bool old);

// Whether the bridge still publishes: {"sequence", "fresh"} and, once there
// is a snapshot, "age" in seconds and "old".
std::string renderStatusJson(std::uint64_t sequence, const std::optional<SnapshotAge> &age);

// The part of the history that a page asks for, copied out so that it can be
// rendered without holding up whoever records the next snapshot.
struct HistoryExtract {
    std::uint64_t sequence = 0;
    std::vector<double> times;
    // Each reading's id and values, the last aligned with the last time; in
    // the order of the ids.
    std::vector<std::pair<std::uint64_t, std::vector<float>>> readings;
};

// The most values one extract holds: the last two minutes of 2000 readings,
// and a whole history of 250. Rendering more would hold up the server's one
// thread for long, and take far more memory than the history itself.
inline constexpr std::size_t extractLimit = 250'000;

// The last `points` snapshots of the readings with the given ids (of every
// reading when none are given), fewer when that would pass extractLimit.
HistoryExtract extractHistory(const History &history, std::span<const std::uint64_t> ids, std::size_t points);

// {"sequence", "times": [Unix seconds], "readings": [{"id", "values": [number
// or null]}]}; a reading's values may be fewer than the times, and then end
// with them.
std::string renderHistoryJson(const HistoryExtract &extract);

// {"error": message}, for a request the server cannot answer.
std::string renderErrorJson(std::string_view message);

}  // namespace watch

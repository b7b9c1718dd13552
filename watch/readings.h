// The one model of the readings that sensor-watch follows from snapshot to
// snapshot: who each reading is, its statistics, its recent history and how
// fresh the last snapshot is. The table, the metrics and the page's JSON are
// views of it. Pure data handling, so the tests drive it with plain snapshots.
#pragma once

#include "watch/block_reader.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace watch {

// Snapshots kept in the history: sensor-watch takes about one a second, so
// this covers a little over 16 minutes.
inline constexpr std::size_t historyLength = 1000;

// A fixed number of the latest values, oldest first once read out.
template <typename Value> struct Ring {
    std::vector<Value> values;
    // Where the oldest value is once the ring is full.
    std::size_t start = 0;
};

// The minimum, maximum and average of a reading's finite values over the
// snapshots since it appeared.
struct ReadingStatistics {
    double minimum = 0;
    double maximum = 0;
    double sum = 0;
    std::size_t count = 0;
};

// How the metrics name a reading: its sensor name, label and type as served,
// each made well-formed UTF-8, and the index that counts readings with the
// same three apart.
struct ServedName {
    std::string sensor;
    std::string label;
    std::string type;
    std::size_t index = 0;
};

// One reading of the last recorded snapshot and what is known of it.
struct TrackedReading {
    // Where it is in the snapshot: its sensor's place, and its own place
    // among that sensor's readings.
    std::size_t sensor = 0;
    std::size_t reading = 0;

    // A reading has two keys, for two purposes.
    //
    // `key` follows it from snapshot to snapshot, for its statistics and
    // history: the sensor name, label and type as the block holds them, each
    // with its length so that no bytes in a name can make two keys alike, and
    // the index that counts readings of one sensor with the same three apart.
    // Raw bytes, so that readings which differ anywhere stay apart.
    //
    // `served` names it to Prometheus, where only valid UTF-8 can go, so it
    // is counted over the names after repair: two labels that differ only in
    // bytes that both become U+FFFD are one label as served, and only a
    // distinct index keeps their series apart.
    std::string key;
    ServedName served;

    // The published value text as a number (see numberOf).
    double number = 0;
    // Names the reading to the page while it stays in every snapshot; one
    // that comes back after missing from a snapshot gets a new id, and its
    // statistics and history start afresh.
    std::uint64_t id = 0;
    ReadingStatistics statistics;
    // NaN where the value was not a finite number. A float holds the "%f"
    // text to about seven digits, plenty for a chart, at half the memory;
    // the statistics are kept in full precision. Empty without history.
    Ring<float> values;
};

// A published value text as a number: infinite for "inf" and "-inf", NaN
// for every form of NaN and for text that is no number.
double numberOf(std::string_view text);

// A moment on both clocks: the wall clock tells when a snapshot appeared, and
// the steady clock how long ago, so that a change of the wall clock neither
// makes a stopped bridge look fresh nor a running one stale.
struct Moment {
    double unixTime = 0;
    double steadySeconds = 0;
};

Moment momentNow();

struct Readings {
    // Whether to keep each reading's recent values and the times of the
    // snapshots: the page needs them, the table does not, and so never takes
    // their memory.
    bool keepHistory = false;
    // Snapshots recorded so far; tells the page whether anything is new.
    std::uint64_t sequence = 0;
    std::uint64_t nextId = 1;
    // The last recorded snapshot, when it was recorded, and whether it was
    // old: in the block already at the first look, so that nobody knows when
    // it was written.
    Snapshot snapshot{};
    Moment recordedAt{};
    bool old = false;
    // Its readings, sensor by sensor in the snapshot's order.
    std::vector<TrackedReading> readings{};
    // The Unix time of each snapshot in the history, as many as the longest
    // reading's history.
    Ring<double> times{};
};

// Makes the snapshot the last one recorded: carries each reading's id,
// statistics and history over from the snapshot before by its key, and
// forgets the readings that are not in it, so that one that comes back starts
// afresh. Values that are not finite numbers leave the statistics alone.
void recordSnapshot(Readings &readings, Snapshot snapshot, Moment at, bool old);

// The reading of the last recorded snapshot that `tracked` is.
inline const Reading &readingOf(const Readings &readings, const TrackedReading &tracked)
{
    return readings.snapshot.sensors[tracked.sensor].readings[tracked.reading];
}

// The average of the statistics, before any value none.
std::optional<double> average(const ReadingStatistics &statistics);

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
HistoryExtract extractHistory(const Readings &readings, std::span<const std::uint64_t> ids,
                              std::size_t points);

// A snapshot counts as fresh while the block last changed at most this many
// seconds ago; the bridge refreshes it about once a second.
inline constexpr int freshSeconds = 5;

struct SnapshotAge {
    // Unix time at which the last snapshot appeared in the block.
    double timestamp = 0;
    // Seconds since then.
    double seconds = 0;
    // It was old (see Readings::old): it appeared at the timestamp or
    // earlier, and is never fresh.
    bool old = false;
};

// The last recorded snapshot's age at `now`; nothing before the first.
std::optional<SnapshotAge> snapshotAge(const Readings &readings, Moment now);

// Whether the block changed to a new snapshot at most freshSeconds ago: never
// before the first snapshot, nor for an old one.
bool isFresh(const std::optional<SnapshotAge> &age);

}  // namespace watch

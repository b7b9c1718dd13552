// The recent past of every reading, for the dashboard: a bounded ring of
// values per reading beside the statistics the table shows, and the times
// of the snapshots they came from. Pure data handling, so the tests drive it
// with plain snapshots.
#pragma once

#include "block_reader.h"
#include "table.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace watch {

// Snapshots kept: the consumer takes about one a second, so this covers a
// little over 16 minutes.
inline constexpr std::size_t historyLength = 1000;

// A fixed number of the latest values, oldest first once read out.
template <typename Value> struct Ring {
    std::vector<Value> values;
    // Where the oldest value is once the ring is full.
    std::size_t start = 0;
};

struct ReadingHistory {
    // Names the reading to the page while it stays in every snapshot; one that
    // comes back after missing from a snapshot gets a new id, as its history
    // starts afresh.
    std::uint64_t id = 0;
    ReadingStatistics statistics;
    // NaN where the value was not a finite number. A float holds the "%f"
    // text to about seven digits, plenty for a chart, at half the memory;
    // the statistics are kept in full precision.
    Ring<float> values;
};

struct History {
    // Snapshots recorded so far; tells the page whether anything is new.
    std::uint64_t sequence = 0;
    std::uint64_t nextId = 1;
    // Unix time of each recorded snapshot, as many as the longest history.
    Ring<double> times;
    // By the key that forEachReading gives.
    std::map<std::string, ReadingHistory> readings;
};

// Adds the snapshot, taken at the Unix time given, to the history: one value
// for each of its readings. Readings that are not in it are forgotten.
void recordSnapshot(History &history, const Snapshot &snapshot, double unixTime);

// The last `count` entries of a ring (all when it holds fewer), oldest first.
template <typename Value> std::vector<Value> latest(const Ring<Value> &ring, std::size_t count)
{
    const std::size_t size = ring.values.size();
    const std::size_t taken = std::min(count, size);
    std::vector<Value> out;
    out.reserve(taken);
    for (std::size_t i = size - taken; i < size; ++i)
        out.push_back(ring.values[(ring.start + i) % size]);
    return out;
}

}  // namespace watch

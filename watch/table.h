#pragma once

#include "block_reader.h"

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace watch {

// What the table shows beside a reading's current value: its minimum,
// maximum and average over the snapshots since it appeared.
struct ReadingStatistics {
    double minimum = 0;
    double maximum = 0;
    double sum = 0;
    std::size_t count = 0;
};

// Adds a finite value to the statistics.
void addValue(ReadingStatistics &statistics, double value);

// The published value text as a number, when it is a finite one.
std::optional<double> finiteValue(std::string_view text);

// Calls `visit` with the index of each sensor, each of its readings, and the
// reading's key: sensor name, label and type with their lengths, so that no
// bytes in a name can make two readings' keys alike, and the index that
// counts readings of one sensor with the same label and type apart.
void forEachReading(
    const Snapshot &snapshot,
    const std::function<void(std::size_t sensor, const Reading &, const std::string &key)> &visit);

// Statistics per reading, keyed by sensor name, label, type and the index
// that tells apart readings of one sensor with the same label and type.
using TableStatistics = std::map<std::string, ReadingStatistics>;

// Adds each reading's value to its statistics, and forgets the statistics of
// readings that are not in the snapshot, so that one that comes back starts
// afresh. Values that are not finite numbers leave the statistics alone.
void updateStatistics(TableStatistics &statistics, const Snapshot &snapshot);

// Renders a snapshot as a table grouped by sensor: each sensor's name on a
// line of its own, and below it its readings in aligned columns of label, type,
// value, and the minimum, maximum and average from `statistics` ("-" for a
// reading without any). The first line is the heading, such as "Snapshot of
// 12:00:00", followed by the counts.
std::string renderTable(const Snapshot &snapshot, std::string_view heading,
                        const TableStatistics &statistics);

}  // namespace watch

#pragma once

#include "block_reader.h"

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

// What the table shows beside a reading's current value: its minimum,
// maximum and average over the snapshots since it appeared.
struct ReadingStatistics {
    double minimum = 0;
    double maximum = 0;
    double sum = 0;
    std::size_t count = 0;
};

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

// The table that sensor-watch prints: a view of the readings model.
#pragma once

#include "watch/readings.h"

#include <string>
#include <string_view>

namespace watch {

// Renders the last recorded snapshot as a table grouped by sensor: each
// sensor's name on a line of its own, and below it its readings in aligned
// columns of label, type, value, and the minimum, maximum and average since
// the reading appeared ("-" for a reading without any finite value). The
// first line is the heading, such as "Snapshot of 12:00:00", followed by the
// counts. Names and texts are shown printable. With `withUnits`, values and
// statistics are shown in their type's unit and rounded (see units.h);
// without, values as published and statistics in the same "%f" form.
std::string renderTable(const Readings &readings, std::string_view heading, bool withUnits);

}  // namespace watch

#pragma once

#include "block_reader.h"

#include <string>
#include <string_view>

// Renders a snapshot as a table grouped by sensor: each sensor's name on a
// line of its own, and below it its readings in aligned columns of label, type
// and value. The first line is the heading, such as "Snapshot of 12:00:00",
// followed by the counts.
std::string renderTable(const Snapshot &snapshot, std::string_view heading);

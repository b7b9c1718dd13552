#pragma once

#include "block_reader.h"

#include <string>
#include <string_view>

// Renders a snapshot as a table grouped by sensor, with aligned columns for
// sensor, reading label, type and value. `when` is the time the snapshot was
// taken, already formatted.
std::string renderTable(const Snapshot &snapshot, std::string_view when);

// Reads one private copy of the shared block: finds the name lines and the
// JSON text, parses the text and checks its shape. Pure data handling, so the
// tests drive it with plain byte buffers.
#pragma once

#include "watch/block_layout.h"

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace watch {

struct Reading {
    std::string label;
    std::string type;
    std::string value;
};

struct Sensor {
    std::string name;
    // True when the text holds null for this sensor: it had no valid reading.
    bool noReading = false;
    std::vector<Reading> readings;
};

struct Snapshot {
    // The lines between the header and the text, without their '\n'.
    std::vector<std::string> nameLines;
    std::string text;
    // Sensors in the order jsoncpp keeps object members (sorted by name bytes,
    // the same order a jsoncpp writer emits); readings in array order.
    std::vector<Sensor> sensors;
};

enum class BlockStatus {
    // No header at offset 0: nothing has been published yet (or the block is
    // too small to hold even the header).
    noHeader,
    // A header is there but the text is missing, cut, or not of the expected
    // shape. Mid-refresh this is normal for a moment.
    invalid,
    valid,
};

struct ReadResult {
    BlockStatus status = BlockStatus::noHeader;
    // One line saying what failed; empty when valid.
    std::string error;
    Snapshot snapshot;
};

ReadResult readBlock(std::span<const std::byte> copy);

}  // namespace watch

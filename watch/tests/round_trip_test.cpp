// The bridge's refresh and sensor-watch's reader, in one process: each keeps
// its own reading of the block's layout, and what one writes the other reads
// back whole.
#include "watch/block_reader.h"
#include "publish/snapshot_block.h"
#include "publish/tests/fake_library.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace {

// Each sensor on a line, and each of its readings indented below it.
std::string described(const watch::Snapshot &snapshot)
{
    std::string out;
    for (const watch::Sensor &sensor : snapshot.sensors) {
        out += sensor.name + (sensor.noReading ? " (null)\n" : "\n");
        for (const watch::Reading &reading : sensor.readings)
            out += "  " + reading.label + " | " + reading.type + " | " + reading.value + '\n';
    }
    return out;
}

TEST(RoundTrip, WhatTheRefreshWritesTheReaderReadsBack)
{
    EXPECT_EQ(watch::blockName, blockName);
    EXPECT_EQ(watch::blockSize, blockSize);
    EXPECT_EQ(watch::blockHeader, blockHeader);

    useSensors({
        {"CPU Package",
         {{6, 0, "Core \"0\" \\ clock", 3600}, {1, 0, "Core 0", 41.5}, {1, 1, "Caf\xc3\xa9", -0.25}}},
        {"GPU", {{3, 0, "Fan", 900, false}}},
        {"Board", {{8, 2, "Tab\there", std::numeric_limits<double>::infinity()}}},
    });
    std::vector<std::byte> block(blockSize);
    refreshBlock(fakeLibrary(), block, fakeYield);

    const watch::ReadResult result = watch::readBlock(block);
    ASSERT_EQ(result.status, watch::BlockStatus::valid) << result.error;
    EXPECT_EQ(result.snapshot.nameLines, (std::vector<std::string>{"cpu package", "gpu", "board"}));
    // Sensors in the order of their names, readings in the order collected.
    EXPECT_EQ(described(result.snapshot), "board\n"
                                          "  Tab\there | other | inf\n"
                                          "cpu package\n"
                                          "  Core 0 | temperature | 41.500000\n"
                                          "  Core \"0\" \\ clock | clock | 3600.000000\n"
                                          "  Caf\xc3\xa9 | temperature | -0.250000\n"
                                          "gpu (null)\n");
}

}  // namespace

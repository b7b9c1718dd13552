// The writer's side of sensor-watch's POSIX shared-memory object, played by
// the process tests in place of the bridge.
#pragma once

#include "platform/posix_shared_memory.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <string_view>

extern const std::string objectName;

// The size of the object, or 0 while there is none.
std::size_t blockObjectSize();

// True while the object exists with the full block size.
bool blockExists();

// Publishes like the bridge does: name lines and text first, then the zero
// fill, and the header last. Does nothing while the object does not exist.
void publish(std::string_view nameLines, std::string_view text);

// A suite in which sensor-watch makes the block itself. A block left over from
// an interrupted run would look like sensor-watch's own before it has made
// it, and one left behind after is a fault.
class OwnBlockTest : public testing::Test {
  protected:
    void SetUp() override { platform::removeObject(objectName); }
    void TearDown() override { EXPECT_FALSE(blockExists()) << "sensor-watch left the block behind"; }
};

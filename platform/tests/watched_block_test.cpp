// The block that sensor-watch attaches to on Windows, told from its view's
// regions. Wine commits every page of a section itself, so only this shows
// what sensor-watch makes of a section with reserved pages.
#include <vector>

#include <gtest/gtest.h>

#include "platform/watched_block.h"

namespace {

using platform::attachedView;
using platform::MappedRegion;
using platform::WatchedBlock;

constexpr std::size_t KiB = 1024;

TEST(WatchedBlock, RefusesAViewWithReservedPages)
{
    const std::vector<MappedRegion> whole{{512 * KiB, true}, {512 * KiB, true}};
    const WatchedBlock committed = attachedView("shareMemory_QORAInfo", whole);
    EXPECT_EQ(committed.size, 1024 * KiB);
    EXPECT_TRUE(committed.error.empty()) << committed.error;
    EXPECT_TRUE(committed.attached);

    // Copying past the committed pages would fault, so none of it is read;
    // the error names the block and how much of it could be.
    const std::vector<MappedRegion> partly{{64 * KiB, true}, {960 * KiB, false}};
    const WatchedBlock refused = attachedView("shareMemory_QORAInfo", partly);
    EXPECT_EQ(refused.size, 0u);
    EXPECT_EQ(refused.error, "the block shareMemory_QORAInfo has pages that are reserved but not committed: "
                             "only the first 65536 of its 1048576 bytes can be read");
    const std::vector<MappedRegion> gap{{512 * KiB, true}, {4 * KiB, false}, {508 * KiB, true}};
    EXPECT_EQ(attachedView("b", gap).size, 0u);
    EXPECT_EQ(attachedView("b", std::vector<MappedRegion>{{1024 * KiB, false}}).size, 0u);
    EXPECT_FALSE(attachedView("b", {}).error.empty());
}

}  // namespace

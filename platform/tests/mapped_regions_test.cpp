// The part of a Windows view that the block may use: its committed pages from
// the base. Wine commits every page of a section itself, so only this shows
// what a section with reserved pages gives.
#include <vector>

#include <gtest/gtest.h>

#include "platform/mapped_regions.h"

namespace {

using platform::committedPrefix;
using platform::MappedRegion;

constexpr std::size_t KiB = 1024;

TEST(MappedRegions, CountOnlyTheCommittedPagesFromTheBase)
{
    EXPECT_EQ(committedPrefix({}), 0u);
    const std::vector<MappedRegion> whole{{1024 * KiB, true}};
    EXPECT_EQ(committedPrefix(whole), 1024 * KiB);
    // A section made with SEC_RESERVE, of which the consumer committed only
    // the first pages, or none.
    const std::vector<MappedRegion> partly{{64 * KiB, true}, {960 * KiB, false}};
    EXPECT_EQ(committedPrefix(partly), 64 * KiB);
    const std::vector<MappedRegion> reserved{{1024 * KiB, false}};
    EXPECT_EQ(committedPrefix(reserved), 0u);
    // Committed pages after a reserved one do not join the prefix.
    const std::vector<MappedRegion> gap{{512 * KiB, true}, {4 * KiB, false}, {508 * KiB, true}};
    EXPECT_EQ(committedPrefix(gap), 512 * KiB);
    const std::vector<MappedRegion> pieces{{512 * KiB, true}, {512 * KiB, true}, {1024 * KiB, false}};
    EXPECT_EQ(committedPrefix(pieces), 1024 * KiB);
}

}  // namespace

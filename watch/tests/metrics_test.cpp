#include "watch/metrics.h"
#include "watch/tests/recorded.h"
#include "testing/golden.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <string>

namespace {

using namespace watch;

// Hostile names, every value form the bridge writes, and duplicate labels,
// as the whole text of one scrape.
TEST(Metrics, ScrapeOfHostileNamesAndEveryValueFormIsTheGoldenOne)
{
    // The longest "%f" text there is.
    char largest[400];
    std::snprintf(largest, sizeof largest, "%f", std::numeric_limits<double>::max());
    Snapshot snapshot;
    snapshot.sensors = {{"say \"hi\"\\\nbye", false, {{"Core 0", "temperature", "41.000000"}}},
                        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x94\xa5",
                         false,
                         {{"\xb0"
                           "C",
                           "temperature", "1.000000"},
                          // Cut, overlong, a surrogate, past U+10FFFF, bytes that lead nothing.
                          {"\xe2\x82|\xc0\xaf|\xed\xa0\x80|\xf4\x90\x80\x80|\xff\xfe", "other", "2.000000"}}},
                        {"dead", true, {}},
                        {"empty", false, {}},
                        {"cpu",
                         false,
                         {{"Core 0", "temperature", "41.000000"},
                          {"Core 0", "clock", "3600.000000"},
                          {"Core 0", "temperature", "-0.500000"},
                          // Distinct bytes that both become U+FFFD make one label as served,
                          // so they count on.
                          {"\xb0", "temperature", "inf"},
                          {"\xb1", "temperature", "-inf"},
                          {"Core 0", "temperature", "nan"},
                          {"n", "other", "-nan"},
                          {"n", "other", "-nan(ind)"},
                          {"n", "other", "nan(snan)"},
                          {"n", "other", "-nan(snan)"},
                          {"n", "other", "garbage"},
                          {"n", "other", largest},
                          {"n", "other", "0.000001"}}},
                        {"gpu", false, {{"Core 0", "temperature", "1000000000000000000000.000000"}}}};
    std::string scrape = renderBuildInfo() + renderFreshness(SnapshotAge{1700000000.25, 4.9996}) +
                         renderReadings(recorded({snapshot}));
    // The version changes with every release, and is not the golden file's.
    const std::string version = "version=\"" SENSOR_BRIDGE_VERSION "\"";
    scrape.replace(scrape.find(version), version.size(), "version=\"VERSION\"");
    expectGolden(GOLDEN "/scrape.prom", scrape);
    EXPECT_EQ(renderReadings({}).find("\nsensor_bridge_reading{"), std::string::npos);
}

TEST(RenderFreshness, FreshForFiveSecondsAfterAChangeAndNeverBeforeTheFirstOrForAnOldOne)
{
    const std::string fresh = "sensor_bridge_snapshot_fresh 1\n";
    const std::string stale = "sensor_bridge_snapshot_fresh 0\n";
    EXPECT_TRUE(renderFreshness(std::nullopt).ends_with(stale));
    EXPECT_EQ(renderFreshness(std::nullopt).find("sensor_bridge_snapshot_age_seconds"), std::string::npos);
    EXPECT_TRUE(renderFreshness(SnapshotAge{1700000000, 4.9996}).ends_with(fresh));
    EXPECT_TRUE(renderFreshness(SnapshotAge{1700000000, 5.01}).ends_with(stale));
    // A snapshot that was in the block before sensor-watch looked is never new.
    EXPECT_TRUE(renderFreshness(SnapshotAge{1700000000, 0.5, true}).ends_with(stale));
}

}  // namespace

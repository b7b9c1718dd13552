#include "watch/tests/recorded.h"
#include "testing/golden.h"
#include "watch/metrics.h"

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
                        {"gpu",
                         false,
                         {{"Core 0", "temperature", "1000000000000000000000.000000"},
                          // Clock and usage convert exactly, the non-finite stay, and what
                          // passes the largest double is infinite.
                          {"Core", "clock", "1350.123456"},
                          {"Core", "clock", "-inf"},
                          {"Core", "clock", largest},
                          {"Load", "usage", "45.300000"},
                          {"Load", "usage", "-0.000001"},
                          {"Load", "usage", "nan"},
                          {"VDD", "voltage", "1.250000"},
                          {"Fan", "fan", "1200.000000"},
                          {"Board", "current", "10.500000"},
                          {"Board", "power", "120.250000"},
                          // Types the tool does not know join "other", labelled apart.
                          {"n", "Other", "3.000000"},
                          {"n", "\xff", "4.000000"}}}};
    const Readings readings = recorded({snapshot});
    std::string scrape = renderBuildInfo() + renderFreshness(SnapshotAge{1700000000.25, 4.9996}) +
                         renderReadings(readings, true);
    // The version changes with every release, and is not the golden file's.
    const std::string version = "version=\"" SENSOR_BRIDGE_VERSION "\"";
    scrape.replace(scrape.find(version), version.size(), "version=\"VERSION\"");
    expectGolden(GOLDEN "/scrape.prom", scrape);
    EXPECT_EQ(renderReadings({}, true), "");

    // --no-units: one family as published, with the type as a label.
    const std::string published = renderReadings(readings, false);
    EXPECT_TRUE(published.starts_with("# HELP sensor_bridge_reading ")) << published;
    EXPECT_NE(published.find(
                  "\nsensor_bridge_reading{sensor=\"gpu\",label=\"Load\",type=\"usage\",index=\"0\"} 45.3\n"),
              std::string::npos);
    EXPECT_EQ(published.find("_hertz"), std::string::npos);
}

// Every figure the system gives, and only those.
TEST(RenderProcess, GivesTheStandardProcessMetricsThatTheSystemHas)
{
    EXPECT_EQ(renderProcess({}), "");
    const std::string text = renderProcess({1700000000.5, 2.25, 8388608, std::nullopt});
    for (const char *sample :
         {"# TYPE process_cpu_seconds_total counter\nprocess_cpu_seconds_total 2.25\n",
          "\nprocess_start_time_seconds 1700000000.5\n", "\nprocess_resident_memory_bytes 8388608\n"})
        EXPECT_NE(text.find(sample), std::string::npos) << text;
    EXPECT_EQ(text.find("process_open_fds"), std::string::npos);
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

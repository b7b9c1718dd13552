#include "metrics.h"
#include "recorded.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <string>

namespace {

using namespace watch;

const std::string readingsHeader =
    "# HELP sensor_bridge_reading A sensor reading as the bridge last published it.\n"
    "# TYPE sensor_bridge_reading gauge\n";

TEST(RenderReadings, EscapesNamesAndLabelsAndKeepsTheTextValidUtf8)
{
    Snapshot snapshot;
    snapshot.sensors = {
        {"say \"hi\"\\\nbye", false, {{"Core 0", "temperature", "41.000000"}}},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x94\xa5",
         false,
         {{"\xb0"
           "C",
           "temperature", "1.000000"},
          // Cut, overlong, a surrogate, past U+10FFFF, bytes that lead nothing.
          {"\xe2\x82|\xc0\xaf|\xed\xa0\x80|\xf4\x90\x80\x80|\xff\xfe", "other", "2.000000"}}},
        {"dead", true, {}},
        {"empty", false, {}},
    };
    EXPECT_EQ(
        renderReadings(recorded({snapshot})),
        readingsHeader +
            "sensor_bridge_reading{sensor=\"say \\\"hi\\\"\\\\\\nbye\",label=\"Core 0\",type=\"temperature\","
            "index=\"0\"} 41\n"
            "sensor_bridge_reading{sensor=\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x94\xa5\",label=\"\xef\xbf\xbd"
            "C\","
            "type=\"temperature\",index=\"0\"} 1\n"
            "sensor_bridge_reading{sensor=\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x94\xa5\",label=\""
            "\xef\xbf\xbd\xef\xbf\xbd|\xef\xbf\xbd\xef\xbf\xbd|\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd|"
            "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd|\xef\xbf\xbd\xef\xbf\xbd\","
            "type=\"other\",index=\"0\"} 2\n");
    EXPECT_EQ(renderReadings({}), readingsHeader);
}

TEST(RenderReadings, ParsesEveryValueFormAndNumbersDuplicateLabels)
{
    // The longest "%f" text there is.
    char largest[400];
    std::snprintf(largest, sizeof largest, "%f", std::numeric_limits<double>::max());
    Snapshot snapshot;
    snapshot.sensors = {{"cpu",
                         false,
                         {{"Core 0", "temperature", "41.000000"},
                          {"Core 0", "clock", "3600.000000"},
                          {"Core 0", "temperature", "-0.500000"},
                          // Distinct bytes that both become U+FFFD make one
                          // label as served, so they count on.
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
    EXPECT_EQ(
        renderReadings(recorded({snapshot})),
        readingsHeader +
            "sensor_bridge_reading{sensor=\"cpu\",label=\"Core 0\",type=\"temperature\",index=\"0\"} 41\n"
            "sensor_bridge_reading{sensor=\"cpu\",label=\"Core 0\",type=\"clock\",index=\"0\"} 3600\n"
            "sensor_bridge_reading{sensor=\"cpu\",label=\"Core 0\",type=\"temperature\",index=\"1\"} -0.5\n"
            "sensor_bridge_reading{sensor=\"cpu\",label=\"\xef\xbf\xbd\",type=\"temperature\",index=\"0\"} "
            "+Inf\n"
            "sensor_bridge_reading{sensor=\"cpu\",label=\"\xef\xbf\xbd\",type=\"temperature\",index=\"1\"} "
            "-Inf\n"
            "sensor_bridge_reading{sensor=\"cpu\",label=\"Core 0\",type=\"temperature\",index=\"2\"} NaN\n"
            "sensor_bridge_reading{sensor=\"cpu\",label=\"n\",type=\"other\",index=\"0\"} NaN\n"
            "sensor_bridge_reading{sensor=\"cpu\",label=\"n\",type=\"other\",index=\"1\"} NaN\n"
            "sensor_bridge_reading{sensor=\"cpu\",label=\"n\",type=\"other\",index=\"2\"} NaN\n"
            "sensor_bridge_reading{sensor=\"cpu\",label=\"n\",type=\"other\",index=\"3\"} NaN\n"
            "sensor_bridge_reading{sensor=\"cpu\",label=\"n\",type=\"other\",index=\"4\"} NaN\n"
            "sensor_bridge_reading{sensor=\"cpu\",label=\"n\",type=\"other\",index=\"5\"} "
            "1.7976931348623157e+308\n"
            "sensor_bridge_reading{sensor=\"cpu\",label=\"n\",type=\"other\",index=\"6\"} 1e-06\n"
            "sensor_bridge_reading{sensor=\"gpu\",label=\"Core 0\",type=\"temperature\",index=\"0\"} "
            "1e+21\n");
}

TEST(RenderFreshness, FreshForFiveSecondsAfterAChangeAndNeverBeforeTheFirstOrForAnOldOne)
{
    const std::string freshHeader =
        "# HELP sensor_bridge_snapshot_fresh 1 while the block changed within the last 5 seconds, else 0.\n"
        "# TYPE sensor_bridge_snapshot_fresh gauge\n";
    EXPECT_EQ(renderFreshness(std::nullopt), freshHeader + "sensor_bridge_snapshot_fresh 0\n");
    EXPECT_EQ(renderFreshness(SnapshotAge{1700000000.25, 4.9996}),
              "# HELP sensor_bridge_snapshot_timestamp_seconds Unix time at which the served snapshot "
              "appeared in the "
              "block.\n"
              "# TYPE sensor_bridge_snapshot_timestamp_seconds gauge\n"
              "sensor_bridge_snapshot_timestamp_seconds 1700000000.250\n"
              "# HELP sensor_bridge_snapshot_age_seconds Seconds since the block last changed to a new valid "
              "snapshot.\n"
              "# TYPE sensor_bridge_snapshot_age_seconds gauge\n"
              "sensor_bridge_snapshot_age_seconds 5.000\n" +
                  freshHeader + "sensor_bridge_snapshot_fresh 1\n");
    EXPECT_TRUE(renderFreshness(SnapshotAge{1700000000, 5.01}).ends_with("sensor_bridge_snapshot_fresh 0\n"));
    // A snapshot that was in the block before sensor-watch looked is never new.
    EXPECT_TRUE(
        renderFreshness(SnapshotAge{1700000000, 0.5, true}).ends_with("sensor_bridge_snapshot_fresh 0\n"));
}

}  // namespace

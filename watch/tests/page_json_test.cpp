#include "watch/tests/strict_json.h"
#include "watch/page_json.h"
#include "watch/tests/recorded.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <thread>

namespace {

using namespace watch;

TEST(DashboardJson, IsValidUtf8WithNamesAsTextAndNullsForNonNumbers)
{
    Snapshot snapshot;
    snapshot.sensors = {
        {"<script>\"x\"</script>\n\xff",
         false,
         {{"caf\xe9 \xe2\x82\xac", "temperature", "41.500000"},
          {"Hot", "other", "inf"},
          {"?", "?", "\xc0\xaf"}}},
        {"dead", true, {}},
    };
    const Readings history = recorded({snapshot}, {1700000000.1234, 0}, true, true);
    const Json::Value document = parsed(renderSnapshotJson(history, true));
    EXPECT_EQ(document["sequence"].asUInt64(), 1u);
    EXPECT_EQ(document["time"].asDouble(), 1700000000.123);
    EXPECT_TRUE(document["old"].asBool());
    const Json::Value &sensor = document["sensors"][0];
    EXPECT_EQ(sensor["name"].asString(), "<script>\"x\"</script>\n\xef\xbf\xbd");
    const Json::Value &readings = sensor["readings"];
    ASSERT_EQ(readings.size(), 3u);
    EXPECT_EQ(readings[0]["label"].asString(), "caf\xef\xbf\xbd \xe2\x82\xac");
    EXPECT_EQ(readings[0]["value"].asString(), "41.500000");
    EXPECT_EQ(readings[0]["number"].asDouble(), 41.5);
    EXPECT_EQ(readings[0]["average"].asDouble(), 41.5);
    EXPECT_NE(readings[0]["id"].asUInt64(), readings[1]["id"].asUInt64());
    EXPECT_EQ(readings[1]["value"].asString(), "inf");
    EXPECT_TRUE(readings[1]["number"].isNull());
    EXPECT_TRUE(readings[1]["min"].isNull());
    EXPECT_EQ(readings[2]["value"].asString(), "\xef\xbf\xbd\xef\xbf\xbd");
    // The texts the page shows, in the type's unit; the values stay raw.
    EXPECT_EQ(readings[0]["shown"]["average"].asString(), "41.5 \u00b0C");
    EXPECT_TRUE(readings[1]["shown"]["value"] == "inf" && readings[1]["shown"]["min"].isNull());
    EXPECT_EQ(readings[2]["shown"]["value"].asString(), "\xef\xbf\xbd\xef\xbf\xbd");
    EXPECT_EQ(document["units"]["fan"].asString(), "RPM");
    EXPECT_FALSE(parsed(renderSnapshotJson(history, false))["sensors"][0]["readings"][0].isMember("shown"));
    EXPECT_TRUE(document["sensors"][1]["noReading"].asBool());

    const Json::Value samples = parsed(renderHistoryJson(history, {}, 10));
    EXPECT_EQ(samples["times"][0].asDouble(), 1700000000.123);
    EXPECT_EQ(samples["readings"][0]["values"][0].asDouble(), 41.5);
    EXPECT_TRUE(samples["readings"][1]["values"][0].isNull());

    const Json::Value status = parsed(renderStatusJson(1, SnapshotAge{1700000000, 6.04, false}));
    EXPECT_FALSE(status["fresh"].asBool());
    EXPECT_EQ(status["age"].asDouble(), 6.0);
    EXPECT_TRUE(parsed(renderStatusJson(1, SnapshotAge{1700000000, 1, false}))["fresh"].asBool());
    EXPECT_FALSE(parsed(renderStatusJson(0, std::nullopt))["fresh"].asBool());
}

// History values are written from the digits of each float's shortest form;
// jsoncpp, given the double of that form, must agree on every one of them.
TEST(DashboardJson, WritesEveryFloatAsJsoncppWritesTheDoubleOfItsShortestForm)
{
    Readings history;
    TrackedReading &reading = history.readings.emplace_back();
    std::mt19937 random(7);
    for (std::uint32_t i = 0; i < 200'000; ++i) {
        const std::uint32_t bits = i < 1000 ? i << 22 : static_cast<std::uint32_t>(random());
        reading.values.values.push_back(std::bit_cast<float>(bits));
    }
    Json::Value expected(Json::arrayValue);
    for (const float value : reading.values.values) {
        char text[32];
        double widened = 0;
        std::from_chars(text, std::to_chars(text, text + sizeof text, value).ptr, widened);
        expected.append(std::isfinite(value) ? Json::Value(widened) : Json::Value());
    }
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["precision"] = 15;
    const std::string written = renderHistoryJson(history, {}, extractLimit);
    const std::string values = written.substr(written.find('['), written.find(']') - written.find('[') + 1);
    EXPECT_EQ(values.substr(values.rfind('[')), Json::writeString(builder, expected));
}

// The server's thread answers status and history while the watching thread
// renders every new snapshot: the texts must come out whole on both.
TEST(DashboardJson, RendersOnSeveralThreadsAtOnce)
{
    Snapshot snapshot;
    snapshot.sensors = {
        {"cpu", false, {{"Core", "temperature", "41.500000"}, {"Fan", "fan", "1200.000000"}}}};
    const Readings history = recorded({snapshot}, {1700000000, 0}, false, true);
    const std::string snapshotText = renderSnapshotJson(history, true);
    const std::string statusText = renderStatusJson(1, SnapshotAge{1700000000, 0.5, false});
    const std::string errorText = renderErrorJson("no such reading");

    constexpr int rounds = 2000;
    int snapshotsWrong = 0;
    int othersWrong = 0;
    std::thread server([&] {
        for (int i = 0; i < rounds; ++i) {
            othersWrong += renderStatusJson(1, SnapshotAge{1700000000, 0.5, false}) != statusText;
            othersWrong += renderErrorJson("no such reading") != errorText;
        }
    });
    for (int i = 0; i < rounds; ++i)
        snapshotsWrong += renderSnapshotJson(history, true) != snapshotText;
    server.join();
    EXPECT_EQ(snapshotsWrong, 0);
    EXPECT_EQ(othersWrong, 0);
}

}  // namespace

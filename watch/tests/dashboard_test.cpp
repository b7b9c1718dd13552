#include "dashboard.h"
#include "history.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace watch;

Snapshot oneSensor(std::vector<Reading> readings)
{
    Snapshot snapshot;
    snapshot.sensors = {{"cpu", false, std::move(readings)}};
    return snapshot;
}

// Parses as strictly as the page's JSON.parse, which takes only valid UTF-8
// from a body that says it is UTF-8.
Json::Value parsed(const std::string &text)
{
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string error;
    EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &root, &error)) << error << text;
    return root;
}

TEST(History, KeepsTheLatestValuesOfEachReadingUnderAStableId)
{
    History history;
    for (std::size_t i = 0; i < historyLength + 5; ++i)
        recordSnapshot(history,
                       oneSensor({{"Core 0", "temperature", std::to_string(i)},
                                  {"Core 0", "temperature", i % 2 == 1 ? "nan" : "1.5"}}),
                       1000.0 + static_cast<double>(i));
    ASSERT_EQ(history.readings.size(), 2u);
    EXPECT_EQ(history.sequence, historyLength + 5);
    const HistoryExtract all = extractHistory(history, {}, historyLength * 2);
    ASSERT_EQ(all.times.size(), historyLength);
    EXPECT_EQ(all.times.front(), 1005.0);
    EXPECT_EQ(all.times.back(), 1000.0 + static_cast<double>(historyLength + 4));
    ASSERT_EQ(all.readings.size(), 2u);
    const auto &[firstId, first] = all.readings[0];
    const auto &[secondId, second] = all.readings[1];
    EXPECT_NE(firstId, secondId);
    ASSERT_EQ(first.size(), historyLength);
    EXPECT_EQ(first.front(), 5.0f);
    EXPECT_EQ(first.back(), static_cast<float>(historyLength + 4));
    // Values that are not numbers leave a gap and leave the statistics alone.
    EXPECT_TRUE(std::isnan(second.front()));
    EXPECT_EQ(second.back(), 1.5f);
    const ReadingStatistics &statistics = history.readings.rbegin()->second.statistics;
    EXPECT_EQ(statistics.count, (historyLength + 6) / 2);
    EXPECT_EQ(statistics.minimum, 1.5);

    // The last few of one reading; one that goes missing comes back afresh.
    const std::uint64_t wanted[] = {secondId};
    const HistoryExtract few = extractHistory(history, wanted, 3);
    ASSERT_EQ(few.readings.size(), 1u);
    EXPECT_EQ(few.readings[0].first, secondId);
    EXPECT_EQ(few.times.size(), 3u);
    recordSnapshot(history, oneSensor({{"Core 0", "temperature", "1"}}), 3000);
    recordSnapshot(history, oneSensor({{"Core 0", "temperature", "1"}, {"Core 0", "temperature", "2"}}),
                   3001);
    const HistoryExtract after = extractHistory(history, {}, historyLength);
    ASSERT_EQ(after.readings.size(), 2u);
    EXPECT_EQ(after.readings[0].second.size(), historyLength);
    EXPECT_EQ(after.readings[1].second.size(), 1u);
    EXPECT_GT(after.readings[1].first, secondId);
}

TEST(History, GivesFewerPointsWhenTheExtractWouldGrowTooLarge)
{
    const std::size_t count = extractLimit / historyLength + 10;
    std::vector<Reading> many;
    for (std::size_t i = 0; i < count; ++i)
        many.push_back({"Reading " + std::to_string(i), "other", "1"});
    const Snapshot snapshot = oneSensor(std::move(many));
    History history;
    for (std::size_t i = 0; i < historyLength; ++i)
        recordSnapshot(history, snapshot, static_cast<double>(i));
    const HistoryExtract all = extractHistory(history, {}, historyLength);
    ASSERT_EQ(all.readings.size(), count);
    EXPECT_EQ(all.times.size(), extractLimit / count);
    EXPECT_EQ(all.readings[0].second.size(), extractLimit / count);
    const std::uint64_t one[] = {all.readings[0].first};
    EXPECT_EQ(extractHistory(history, one, historyLength).times.size(), historyLength);
}

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
    History history;
    recordSnapshot(history, snapshot, 1700000000.1234);
    const Json::Value document = parsed(renderSnapshotJson(snapshot, history, 1700000000.1234, true));
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
    EXPECT_TRUE(document["sensors"][1]["noReading"].asBool());

    const Json::Value samples = parsed(renderHistoryJson(extractHistory(history, {}, 10)));
    EXPECT_EQ(samples["times"][0].asDouble(), 1700000000.123);
    EXPECT_EQ(samples["readings"][0]["values"][0].asDouble(), 41.5);
    EXPECT_TRUE(samples["readings"][1]["values"][0].isNull());

    const Json::Value status = parsed(renderStatusJson(1, SnapshotAge{1700000000, 6.04, false}));
    EXPECT_FALSE(status["fresh"].asBool());
    EXPECT_EQ(status["age"].asDouble(), 6.0);
    EXPECT_TRUE(parsed(renderStatusJson(1, SnapshotAge{1700000000, 1, false}))["fresh"].asBool());
    EXPECT_FALSE(parsed(renderStatusJson(0, std::nullopt))["fresh"].asBool());
}

// The server's thread answers status and history while the watching thread
// renders every new snapshot: the texts must come out whole on both.
TEST(DashboardJson, RendersOnSeveralThreadsAtOnce)
{
    const Snapshot snapshot =
        oneSensor({{"Core", "temperature", "41.500000"}, {"Fan", "fan", "1200.000000"}});
    History history;
    recordSnapshot(history, snapshot, 1700000000);
    const std::string snapshotText = renderSnapshotJson(snapshot, history, 1700000000, false);
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
        snapshotsWrong += renderSnapshotJson(snapshot, history, 1700000000, false) != snapshotText;
    server.join();
    EXPECT_EQ(snapshotsWrong, 0);
    EXPECT_EQ(othersWrong, 0);
}

}  // namespace

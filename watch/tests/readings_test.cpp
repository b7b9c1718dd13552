#include "watch/readings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using namespace watch;

Snapshot oneSensor(std::vector<Reading> readings)
{
    Snapshot snapshot;
    snapshot.sensors = {{"cpu", false, std::move(readings)}};
    return snapshot;
}

TEST(History, KeepsTheLatestValuesOfEachReadingUnderAStableId)
{
    Readings history{.keepHistory = true};
    for (std::size_t i = 0; i < historyLength + 5; ++i)
        recordSnapshot(history,
                       oneSensor({{"Core 0", "temperature", std::to_string(i)},
                                  {"Core 0", "temperature", i % 2 == 1 ? "nan" : "1.5"}}),
                       {1000.0 + static_cast<double>(i), 0}, false);
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
    const ReadingStatistics &statistics = history.readings[1].statistics;
    EXPECT_EQ(statistics.count, (historyLength + 6) / 2);
    EXPECT_EQ(statistics.minimum, 1.5);

    // The last few of one reading; one that goes missing comes back afresh.
    const std::uint64_t wanted[] = {secondId};
    const HistoryExtract few = extractHistory(history, wanted, 3);
    ASSERT_EQ(few.readings.size(), 1u);
    EXPECT_EQ(few.readings[0].first, secondId);
    EXPECT_EQ(few.times.size(), 3u);
    recordSnapshot(history, oneSensor({{"Core 0", "temperature", "1"}}), {3000, 0}, false);
    recordSnapshot(history, oneSensor({{"Core 0", "temperature", "1"}, {"Core 0", "temperature", "2"}}),
                   {3001, 0}, false);
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
    Readings history{.keepHistory = true};
    for (std::size_t i = 0; i < historyLength; ++i)
        recordSnapshot(history, snapshot, {static_cast<double>(i), 0}, false);
    const HistoryExtract all = extractHistory(history, {}, historyLength);
    ASSERT_EQ(all.readings.size(), count);
    EXPECT_EQ(all.times.size(), extractLimit / count);
    EXPECT_EQ(all.readings[0].second.size(), extractLimit / count);
    const std::uint64_t one[] = {all.readings[0].first};
    EXPECT_EQ(extractHistory(history, one, historyLength).times.size(), historyLength);
}

}  // namespace

#include "watch/readings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using namespace watch;

// The entries of a ring that latest gives, in their order.
template <typename Value> std::vector<Value> entries(const Ring<Value> &ring, std::size_t count)
{
    std::vector<Value> out;
    for (const std::span<const Value> part : latest(ring, count))
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

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
    const HistorySelection all = selectHistory(history, {}, historyLength * 2);
    const std::vector<double> times = entries(history.times, all.points);
    ASSERT_EQ(times.size(), historyLength);
    EXPECT_EQ(times.front(), 1005.0);
    EXPECT_EQ(times.back(), 1000.0 + static_cast<double>(historyLength + 4));
    ASSERT_EQ(all.readings.size(), 2u);
    const std::uint64_t secondId = all.readings[1]->id;
    EXPECT_NE(all.readings[0]->id, secondId);
    const std::vector<float> first = entries(all.readings[0]->values, all.points);
    const std::vector<float> second = entries(all.readings[1]->values, all.points);
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
    const HistorySelection few = selectHistory(history, wanted, 3);
    ASSERT_EQ(few.readings.size(), 1u);
    EXPECT_EQ(few.readings[0]->id, secondId);
    EXPECT_EQ(entries(history.times, few.points).size(), 3u);
    recordSnapshot(history, oneSensor({{"Core 0", "temperature", "1"}}), {3000, 0}, false);
    recordSnapshot(history, oneSensor({{"Core 0", "temperature", "1"}, {"Core 0", "temperature", "2"}}),
                   {3001, 0}, false);
    const HistorySelection after = selectHistory(history, {}, historyLength);
    ASSERT_EQ(after.readings.size(), 2u);
    EXPECT_EQ(entries(after.readings[0]->values, after.points).size(), historyLength);
    EXPECT_EQ(entries(after.readings[1]->values, after.points).size(), 1u);
    EXPECT_GT(after.readings[1]->id, secondId);
    // A reading renamed in its place is another one; the one moved keeps its id.
    const std::uint64_t firstId = history.readings[0].id;
    const std::uint64_t lastId = history.readings[1].id;
    recordSnapshot(history, oneSensor({{"Core 1", "temperature", "1"}, {"Core 0", "temperature", "2"}}),
                   {3002, 0}, false);
    EXPECT_GT(history.readings[0].id, lastId);
    EXPECT_EQ(history.readings[1].id, firstId);
    EXPECT_EQ(history.readings[1].statistics.count, historyLength + 8);
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
    const HistorySelection all = selectHistory(history, {}, historyLength);
    ASSERT_EQ(all.readings.size(), count);
    EXPECT_EQ(entries(history.times, all.points).size(), extractLimit / count);
    EXPECT_EQ(entries(all.readings[0]->values, all.points).size(), extractLimit / count);
    const std::uint64_t one[] = {all.readings[0]->id};
    EXPECT_EQ(selectHistory(history, one, historyLength).points, historyLength);
}

}  // namespace

#include "tools/hwmonsensors/poller.h"

#include <cerrno>
#include <cmath>
#include <map>
#include <tuple>

#include <gtest/gtest.h>

namespace hwmonsensors {
namespace {

struct FakeReading {
    ReadingType type;
    std::string label;
    int subfeature;
};

struct FakeChip {
    std::string name;
    std::vector<FakeReading> readings;
};

// Hardware whose shape, chips and values the test sets, counting what the
// poller asks of it.
class FakeHardware : public Hardware {
  public:
    std::string shape = "first";
    int scanError = 0;
    std::vector<FakeChip> chips;
    // Values by subfeature number; a subfeature without one cannot be read.
    std::map<int, double> values;
    int scanCalls = 0;
    int readCalls = 0;

    std::string fingerprint() override { return shape; }
    int scan(std::vector<Chip> &found) override
    {
        ++scanCalls;
        for (const FakeChip &fake : chips) {
            Chip chip;
            chip.name = fake.name;
            for (const FakeReading &reading : fake.readings)
                chip.add(reading.type, reading.label, reading.subfeature);
            found.push_back(std::move(chip));
        }
        return scanError;
    }
    bool read(const Chip &, const Reading &reading, double &value) override
    {
        ++readCalls;
        const auto found = values.find(reading.subfeature);
        if (found == values.end())
            return false;
        value = found->second;
        return true;
    }
};

FakeHardware desktop()
{
    FakeHardware hardware;
    hardware.chips = {{"k10temp-pci-00c3", {{ReadingType::temperature, "Tctl", 1}}},
                      {"nct6775-isa-0290",
                       {{ReadingType::voltage, "Vcore", 10},
                        {ReadingType::temperature, "SYSTIN", 11},
                        {ReadingType::voltage, "+5V", 12},
                        {ReadingType::temperature, "CPUTIN", 13}}}};
    hardware.values = {{1, 45.125}, {10, 1.104}, {11, 36}, {12, 5.08}, {13, 41.5}};
    return hardware;
}

constexpr auto temperature = static_cast<std::int32_t>(ReadingType::temperature);
constexpr auto voltage = static_cast<std::int32_t>(ReadingType::voltage);

TEST(Chip, ReadingIndexCountsPerTypeUpToTheLast)
{
    Chip chip;
    EXPECT_TRUE(chip.add(ReadingType::temperature, "a", 1));
    EXPECT_TRUE(chip.add(ReadingType::fan, "b", 2));
    EXPECT_TRUE(chip.add(ReadingType::temperature, "c", 3));
    EXPECT_EQ(chip.readings[0].size(), 2u);
    EXPECT_EQ(chip.readings[0][1].label, "c");
    EXPECT_EQ(chip.readings[2][0].label, "b");
    for (int i = 2; i < readingsPerType; ++i)
        EXPECT_TRUE(chip.add(ReadingType::temperature, "t", i));
    EXPECT_FALSE(chip.add(ReadingType::temperature, "past the last index", 9999));
    EXPECT_EQ(chip.readings[0].size(), static_cast<std::size_t>(readingsPerType));
    EXPECT_TRUE(chip.add(ReadingType::other, "other types still count from 0", 5));
}

TEST(Poller, ReadsEachValueOncePerPollAndServesItByTypeAndIndex)
{
    FakeHardware hardware = desktop();
    Poller poller(hardware, 60);
    EXPECT_EQ(poller.count(), 0);
    ASSERT_EQ(poller.start(), 0);
    ASSERT_EQ(poller.count(), 2);
    EXPECT_EQ(poller.chip(1)->name, "nct6775-isa-0290");
    EXPECT_EQ(poller.reading(temperature, 1, 1)->label, "CPUTIN");
    EXPECT_EQ(poller.reading(voltage, 1, 1)->value, 5.08);
    for (const auto &[type, sensor, index] :
         {std::tuple{0, 0, 0}, {9, 0, 0}, {temperature, 0, 1}, {temperature, 0, -1}, {temperature, 2, 0}}) {
        EXPECT_EQ(poller.reading(type, sensor, index), nullptr) << type << sensor << index;
    }
    // Lookups never reach the hardware.
    EXPECT_EQ(hardware.readCalls, 5);

    // A value that cannot be read is invalid for that poll, not the old one.
    hardware.values.erase(11);
    poller.poll();
    EXPECT_EQ(hardware.readCalls, 10);
    const Reading *systin = poller.reading(temperature, 1, 0);
    EXPECT_FALSE(systin->valid);
    EXPECT_TRUE(std::isnan(systin->value));
    EXPECT_EQ(systin->label, "SYSTIN");
    hardware.values[11] = 37;
    poller.poll();
    EXPECT_TRUE(systin->valid);
    EXPECT_EQ(systin->value, 37);
}

TEST(Poller, HotPlugShowsOnlyAtAPollAndRescansWhenDue)
{
    FakeHardware hardware = desktop();
    Poller poller(hardware, 3);
    ASSERT_EQ(poller.start(), 0);

    // The first chip goes away after a poll: until the next, every entry still
    // serves the chip list and values of that poll, so nothing shifts.
    hardware.chips.erase(hardware.chips.begin());
    hardware.shape = "second";
    hardware.values[13] = 99;
    EXPECT_EQ(poller.count(), 2);
    EXPECT_EQ(poller.reading(temperature, 1, 1)->value, 41.5);

    poller.poll();
    EXPECT_EQ(hardware.scanCalls, 2);
    ASSERT_EQ(poller.count(), 1);
    EXPECT_EQ(poller.chip(0)->name, "nct6775-isa-0290");
    EXPECT_EQ(poller.reading(temperature, 0, 1)->value, 99);

    // With the shape unchanged, a full scan comes every third poll.
    hardware.chips = desktop().chips;
    poller.poll();
    poller.poll();
    EXPECT_EQ(poller.count(), 1);
    poller.poll();
    EXPECT_EQ(hardware.scanCalls, 3);
    EXPECT_EQ(poller.count(), 2);
}

TEST(Poller, FailedScanLeavesNoChipsUntilARetrySucceeds)
{
    FakeHardware hardware = desktop();
    hardware.scanError = EINVAL;
    Poller poller(hardware, 60);
    EXPECT_EQ(poller.start(), EINVAL);
    EXPECT_EQ(poller.count(), 0);

    // No retry while nothing changed, so that a broken configuration is not
    // parsed, and complained about, every second.
    hardware.scanError = 0;
    poller.poll();
    EXPECT_EQ(poller.count(), 0);
    hardware.shape = "configuration fixed";
    poller.poll();
    EXPECT_EQ(poller.count(), 2);
    EXPECT_TRUE(poller.reading(temperature, 0, 0)->valid);
}

TEST(CopyTerminated, CutsToLeaveRoomForTheNul)
{
    char buffer[6] = "xxxxx";
    copyTerminated(buffer, "Tccd1 long");
    EXPECT_STREQ(buffer, "Tccd1");
    copyTerminated(std::span<char>(buffer, 1), "x");
    EXPECT_EQ(buffer[0], '\0');
}

}  // namespace
}  // namespace hwmonsensors

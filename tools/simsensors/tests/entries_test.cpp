#include "tools/simsensors/entries.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/simsensors/scenario.h"
#include "tools/simsensors/tests/environment.h"

namespace simsensors {
namespace {

bool untouched(const Record &record)
{
    static const Record zero{};
    return std::memcmp(&record, &zero, sizeof record) == 0;
}

// Every test starts from a scenario file of its own and leaves the default
// scenario behind.
class Entries : public testing::Test {
  protected:
    // Named after the test, so that tests run in parallel do not share it.
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        (std::string("simsensors_") + testing::UnitTest::GetInstance()->current_test_info()->name());

    std::int32_t initWith(const std::string &text)
    {
        std::ofstream(path, std::ios::binary) << text;
        setScenarioVariable(path.string());
        return ordinal_481(64);
    }

    void TearDown() override
    {
        setScenarioVariable("");
        ordinal_481(64);
        std::filesystem::remove(path);
    }
};

TEST_F(Entries, InitLoadsTheFileOrElseTheDefault)
{
    ASSERT_EQ(initWith("sensor \"Only\"\n"), 0);
    EXPECT_EQ(ordinal_994(), 1);
    setScenarioVariable("");
    ASSERT_EQ(ordinal_481(64), 0);
    EXPECT_EQ(ordinal_994(), static_cast<std::int32_t>(defaultScenario().sensors.size()));
    ASSERT_EQ(initWith("count -1\n"), 0);
    EXPECT_EQ(ordinal_994(), -1);
}

TEST_F(Entries, InitFailureSetsTheLastErrorAndKeepsTheScenario)
{
    ASSERT_EQ(initWith("sensor \"Kept\"\n"), 0);
    EXPECT_NE(initWith("init-fail 13\n"), 0);
    EXPECT_EQ(lastError(), 13);
    EXPECT_NE(initWith("sensor unquoted\n"), 0);
    EXPECT_EQ(lastError(), EINVAL);
    std::filesystem::remove(path);
    ASSERT_NE(ordinal_481(64), 0);
    EXPECT_EQ(lastError(), ENOENT);
    EXPECT_EQ(ordinal_994(), 1);
}

TEST_F(Entries, NameStaysInsideItsBuffer)
{
    ASSERT_EQ(initWith("sensor \"CPU [#0]: Test\"\nsensor fill \"ab\"\ncount 3\n"), 0);
    std::array<char, 1100> buffer{};
    const auto nameInto = [&](std::int32_t sensor, std::int32_t size) {
        buffer.fill('#');
        return ordinal_802(sensor, buffer.data(), size);
    };

    nameInto(0, 1024);
    EXPECT_STREQ(buffer.data(), "CPU [#0]: Test");
    nameInto(0, 4);
    EXPECT_EQ(std::string(buffer.data(), 5), std::string("CPU\0#", 5));
    nameInto(1, 1024);
    std::string filled;
    while (filled.size() < 1024)
        filled += "ab";
    EXPECT_EQ(std::string(buffer.data(), 1025), filled + "#");
    nameInto(1, 3);
    EXPECT_EQ(std::string(buffer.data(), 4), "aba#");
    nameInto(2, 1024);
    EXPECT_STREQ(buffer.data(), "");

    for (const std::int32_t sensor : {-1, 3, 1 << 30}) {
        nameInto(sensor, 1024);
        EXPECT_EQ(buffer[0], '#') << sensor;
    }
    for (const std::int32_t size : {0, -1}) {
        nameInto(0, size);
        EXPECT_EQ(buffer[0], '#') << size;
    }
    EXPECT_EQ(ordinal_802(0, nullptr, 1024), 0);
}

TEST_F(Entries, RecordIsFilledOnlyForAnExistingReading)
{
    ASSERT_EQ(initWith("sensor \"S\"\n"
                       "reading clock @1023 \"Last\" 4500.5\n"
                       "reading other \"Stale\" 7 invalid\n"
                       "reading other fill \"L\" bits:7ff4000000000000\n"
                       "count 2\n"),
              0);
    Record record{};
    ASSERT_EQ(ordinal_714(6, 0, 1023, &record), 1);
    EXPECT_NE(record.valid, 0);
    EXPECT_EQ(record.value, 4500.5);
    EXPECT_STREQ(record.label, "Last");

    record = {};
    ordinal_714(8, 0, 0, &record);
    EXPECT_EQ(record.valid, 0);
    EXPECT_EQ(record.value, 7);
    EXPECT_STREQ(record.label, "Stale");

    record = {};
    ordinal_714(8, 0, 1, &record);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(record.value), 0x7ff4000000000000u);
    EXPECT_EQ(std::string(record.label, sizeof record.label), std::string(labelCapacity, 'L'));

    const std::array<std::array<std::int32_t, 3>, 9> outside = {{
        {0, 0, 1023},
        {9, 0, 1023},
        {6, -1, 1023},
        {6, 1, 1023},
        {6, 2, 1023},
        {6, 0, -1},
        {6, 0, 1024},
        {6, 0, 0},
        {1, 0, 1023},
    }};
    for (const auto &[type, sensor, reading] : outside) {
        record = {};
        EXPECT_EQ(ordinal_714(type, sensor, reading, &record), 0);
        EXPECT_TRUE(untouched(record)) << type << " " << sensor << " " << reading;
    }
    EXPECT_EQ(ordinal_714(6, 0, 1023, nullptr), 0);
}

TEST_F(Entries, PollMovesDriftingValuesOnly)
{
    ASSERT_EQ(initWith("sensor \"S\"\n"
                       "reading temperature \"Moving\" 40 drift 3\n"
                       "reading temperature \"Fixed\" 40\n"),
              0);
    Record moving{};
    Record fixed{};
    ordinal_714(1, 0, 0, &moving);
    ordinal_714(1, 0, 1, &fixed);
    ordinal_256();
    Record movedOn{};
    Record fixedOn{};
    ordinal_714(1, 0, 0, &movedOn);
    ordinal_714(1, 0, 1, &fixedOn);
    EXPECT_NE(moving.value, movedOn.value);
    EXPECT_NEAR(movedOn.value, 40, 3);
    EXPECT_EQ(fixed.value, fixedOn.value);
    EXPECT_EQ(ordinal_318(0), 0);
    EXPECT_EQ(ordinal_318(1), -1);
}

}  // namespace
}  // namespace simsensors

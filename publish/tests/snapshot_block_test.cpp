#include <array>
#include <cmath>
#include <cstdio>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "publish/snapshot_block.h"
#include "publish/tests/fake_library.h"

namespace {

using Block = std::vector<std::byte>;

// A block as the consumer would leave it before a refresh: any old bytes.
Block oldBlock(std::size_t size = blockSize)
{
    return Block(size, std::byte{0xAA});
}

Block refresh(Block block = oldBlock())
{
    refreshBlock(fakeLibrary(), block, fakeYield);
    return block;
}

// The block a refresh must leave: header, name lines and text, then zeros.
Block expectedBlock(std::string_view namesAndText)
{
    Block block(blockSize, std::byte{0});
    std::string content = std::string(blockHeader) + std::string(namesAndText);
    std::memcpy(block.data(), content.data(), content.size());
    return block;
}

// The block's content up to the zero fill, for readable failure messages.
std::string content(const Block &block)
{
    std::string_view all(reinterpret_cast<const char *>(block.data()), block.size());
    return std::string(all.substr(0, all.find('\0')));
}

void expectBlock(const Block &block, std::string_view namesAndText)
{
    EXPECT_EQ(content(block), std::string(blockHeader) + std::string(namesAndText));
    EXPECT_TRUE(block == expectedBlock(namesAndText)) << "bytes past the content are not all zero";
}

FakeReading reading(std::int32_t type, std::int32_t index, std::string label, double value)
{
    return {type, index, std::move(label), value};
}

double fromBits(std::uint64_t bits)
{
    return std::bit_cast<double>(bits);
}

TEST(SnapshotBlock, NoSensorsGiveNullText)
{
    for (std::int32_t count : {0, -1, -2147483647 - 1}) {
        useSensors({});
        fake.count = count;
        expectBlock(refresh(), "null");
    }
}

TEST(SnapshotBlock, SensorsAndReadingsInKeyAndCollectionOrder)
{
    useSensors({
        {"System Board", {reading(3, 0, "Fan 1", 1180), reading(2, 0, "Vcore", 1.25)}},
        {"CPU",
         {reading(6, 1, "Core 0", 3600), reading(1, 1, "Core 0", 41), reading(1, 0, "Package", 45.5),
          reading(7, 1023, "Total", 12.25)}},
    });
    // Readings come in reading-index-then-type order, sensors in key order.
    expectBlock(refresh(), "system board\ncpu\n"
                           R"({"cpu":[{"Package":{"type":"temperature","value":"45.500000"}},)"
                           R"({"Core 0":{"type":"temperature","value":"41.000000"}},)"
                           R"({"Core 0":{"type":"clock","value":"3600.000000"}},)"
                           R"({"Total":{"type":"usage","value":"12.250000"}}],)"
                           R"("system board":[{"Vcore":{"type":"voltage","value":"1.250000"}},)"
                           R"({"Fan 1":{"type":"fan","value":"1180.000000"}}]})");
}

TEST(SnapshotBlock, EveryTypeName)
{
    FakeSensor sensor{"s", {}};
    for (std::int32_t type = 1; type <= 8; ++type)
        sensor.readings.push_back(reading(type, 0, "r", type));
    useSensors({sensor});
    expectBlock(refresh(), "s\n"
                           R"({"s":[{"r":{"type":"temperature","value":"1.000000"}},)"
                           R"({"r":{"type":"voltage","value":"2.000000"}},)"
                           R"({"r":{"type":"fan","value":"3.000000"}},)"
                           R"({"r":{"type":"current","value":"4.000000"}},)"
                           R"({"r":{"type":"power","value":"5.000000"}},)"
                           R"({"r":{"type":"clock","value":"6.000000"}},)"
                           R"({"r":{"type":"usage","value":"7.000000"}},)"
                           R"({"r":{"type":"other","value":"8.000000"}}]})");
}

TEST(SnapshotBlock, NamesAndLabelsAsTheLibraryGaveThem)
{
    FakeReading invalid = reading(1, 1, "Hidden", 1);
    invalid.valid = false;
    useSensors({
        // Names differing only in case share one member: the later sensor's.
        {"GPU", {reading(1, 0, "Hot Spot", 70)}},
        {"gpu", {reading(1, 0, "Edge", 60)}},
        // No valid reading at all gives null, not an empty array.
        {"Dead", {invalid}},
        // Labels keep their case and may repeat; empty names and labels stay.
        {"", {reading(8, 0, "", 1), reading(8, 1, "Same", 2), reading(8, 2, "Same", 3)}},
    });
    expectBlock(refresh(), "gpu\ngpu\ndead\n\n"
                           R"({"":[{"":{"type":"other","value":"1.000000"}},)"
                           R"({"Same":{"type":"other","value":"2.000000"}},)"
                           R"({"Same":{"type":"other","value":"3.000000"}}],)"
                           R"("dead":null,)"
                           R"("gpu":[{"Edge":{"type":"temperature","value":"60.000000"}}]})");
}

TEST(SnapshotBlock, BytesAboveAsciiAreRawInNameLinesAndEscapedInText)
{
    useSensors({
        // 0xB0 then "C": a degree sign in a single-byte code page, taken by
        // the text form as one two-byte sequence.
        {"Temp \xB0"
         "C",
         {reading(1, 0,
                  "\xB0"
                  "C",
                  1)}},
        {"Caf\xC3\xA9 \xF0\x9F\x98\x80",
         {reading(1, 0, "\xFF", 2), reading(1, 1, "end \xE2\x82", 3),
          reading(1, 2, "ctl\x01\x1f\t\n\"\\/\x7f", 4)}},
    });
    expectBlock(refresh(),
                "temp \xB0"
                "c\ncaf\xC3\xA9 \xF0\x9F\x98\x80\n"
                R"({"caf\u00e9 \ud83d\ude00":[{"\ufffd":{"type":"temperature","value":"2.000000"}},)"
                R"({"end \ufffd\ufffd":{"type":"temperature","value":"3.000000"}},)"
                R"({"ctl\u0001\u001f\t\n\"\\/)"
                "\x7f"
                R"(":{"type":"temperature","value":"4.000000"}}],)"
                R"("temp \u0423":[{"\u0403":{"type":"temperature","value":"1.000000"}}]})");
}

TEST(SnapshotBlock, NameAndLabelWithoutNulEndAtTheirBuffers)
{
    std::string longName(2000, 'N');
    std::string longLabel(500, 'L');
    useSensors({{longName, {reading(1, 0, longLabel, 1)}}});
    std::string name(1024, 'n');
    std::string label(136, 'L');
    expectBlock(refresh(), name + "\n{\"" + name + "\":[{\"" + label +
                               R"(":{"type":"temperature","value":"1.000000"}}]})");
}

TEST(SnapshotBlock, ValuesAreStringsInFixedNotation)
{
    useSensors({{"v",
                 {reading(1, 0, "zero", 0.0), reading(1, 1, "minus zero", -0.0),
                  reading(1, 2, "rounds to minus zero", -1e-9),
                  reading(1, 3, "nan", fromBits(0x7ff8000000000000))}}});
    expectBlock(refresh(), "v\n"
                           R"({"v":[{"zero":{"type":"temperature","value":"0.000000"}},)"
                           R"({"minus zero":{"type":"temperature","value":"-0.000000"}},)"
                           R"({"rounds to minus zero":{"type":"temperature","value":"-0.000000"}},)"
                           R"({"nan":{"type":"temperature","value":"nan"}}]})");
}

TEST(ReadingValueText, FiniteAndNonFiniteForms)
{
    struct Case {
        double value;
        std::string_view text;
    };
    const Case cases[] = {
        {0.0, "0.000000"},
        {-0.0, "-0.000000"},
        {-4e-7, "-0.000000"},
        {-5e-7 * 1.01, "-0.000001"},
        {45.0, "45.000000"},
        {-0.5, "-0.500000"},
        {0.0078125, "0.007812"},
        {0.0234375, "0.023438"},
        {1234567.0000004, "1234567.000000"},
        {1e21, "1000000000000000000000.000000"},
        {2.5e-6, "0.000003"},
        {fromBits(0x0000000000000001), "0.000000"},
        {fromBits(0x7ff0000000000000), "inf"},
        {fromBits(0xfff0000000000000), "-inf"},
        {fromBits(0x7ff8000000000000), "nan"},
        {fromBits(0xfff8000000000000), "-nan(ind)"},
        {fromBits(0xfff8000000000001), "-nan"},
        {fromBits(0xfffc000000000000), "-nan"},
        {fromBits(0x7fffffffffffffff), "nan"},
        {fromBits(0x7ff0000000000001), "nan(snan)"},
        {fromBits(0x7ff4000000000000), "nan(snan)"},
        {fromBits(0xfff0000000000001), "-nan(snan)"},
    };
    std::array<char, valueTextCapacity> buffer;
    for (const Case &c : cases)
        EXPECT_EQ(formatReadingValue(c.value, buffer), c.text) << std::bit_cast<std::uint64_t>(c.value);

    // Away from ties every value must read back as the nearest six-decimal
    // text, which glibc's own "%f" also prints.
    std::uint64_t bits = 0x9E3779B97F4A7C15;
    for (int i = 0; i < 20000; ++i) {
        bits = bits * 6364136223846793005 + 1442695040888963407;
        double value = std::ldexp(std::bit_cast<double>((bits >> 12) | 0x3ff0000000000000) - 1.0,
                                  static_cast<int>(bits % 80) - 40);
        if (i % 2 == 1)
            value = -value;
        char expected[400];
        std::snprintf(expected, sizeof expected, "%f", value);
        ASSERT_EQ(formatReadingValue(value, buffer), expected);
    }

    std::string largest = std::string(formatReadingValue(-1.7976931348623157e308, buffer));
    EXPECT_EQ(largest.size(), 1 + 309 + 7);
    EXPECT_EQ(largest.substr(0, 6), "-17976");
    EXPECT_EQ(largest.substr(largest.size() - 7), ".000000");
}

// Enough long labels that the text alone passes 1 MiB.
std::vector<FakeSensor> oversizedScenario()
{
    FakeSensor sensor{"Big", {}};
    for (std::int32_t index = 0; index < 1024; ++index) {
        for (std::int32_t type = 1; type <= 8; ++type)
            sensor.readings.push_back(
                reading(type, index, std::string(135, 'a' + static_cast<char>(type)), index));
    }
    return {sensor, {"after", {reading(1, 0, "x", 1)}}};
}

TEST(SnapshotBlock, ContentPastOneMebibyteIsCutAtTheBoundary)
{
    useSensors(oversizedScenario());
    // The same refresh into a region big enough for all of it shows what the
    // cut block must begin with.
    Block whole = refresh(Block(4 * blockSize, std::byte{0}));
    std::string all = content(whole);
    ASSERT_GT(all.size(), blockSize);

    Block region = oldBlock(blockSize + 4096);
    refreshBlock(fakeLibrary(), std::span(region).first(blockSize), fakeYield);
    EXPECT_TRUE(std::equal(region.begin(), region.begin() + blockSize, whole.begin()));
    EXPECT_TRUE(std::all_of(region.begin() + blockSize, region.end(), [](std::byte b) {
        return b == std::byte{0xAA};
    })) << "written past the end of the block";
}

TEST(SnapshotBlock, NameLinesPastOneMebibyteAreCutToo)
{
    std::vector<FakeSensor> sensors(1025, FakeSensor{std::string(1023, 'S'), {}});
    useSensors(sensors);
    Block region = oldBlock(blockSize + 4096);
    refreshBlock(fakeLibrary(), std::span(region).first(blockSize), fakeYield);
    std::string_view text(reinterpret_cast<const char *>(region.data()), blockSize);
    EXPECT_EQ(text.substr(0, blockHeader.size()), blockHeader);
    std::string line = std::string(1023, 's') + "\n";
    for (std::size_t offset = blockHeader.size(); offset < blockSize; offset += line.size())
        ASSERT_EQ(text.substr(offset, line.size()), std::string_view(line).substr(0, blockSize - offset));
    EXPECT_EQ(region[blockSize], std::byte{0xAA});
}

TEST(SnapshotBlock, ZeroFillCoversAnOlderLongerRefresh)
{
    useSensors(oversizedScenario());
    Block block = refresh();
    useSensors({{"Small", {reading(5, 0, "Power", 12.5)}}});
    block = refresh(std::move(block));
    expectBlock(block, "small\n"
                       R"({"small":[{"Power":{"type":"power","value":"12.500000"}}]})");
}

TEST(SnapshotBlock, CallsEveryEntryInOrderWithZeroedRecords)
{
    useSensors({{"A", {reading(2, 5, "x", 1)}}, {"B", {}}});
    fake.recordCalls = true;
    refresh();

    std::vector<FakeCall> expected = {{'p'}, {'c'}};
    for (std::int32_t sensor = 0; sensor < 2; ++sensor) {
        expected.push_back({'s', sensor});
        expected.push_back({'n', sensor, 1024});
        for (std::int32_t index = 0; index < 1024; ++index) {
            for (std::int32_t type = 1; type <= 8; ++type)
                expected.push_back({'r', type, sensor, index});
            expected.push_back({'y'});
        }
    }
    ASSERT_EQ(fake.calls.size(), expected.size());
    EXPECT_TRUE(fake.calls == expected);
    EXPECT_EQ(fake.dirtyRecords, 0);
}

// The block of the running refresh, for the entry below that looks at it.
std::span<const std::byte> blockUnderRefresh;
std::string seenDuringCollection;

std::int32_t nameLookingAtBlock(std::int32_t sensor, char *buffer, std::int32_t)
{
    seenDuringCollection += content(Block(blockUnderRefresh.begin(), blockUnderRefresh.end())) + "|";
    std::string_view name = sensor == 0 ? "First" : "Second";
    std::memcpy(buffer, name.data(), name.size() + 1);
    return 0;
}

TEST(SnapshotBlock, NameLinesLandDuringCollectionAndTheHeaderLast)
{
    useSensors({{"First", {}}, {"Second", {}}});
    SensorLibrary library = fakeLibrary();
    library.nameEntry = nameLookingAtBlock;
    Block block(blockSize, std::byte{'.'});
    block[200] = std::byte{0};
    blockUnderRefresh = block;
    seenDuringCollection.clear();
    refreshBlock(library, block, fakeYield);
    std::string dots(34, '.');
    EXPECT_EQ(seenDuringCollection,
              std::string(200, '.') + "|" + dots + "first\n" + std::string(200 - 40, '.') + "|");
    expectBlock(block, "first\nsecond\n"
                       R"({"first":null,"second":null})");
}

}  // namespace

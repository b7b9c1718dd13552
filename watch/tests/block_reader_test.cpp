#include "watch/block_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace watch;

const std::string names = "cpu\nsystem board\ndead sensor\n";
const std::string text =
    R"x({"cpu":[{"Core 0":{"type":"temperature","value":"41.000000"}},)x"
    R"x({"Core 0":{"type":"clock","value":"3600.000000"}}],)x"
    R"x("dead sensor":null,"system board":[{"Fan 1":{"type":"fan","value":"-nan(ind)"}}]})x";

// A block of `size` bytes that starts with `content` and is zero after it.
std::vector<std::byte> blockWith(std::string_view content, std::size_t size = 4096)
{
    std::vector<std::byte> block(size);
    std::memcpy(block.data(), content.data(), std::min(content.size(), size));
    return block;
}

std::string published(std::string_view nameLines, std::string_view jsonText)
{
    return std::string(blockHeader) + std::string(nameLines) + std::string(jsonText);
}

TEST(ReadBlock, NothingPublishedYetIsNotReady)
{
    EXPECT_EQ(readBlock(std::vector<std::byte>(blockSize)).status, BlockStatus::noHeader);
    // A block too small for even the header never becomes ready.
    EXPECT_EQ(readBlock(blockWith(blockHeader.substr(0, 20), 20)).status, BlockStatus::noHeader);
    EXPECT_EQ(readBlock(blockWith(published("", ""))).status, BlockStatus::invalid);
}

TEST(ReadBlock, CompleteBlockGivesNamesTextAndReadings)
{
    const ReadResult result = readBlock(blockWith(published(names, text), blockSize));
    ASSERT_EQ(result.status, BlockStatus::valid) << result.error;
    const Snapshot &snapshot = result.snapshot;
    EXPECT_EQ(snapshot.nameLines, (std::vector<std::string>{"cpu", "system board", "dead sensor"}));
    EXPECT_EQ(snapshot.text, text);

    ASSERT_EQ(snapshot.sensors.size(), 3u);
    const Sensor &cpu = snapshot.sensors[0];
    EXPECT_EQ(cpu.name, "cpu");
    ASSERT_EQ(cpu.readings.size(), 2u);
    // A label may repeat; the readings keep their order.
    EXPECT_EQ(cpu.readings[0].label, "Core 0");
    EXPECT_EQ(cpu.readings[0].type, "temperature");
    EXPECT_EQ(cpu.readings[1].label, "Core 0");
    EXPECT_EQ(cpu.readings[1].value, "3600.000000");
    EXPECT_EQ(snapshot.sensors[1].name, "dead sensor");
    EXPECT_TRUE(snapshot.sensors[1].noReading);
    EXPECT_TRUE(snapshot.sensors[1].readings.empty());
    EXPECT_EQ(snapshot.sensors[2].readings.at(0).value, "-nan(ind)");
}

TEST(ReadBlock, NoSensorsIsNullRoot)
{
    const ReadResult result = readBlock(blockWith(published("", "null")));
    ASSERT_EQ(result.status, BlockStatus::valid) << result.error;
    EXPECT_TRUE(result.snapshot.nameLines.empty());
    EXPECT_TRUE(result.snapshot.sensors.empty());
}

TEST(ReadBlock, NamesWithHighBytesArePassedThroughRaw)
{
    const std::string name = "\xe4\xb8\xad cpu \xff";
    const std::string json = "{\"" + name + R"(":[{"\u00e9t\u00e9":{"type":"t","value":"1.000000"}}]})";
    const ReadResult result = readBlock(blockWith(published(name + "\n", json)));
    ASSERT_EQ(result.status, BlockStatus::valid) << result.error;
    EXPECT_EQ(result.snapshot.nameLines.at(0), name);
    EXPECT_EQ(result.snapshot.sensors.at(0).name, name);
    EXPECT_EQ(result.snapshot.sensors.at(0).readings.at(0).label, "\xc3\xa9t\xc3\xa9");
}

// The writer never waits for the reader, so a copy can catch any moment of a
// refresh.
TEST(ReadBlock, MidRefreshCopies)
{
    // New name lines of the same length in front of the old text: still a
    // whole text, and accepted.
    const ReadResult renamed = readBlock(blockWith(published("gpu\nsystem board\ndead sensor\n", text)));
    ASSERT_EQ(renamed.status, BlockStatus::valid) << renamed.error;
    EXPECT_EQ(renamed.snapshot.nameLines.at(0), "gpu");
    EXPECT_EQ(renamed.snapshot.sensors.at(0).name, "cpu");

    // Longer new name lines over the front of the old text.
    EXPECT_EQ(readBlock(blockWith(published(names + "extra\n", text.substr(6)))).status,
              BlockStatus::invalid);

    // Every partly written text, with the zero fill not yet done.
    for (std::size_t length = 1; length < text.size(); ++length) {
        const ReadResult partial = readBlock(blockWith(published(names, text.substr(0, length))));
        EXPECT_EQ(partial.status, BlockStatus::invalid) << "accepted a text cut to " << length << " bytes";
    }
}

TEST(ReadBlock, ClippedBlockWithoutZeroByte)
{
    const std::string full = published(names, text);
    const ReadResult clipped = readBlock(blockWith(full, full.size() - 5));
    EXPECT_EQ(clipped.status, BlockStatus::invalid);
    EXPECT_NE(clipped.error.find("not terminated"), std::string::npos) << clipped.error;
    // Content that fills the block exactly is still whole.
    EXPECT_EQ(readBlock(blockWith(full, full.size())).status, BlockStatus::valid);
}

TEST(ReadBlock, WrongShapesAreReportedOnOneLine)
{
    const struct {
        std::string json;
        std::string expected;
    } cases[] = {
        {"[]", "the root is neither an object nor null"},
        {"5", "the root is neither an object nor null"},
        {R"({"cpu":{}})", R"(sensor "cpu" is neither an array nor null)"},
        {R"({"cpu":[5]})", R"(sensor "cpu" reading 1 is not an object with exactly one member)"},
        {R"({"cpu":[{"a":{"type":"t","value":"1"},"b":{"type":"t","value":"1"}}]})", "exactly one member"},
        {R"({"cpu":[{"a":{"type":"t","value":"1"}},{"b":{"type":"t","value":1.5}}]})",
         R"(sensor "cpu" reading 2 label "b" does not hold exactly a string "type" and a string "value")"},
        {R"({"cpu":[{"a":{"type":"t"}}]})", R"(label "a" does not hold)"},
        {R"({"cpu":[{"a":{"type":"t","value":"1","unit":"C"}}]})", R"(label "a" does not hold)"},
        {"{\"c\\npu\x01\":{}}", R"(sensor "c\x0apu\x01")"},
    };
    for (const auto &[json, expected] : cases) {
        const ReadResult result = readBlock(blockWith(published("", json)));
        EXPECT_EQ(result.status, BlockStatus::invalid) << json;
        EXPECT_NE(result.error.find(expected), std::string::npos) << json << " gave: " << result.error;
        EXPECT_EQ(result.error.find('\n'), std::string::npos) << result.error;
    }
}

TEST(ReadBlock, GarbageAfterHeaderIsRejected)
{
    const std::vector<std::string> garbage{"null x",       R"({"cpu":null}})", "{\"cpu\":null}\x01",  "nul",
                                           "{'cpu':null}", R"({"cpu":null,})", std::string(5000, '[')};
    for (const std::string &json : garbage) {
        const ReadResult result = readBlock(blockWith(published("", json), 8192));
        EXPECT_EQ(result.status, BlockStatus::invalid) << json;
        EXPECT_FALSE(result.error.empty());
        EXPECT_EQ(result.error.find('\n'), std::string::npos) << result.error;
    }

    std::mt19937 random(12345);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 500; ++round) {
        std::string noise(1 + static_cast<std::size_t>(round), '\0');
        for (char &c : noise)
            c = static_cast<char>(byte(random));
        const ReadResult result = readBlock(blockWith(published("", noise)));
        EXPECT_NE(result.status, BlockStatus::valid) << "round " << round;
    }
}

}  // namespace

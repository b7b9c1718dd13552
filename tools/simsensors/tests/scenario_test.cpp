#include "tools/simsensors/scenario.h"

#include <gtest/gtest.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace simsensors {
namespace {

const Reading &readingAt(const Scenario &scenario, std::int32_t sensor, Type type, std::int32_t index)
{
    static const Reading absent{"absent", 0, 0, false};
    const Reading *found = findReading(scenario, static_cast<std::int32_t>(type), sensor, index);
    EXPECT_NE(found, nullptr) << "sensor " << sensor << " index " << index;
    return found ? *found : absent;
}

std::uint64_t bits(double value)
{
    return std::bit_cast<std::uint64_t>(value);
}

Scenario parsed(std::string_view text)
{
    ParseResult result = parseScenario(text);
    EXPECT_EQ(result.line, 0) << result.problem;
    return std::move(result.scenario);
}

TEST(ScenarioParse, SensorsAndReadingsWithIndexesAndOptions)
{
    const Scenario s = parsed("# A comment, then a blank line.\n"
                              "\n"
                              "sensor \"CPU [#0]: Test\"  # trailing comment\n"
                              "reading temperature \"Core 0\" 41.5\n"
                              "reading temperature \"Core 0\" 42\n"
                              "reading temperature @1023 \"Last\" -3.25 drift 2\n"
                              "reading voltage @7 \"Vcore\" 1.2 invalid\n"
                              "reading voltage \"After\" 0\n"
                              "sensor \"\"\r\n"
                              "sensor \"cpu [#0]: test\"\n"
                              "reading other \"\" 1e3");
    ASSERT_EQ(s.sensors.size(), 3u);
    EXPECT_EQ(sensorCount(s), 3);
    EXPECT_EQ(s.sensors[0].name, "CPU [#0]: Test");
    EXPECT_EQ(s.sensors[1].name, "");
    EXPECT_EQ(s.sensors[2].name, "cpu [#0]: test");

    EXPECT_EQ(readingAt(s, 0, Type::temperature, 0).label, "Core 0");
    EXPECT_EQ(readingAt(s, 0, Type::temperature, 1).label, "Core 0");
    const Reading &last = readingAt(s, 0, Type::temperature, 1023);
    EXPECT_EQ(last.value, -3.25);
    EXPECT_EQ(last.drift, 2);
    EXPECT_FALSE(readingAt(s, 0, Type::voltage, 7).valid);
    EXPECT_EQ(readingAt(s, 0, Type::voltage, 8).label, "After");
    EXPECT_EQ(findReading(s, 2, 0, 0), nullptr);
    EXPECT_EQ(readingAt(s, 2, Type::other, 0).value, 1000);
}

TEST(ScenarioParse, StringsAreRawBytesWithEscapes)
{
    const Scenario s = parsed(R"(sensor "a\\b\"c\nd\te\x00\x80\xFFz")"
                              "\n"
                              "reading usage \"\xC3\x28 raw\" 1\n");
    EXPECT_EQ(s.sensors[0].name, std::string("a\\b\"c\nd\te\0\x80\xff"
                                             "z",
                                             13));
    EXPECT_EQ(readingAt(s, 0, Type::usage, 0).label, "\xC3\x28 raw");
}

TEST(ScenarioParse, FillRepeatsBytesOverTheWholeBuffer)
{
    const Scenario s = parsed("sensor fill \"ab\"\nreading usage fill \"xyz\" 1\n");
    const std::string &name = s.sensors[0].name;
    ASSERT_EQ(name.size(), nameCapacity);
    EXPECT_EQ(name.substr(1020), "abab");
    const std::string &label = readingAt(s, 0, Type::usage, 0).label;
    ASSERT_EQ(label.size(), labelCapacity);
    EXPECT_EQ(label.substr(129), "xyzxyzx");
}

TEST(ScenarioParse, ValuesKeepTheirExactBits)
{
    const Scenario s = parsed("sensor \"s\"\n"
                              "reading other \"\" inf\n"
                              "reading other \"\" -inf\n"
                              "reading other \"\" nan\n"
                              "reading other \"\" -nan\n"
                              "reading other \"\" bits:7ff4000000000000\n"
                              "reading other \"\" bits:fff8000000000001\n"
                              "reading other \"\" bits:1\n"
                              "reading other \"\" 0.1\n");
    const auto value = [&](std::int32_t index) { return readingAt(s, 0, Type::other, index).value; };
    EXPECT_EQ(bits(value(0)), bits(INFINITY));
    EXPECT_EQ(bits(value(1)), bits(-INFINITY));
    EXPECT_TRUE(std::isnan(value(2)) && !std::signbit(value(2)));
    EXPECT_TRUE(std::isnan(value(3)) && std::signbit(value(3)));
    EXPECT_EQ(bits(value(4)), 0x7ff4000000000000u);
    EXPECT_EQ(bits(value(5)), 0xfff8000000000001u);
    EXPECT_EQ(bits(value(6)), 1u);
    EXPECT_EQ(value(7), 0.1);
    // A reading without drift hands out its bits untouched, signalling NaN included.
    EXPECT_EQ(bits(valueAt(readingAt(s, 0, Type::other, 4), 0, 8, 4, 5)), 0x7ff4000000000000u);
}

TEST(ScenarioParse, CountInitFailAndGenerate)
{
    Scenario s = parsed("count -3\ninit-fail 13\n");
    EXPECT_EQ(sensorCount(s), -3);
    EXPECT_EQ(s.initError, 13);
    s = parsed("sensor \"A\"\ncount 5\n");
    EXPECT_EQ(sensorCount(s), 5);
    EXPECT_EQ(findReading(s, 1, 3, 0), nullptr);

    s = parsed("generate 64 2000\n");
    ASSERT_EQ(s.sensors.size(), 64u);
    int readings = 0;
    std::size_t longest = 0;
    for (const Sensor &sensor : s.sensors) {
        for (const auto &slots : sensor.readings) {
            longest = std::max(longest, slots.size());
            for (const auto &reading : slots)
                readings += reading && reading->drift != 0 ? 1 : 0;
        }
    }
    EXPECT_EQ(readings, 2000);
    EXPECT_GT(longest, 512u);
    EXPECT_EQ(parseScenario("generate 2 16384").line, 0);
}

TEST(ScenarioParse, MalformedLinesReportTheirLineAndProblem)
{
    struct Case {
        std::string text;
        int line;
        std::string problem;
    };
    const std::string sensor = "sensor \"a\"\n";
    const Case cases[] = {
        {"bogus 1", 1, "unknown keyword \"bogus\""},
        {"\"sensor\"", 1, "expected a keyword"},
        {"reading fan \"b\" 1", 1, "reading before any sensor"},
        {sensor + "reading heat \"b\" 1", 2, "expected a reading type"},
        {sensor + "\nreading fan @1024 \"b\" 1", 3, "from 0 to 1023"},
        {sensor + "reading fan @-1 \"b\" 1", 2, "from 0 to 1023"},
        {sensor + "reading fan @3 \"b\" 1\nreading fan @3 \"c\" 2", 3, "fan reading index 3 is already used"},
        {sensor + "reading fan @1023 \"b\" 1\nreading fan \"c\" 2", 3, "no reading index after 1023"},
        {"sensor \"a", 1, "unterminated string"},
        {"sensor \"a\\", 1, "unterminated string"},
        {"sensor \"a\\q\"", 1, "unknown escape \\q"},
        {"sensor \"\\x4\"", 1, "\\x needs two hex digits"},
        {"sensor \"a\"b", 1, "expected a space after a closing quote"},
        {"sensor name", 1, "expected the sensor name in quotes"},
        {"sensor fill \"\"", 1, "fill needs a non-empty string"},
        {"sensor \"a\" extra", 1, "unexpected \"extra\""},
        {"sensor \"" + std::string(1024, 'n') + "\"", 1, "sensor name is longer than 1023 bytes"},
        {sensor + "reading power \"" + std::string(136, 'x') + "\" 1", 2, "label is longer than 135 bytes"},
        {sensor + "reading power \"b\"", 2, "expected a value"},
        {sensor + "reading power \"b\" 1,5", 2, "expected a value"},
        {sensor + "reading power \"b\" bits:7ff4g", 2, "expected a value"},
        {sensor + "reading power \"b\" bits:17ff4000000000000", 2, "expected a value"},
        {sensor + "reading power \"b\" 1 drift nan", 2, "drift must be a finite number"},
        {sensor + "reading power \"b\" 1 stale", 2, "expected drift or invalid"},
        {"count 2147483648", 1, "count must be an integer"},
        {"count", 1, "count must be an integer"},
        {"init-fail 0", 1, "init-fail error must be an integer from 1"},
        {"generate 0 10", 1, "generated sensors must be"},
        {"generate 2 16385", 1, "exceed 8192 per sensor"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        const ParseResult result = parseScenario(c.text);
        EXPECT_EQ(result.line, c.line);
        EXPECT_NE(result.problem.find(c.problem), std::string::npos) << result.problem;
        EXPECT_TRUE(result.scenario.sensors.empty());
    }
}

TEST(ScenarioFile, LoadNamesTheFileInItsErrors)
{
    const auto path = std::filesystem::temp_directory_path() / "simsensors_load_test.txt";
    const std::string name = path.string();
    std::filesystem::remove(path);
    LoadResult loaded = loadScenarioFile(name.c_str());
    EXPECT_EQ(loaded.error, ENOENT);
    EXPECT_NE(loaded.message.find(name), std::string::npos) << loaded.message;

    std::ofstream(path) << "sensor \"a\"\nsensor b\n";
    loaded = loadScenarioFile(name.c_str());
    EXPECT_EQ(loaded.error, EINVAL);
    EXPECT_NE(loaded.message.find(name + ":2: expected the sensor name in quotes"), std::string::npos)
        << loaded.message;

    std::ofstream(path) << "sensor \"a\"\n";
    loaded = loadScenarioFile(name.c_str());
    EXPECT_EQ(loaded.error, 0);
    EXPECT_EQ(loaded.scenario.sensors.size(), 1u);
    std::filesystem::remove(path);
}

TEST(DefaultScenario, IsADesktopPcWhoseValuesDrift)
{
    const ParseResult parsed = parseScenario(defaultScenarioText);
    ASSERT_EQ(parsed.line, 0) << parsed.problem;
    const Scenario s = defaultScenario();
    EXPECT_GE(s.sensors.size(), 10u);
    int readings = 0;
    int drifting = 0;
    for (std::int32_t sensor = 0; sensor < sensorCount(s); ++sensor) {
        EXPECT_FALSE(s.sensors[static_cast<std::size_t>(sensor)].name.empty());
        for (std::int32_t type = 1; type <= typeCount; ++type) {
            for (std::int32_t index = 0; index < readingSlots; ++index) {
                const Reading *reading = findReading(s, type, sensor, index);
                if (reading == nullptr)
                    continue;
                ++readings;
                EXPECT_TRUE(reading->valid);
                EXPECT_LT(reading->label.size(), labelCapacity);
                const double first = valueAt(*reading, sensor, type, index, 0);
                const double second = valueAt(*reading, sensor, type, index, 1);
                EXPECT_LE(std::abs(second - reading->value), reading->drift);
                drifting += first != second ? 1 : 0;
            }
        }
    }
    EXPECT_GE(readings, 150);
    EXPECT_GE(drifting, readings / 2);
}

}  // namespace
}  // namespace simsensors

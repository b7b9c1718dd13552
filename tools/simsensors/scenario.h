// What the simulated sensor library reports: sensors, their readings and the
// way init behaves, either built in or read from a scenario file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/vendor_library.h"

namespace simsensors {

using Type = vendor::ReadingType;

inline constexpr std::int32_t typeCount = vendor::readingTypeCount;
inline constexpr std::int32_t readingSlots = 1024;
inline constexpr std::size_t nameCapacity = 1024;
inline constexpr std::size_t labelCapacity = 136;

// The type words of the scenario format, at position code - 1.
inline constexpr std::array<std::string_view, typeCount> typeNames = {
    "temperature", "voltage", "fan", "current", "power", "clock", "usage", "other"};

// Names and labels are raw bytes. One exactly as long as its buffer
// (nameCapacity, labelCapacity) is a fill text and is handed out without a
// terminating NUL; any other is shorter and always gets one.
struct Reading {
    std::string label;
    double value = 0;
    // Amplitude of the swing applied on every poll. Zero hands out value with
    // its exact bits, which keeps special NaNs intact.
    double drift = 0;
    // An invalid reading is still handed out, with its valid flag at 0.
    bool valid = true;
};

struct Sensor {
    std::string name;
    // Per type (code - 1), the readings by reading index; empty slots are
    // readings that do not exist.
    std::array<std::vector<std::optional<Reading>>, typeCount> readings;
};

struct Scenario {
    std::vector<Sensor> sensors;
    // The sensor count to report instead of the number of sensors.
    std::optional<std::int32_t> count;
    // Non-zero: init fails and leaves this as the thread's last error.
    int initError = 0;
};

std::int32_t sensorCount(const Scenario &scenario);

// One past the highest reading index used so far for this sensor and type.
std::int32_t nextIndex(const Sensor &sensor, std::int32_t type);

// Puts the reading at its slot; false when the slot is already taken.
bool addReading(Sensor &sensor, std::int32_t type, std::int32_t index, Reading reading);

// The reading behind the entry arguments; null for any argument out of range
// and for a reading that does not exist.
const Reading *findReading(const Scenario &scenario, std::int32_t type, std::int32_t sensor,
                           std::int32_t index);

// The value a reading shows after the given number of polls.
double valueAt(const Reading &reading, std::int32_t sensor, std::int32_t type, std::int32_t index,
               std::uint64_t polls);

// The text of the built-in scenario: a desktop PC with an 8-core CPU, a
// graphics card, a motherboard and two drives (default.scenario).
extern const std::string_view defaultScenarioText;

// The built-in scenario, parsed from defaultScenarioText.
Scenario defaultScenario();

// Appends sensors generated for size tests, with readings spread round-robin
// over the sensors, then over the types and the whole index range.
void generate(Scenario &scenario, std::int32_t sensors, std::int32_t readings);

inline constexpr std::int32_t maxGeneratedSensors = 4096;
inline constexpr std::int32_t maxGeneratedReadings = 1'000'000;

// A line of zero means the text parsed; otherwise problem says what is wrong
// on that line and scenario is empty.
struct ParseResult {
    Scenario scenario;
    int line = 0;
    std::string problem;
};

ParseResult parseScenario(std::string_view text);

// A non-zero error is the errno value for the failure, with a one-line
// message naming the file.
struct LoadResult {
    Scenario scenario;
    int error = 0;
    std::string message;
};

LoadResult loadScenarioFile(const char *path);

}  // namespace simsensors

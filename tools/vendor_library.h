// What every stand-in for the vendor's sensor library exports: the seven
// entries by ordinal and the reading record that the reading entry fills,
// laid out as the vendor lays it out rather than taken from the program.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vendor {

// The reading type codes that the reading entry takes, 1 to 8.
enum class ReadingType : std::int32_t { temperature = 1, voltage, fan, current, power, clock, usage, other };

inline constexpr std::int32_t firstReadingType = 1;
inline constexpr std::int32_t lastReadingType = 8;
inline constexpr std::int32_t readingTypeCount = 8;

// Only the valid flag, the value and the label are ever written.
struct Record {
    std::int32_t valid;
    std::uint8_t reserved4[4];
    double value;
    std::uint8_t reserved16[312];
    char label[136];
};

static_assert(sizeof(Record) == 464);
static_assert(offsetof(Record, valid) == 0);
static_assert(offsetof(Record, value) == 8);
static_assert(offsetof(Record, label) == 328);

}  // namespace vendor

extern "C" {

// Init; zero on success, otherwise non-zero with the thread's last error set.
std::int32_t ordinal_481(std::int32_t flags);
// Spare: never called, but must be there.
void ordinal_360();
// The number of sensors.
std::int32_t ordinal_994();
// Poll: takes a new sample of every value.
std::int32_t ordinal_256();
// Selects a sensor before its name is asked for.
std::int32_t ordinal_318(std::int32_t sensor);
// Writes the sensor's name into buffer, never more than size bytes.
std::int32_t ordinal_802(std::int32_t sensor, char *buffer, std::int32_t size);
// Fills record for an existing reading and leaves it alone otherwise.
std::int32_t ordinal_714(std::int32_t type, std::int32_t sensor, std::int32_t reading,
                         vendor::Record *record);
}

// The seven entry points of the libsensors-backed sensor library, exported by
// ordinal, and the record that the reading entry fills.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hwmonsensors {

// The vendor's reading record; only the valid flag, the value and the label
// are ever written.
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

}  // namespace hwmonsensors

extern "C" {

// Init: starts libsensors with the system's configuration and reads every
// value once. Zero on success; otherwise 1 with errno set.
std::int32_t ordinal_481(std::int32_t flags);
// Spare: never called, but must be there.
void ordinal_360();
// The number of chips that the last poll found.
std::int32_t ordinal_994();
// Poll: detects chips again when due and reads every value once.
std::int32_t ordinal_256();
// Selects a chip before its name is asked for: 0 for a chip in range, -1
// otherwise.
std::int32_t ordinal_318(std::int32_t sensor);
// Writes the chip's name into buffer, NUL-terminated within size bytes.
std::int32_t ordinal_802(std::int32_t sensor, char *buffer, std::int32_t size);
// Fills record from what the last poll read, for an existing reading only.
std::int32_t ordinal_714(std::int32_t type, std::int32_t sensor, std::int32_t reading,
                         hwmonsensors::Record *record);
}

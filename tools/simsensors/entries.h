// The seven entry points of the simulated sensor library, exported by ordinal,
// and the record that the reading entry fills.
#pragma once

#include <cstddef>
#include <cstdint>

namespace simsensors {

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

// Leaves code as the calling thread's last error, where the vendor library
// reports why init failed: errno on POSIX, SetLastError on Windows.
void setLastError(int code);

}  // namespace simsensors

extern "C" {

// Init: loads the scenario named by HWINFO_SIM_SCENARIO, or the default one.
// Zero on success.
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
                         simsensors::Record *record);
}

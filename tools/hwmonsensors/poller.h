// The chips and readings that the library serves, and when they are taken
// from the hardware: everything the entries hand out comes from the last
// poll, so that one refresh of the bridge sees one consistent picture however
// the hardware changes meanwhile.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/hwmonsensors/mapping.h"

namespace hwmonsensors {

inline constexpr std::int32_t readingsPerType = 1024;
inline constexpr std::size_t labelCapacity = 136;

struct Reading {
    std::string label;
    // The hardware reads the value through this libsensors subfeature number.
    int subfeature = -1;
    // NaN while not valid, so that no caller can mistake it for a measurement.
    double value = std::numeric_limits<double>::quiet_NaN();
    bool valid = false;
};

struct Chip {
    std::string name;
    // The hardware's own reference to the chip. It holds only until the next
    // scan, which is why nothing outside a poll ever uses it.
    const void *handle = nullptr;
    // One list per type, indexed by type code minus one, so that a reading
    // index is a position in its list and a lookup costs the same for any.
    std::array<std::vector<Reading>, readingTypeCount> readings;

    // Gives the reading the next index of its type. Past the last index the
    // reading cannot be addressed, so it is dropped and false returned.
    bool add(ReadingType type, std::string label, int subfeature);
};

// Where chips and values come from: libsensors in the library, a stand-in in
// the tests.
class Hardware {
  public:
    virtual ~Hardware() = default;
    // A cheap summary of the hardware's shape; when it changes, chips or
    // features may have come or gone and a scan is due.
    virtual std::string fingerprint() = 0;
    // Detects the chips afresh and lists them with their readings, values not
    // yet read. Returns 0 or the errno value of the failure.
    virtual int scan(std::vector<Chip> &chips) = 0;
    // One value as the hardware gives it now; false when it cannot be read.
    virtual bool read(const Chip &chip, const Reading &reading, double &value) = 0;
};

class Poller {
  public:
    // Besides whenever the fingerprint changes, the chips are scanned afresh
    // every rescanPeriod polls, for changes that the fingerprint cannot see.
    Poller(Hardware &hardware, unsigned rescanPeriod);

    // Scans and reads every value. Returns 0 or the errno value of a failed
    // scan, which leaves no chips.
    int start();
    // Scans again when due, then reads every value once.
    void poll();

    // The chips as of the last poll, which the hardware cannot change.
    std::int32_t count() const;
    const Chip *chip(std::int32_t sensor) const;
    const Reading *reading(std::int32_t type, std::int32_t sensor, std::int32_t index) const;

  private:
    int scan(std::string fingerprint);
    void readValues();

    Hardware &hardware_;
    unsigned rescanPeriod_;
    unsigned pollsSinceScan_ = 0;
    std::string fingerprint_;
    std::vector<Chip> chips_;
};

// Copies text into out, cut to leave room for the NUL that always follows.
void copyTerminated(std::span<char> out, std::string_view text);

}  // namespace hwmonsensors

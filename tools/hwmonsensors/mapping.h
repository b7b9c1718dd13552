// How libsensors' view of the hardware becomes the vendor library's: feature
// kinds become reading type codes, and libsensors' error codes become errno
// values.
#pragma once

#include <sensors/sensors.h>

#include <array>
#include <cstdint>
#include <optional>

#include "tools/vendor_library.h"

namespace hwmonsensors {

using vendor::firstReadingType;
using vendor::lastReadingType;
using vendor::ReadingType;
inline constexpr std::size_t readingTypeCount = vendor::readingTypeCount;

// What a feature reports: its type code, and the subfeatures that may hold the
// value that `sensors` shows for it, best first. Unused slots hold
// SENSORS_SUBFEATURE_UNKNOWN.
struct ReadingKind {
    ReadingType type;
    std::array<sensors_subfeature_type, 2> valueSubfeatures;
};

// The reading a feature of this kind gives, or nothing for a feature that is a
// setting rather than a measurement (beep_enable) or has no kind at all.
std::optional<ReadingKind> readingKindOf(sensors_feature_type feature);

// The errno value that says why a libsensors call failed with this result
// (either sign); EIO for codes this version does not know.
int errorNumberFor(int sensorsResult);

}  // namespace hwmonsensors

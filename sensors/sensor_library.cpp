#include "sensors/sensor_library.h"

#include "platform/platform.h"

SensorLibrary sensorLibrary;

std::string_view readingTypeName(std::int32_t code)
{
    static constexpr std::string_view names[] = {
        "temperature", "voltage", "fan", "current", "power", "clock", "usage", "other",
    };
    if (code < firstReadingType || code > lastReadingType)
        return {};
    return names[code - firstReadingType];
}

namespace {

template <typename Entry> void resolveInto(void *library, int ordinal, Entry &slot)
{
    slot = reinterpret_cast<Entry>(platform::resolveOrdinal(library, ordinal));
}

}  // namespace

bool bindSensorLibrary()
{
    void *library = platform::loadLibrary("HWiNFO64.dll");
    if (library == nullptr)
        return false;

    // Every ordinal is looked up, even after one is missing, and each slot is
    // tested once at the end.
    resolveInto(library, 481, sensorLibrary.initEntry);
    resolveInto(library, 360, sensorLibrary.spareEntry);
    resolveInto(library, 994, sensorLibrary.countEntry);
    resolveInto(library, 256, sensorLibrary.pollEntry);
    resolveInto(library, 318, sensorLibrary.sensorEntry);
    resolveInto(library, 802, sensorLibrary.nameEntry);
    resolveInto(library, 714, sensorLibrary.readingEntry);

    return sensorLibrary.initEntry != nullptr && sensorLibrary.spareEntry != nullptr &&
           sensorLibrary.countEntry != nullptr && sensorLibrary.pollEntry != nullptr &&
           sensorLibrary.sensorEntry != nullptr && sensorLibrary.nameEntry != nullptr &&
           sensorLibrary.readingEntry != nullptr;
}

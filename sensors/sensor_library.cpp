#include "sensors/sensor_library.h"

#include "platform/platform.h"

SensorLibrary sensorLibrary;

namespace {

template <typename Entry> void resolveInto(void *library, int ordinal, Entry &slot)
{
    slot = reinterpret_cast<Entry>(platform::resolveOrdinal(library, ordinal));
}

}  // namespace

bool bindSensorLibrary()
{
    void *library = platform::loadLibrary(sensorLibraryFileName);
    if (library == nullptr)
        return false;

    // Every ordinal is looked up, even after one is missing, and each slot is
    // tested once at the end.
    resolveInto(library, initOrdinal, sensorLibrary.initEntry);
    resolveInto(library, spareOrdinal, sensorLibrary.spareEntry);
    resolveInto(library, countOrdinal, sensorLibrary.countEntry);
    resolveInto(library, pollOrdinal, sensorLibrary.pollEntry);
    resolveInto(library, sensorOrdinal, sensorLibrary.sensorEntry);
    resolveInto(library, nameOrdinal, sensorLibrary.nameEntry);
    resolveInto(library, readingOrdinal, sensorLibrary.readingEntry);

    return sensorLibrary.initEntry != nullptr && sensorLibrary.spareEntry != nullptr &&
           sensorLibrary.countEntry != nullptr && sensorLibrary.pollEntry != nullptr &&
           sensorLibrary.sensorEntry != nullptr && sensorLibrary.nameEntry != nullptr &&
           sensorLibrary.readingEntry != nullptr;
}

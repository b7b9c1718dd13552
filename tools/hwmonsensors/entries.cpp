#include "tools/hwmonsensors/entries.h"

#include <cerrno>

#include "tools/hwmonsensors/libsensors_hardware.h"
#include "tools/hwmonsensors/poller.h"

namespace hwmonsensors {

namespace {

// A full scan once a minute at the bridge's pace catches what the fingerprint
// cannot see, such as an edited file inside /etc/sensors.d or a driver that
// adds attributes to a device it already registered.
constexpr unsigned rescanPeriod = 60;

// The bridge calls the entries from one thread only, so the state needs no
// lock.
Poller &poller()
{
    static LibsensorsHardware hardware;
    static Poller instance(hardware, rescanPeriod);
    return instance;
}

}  // namespace

}  // namespace hwmonsensors

using namespace hwmonsensors;

std::int32_t ordinal_481(std::int32_t)
{
    // errno is set after everything else has run, so that no call made on the
    // way out can overwrite it.
    const int error = poller().start();
    if (error == 0)
        return 0;
    errno = error;
    return 1;
}

void ordinal_360() {}

std::int32_t ordinal_994()
{
    return poller().count();
}

std::int32_t ordinal_256()
{
    poller().poll();
    return 0;
}

std::int32_t ordinal_318(std::int32_t sensor)
{
    return poller().chip(sensor) != nullptr ? 0 : -1;
}

std::int32_t ordinal_802(std::int32_t sensor, char *buffer, std::int32_t size)
{
    const Chip *chip = poller().chip(sensor);
    if (chip == nullptr || buffer == nullptr || size <= 0)
        return 0;
    copyTerminated({buffer, static_cast<std::size_t>(size)}, chip->name);
    return 1;
}

std::int32_t ordinal_714(std::int32_t type, std::int32_t sensor, std::int32_t reading, Record *record)
{
    const Reading *found = poller().reading(type, sensor, reading);
    if (found == nullptr || record == nullptr)
        return 0;
    record->valid = found->valid ? 1 : 0;
    record->value = found->value;
    copyTerminated(record->label, found->label);
    return 1;
}

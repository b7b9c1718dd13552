#include "tools/hwmonsensors/mapping.h"

#include <cerrno>
#include <cstdlib>

#include <sensors/error.h>

namespace hwmonsensors {

std::optional<ReadingKind> readingKindOf(sensors_feature_type feature)
{
    constexpr sensors_subfeature_type none = SENSORS_SUBFEATURE_UNKNOWN;
    switch (feature) {
    case SENSORS_FEATURE_TEMP:
        return ReadingKind{ReadingType::temperature, {SENSORS_SUBFEATURE_TEMP_INPUT, none}};
    case SENSORS_FEATURE_IN:
        return ReadingKind{ReadingType::voltage, {SENSORS_SUBFEATURE_IN_INPUT, none}};
    case SENSORS_FEATURE_VID:
        // The CPU core voltage the board asks for, in volts like any other.
        return ReadingKind{ReadingType::voltage, {SENSORS_SUBFEATURE_VID, none}};
    case SENSORS_FEATURE_FAN:
        return ReadingKind{ReadingType::fan, {SENSORS_SUBFEATURE_FAN_INPUT, none}};
    case SENSORS_FEATURE_CURR:
        return ReadingKind{ReadingType::current, {SENSORS_SUBFEATURE_CURR_INPUT, none}};
    case SENSORS_FEATURE_POWER:
        // Many drivers (graphics cards, for one) only average their power, and
        // `sensors` shows that average when there is no instant value.
        return ReadingKind{ReadingType::power,
                           {SENSORS_SUBFEATURE_POWER_INPUT, SENSORS_SUBFEATURE_POWER_AVERAGE}};
    case SENSORS_FEATURE_ENERGY:
        return ReadingKind{ReadingType::other, {SENSORS_SUBFEATURE_ENERGY_INPUT, none}};
    case SENSORS_FEATURE_HUMIDITY:
        return ReadingKind{ReadingType::other, {SENSORS_SUBFEATURE_HUMIDITY_INPUT, none}};
    case SENSORS_FEATURE_INTRUSION:
        // An intrusion detector has no input, only its alarm: 1 when the case
        // was opened, 0 otherwise.
        return ReadingKind{ReadingType::other, {SENSORS_SUBFEATURE_INTRUSION_ALARM, none}};
    case SENSORS_FEATURE_BEEP_ENABLE:
    case SENSORS_FEATURE_UNKNOWN:
        return std::nullopt;
    default:
        break;
    }
    // A kind that a newer libsensors knows and this build does not, perhaps at
    // a value that is only an end marker here: libsensors numbers each kind's
    // input subfeature as the kind shifted by eight bits.
    const int code = static_cast<int>(feature);
    if (code < 0 || code > 0x7fffff)
        return std::nullopt;
    return ReadingKind{ReadingType::other, {static_cast<sensors_subfeature_type>(code << 8), none}};
}

int errorNumberFor(int sensorsResult)
{
    switch (std::abs(sensorsResult)) {
    case SENSORS_ERR_WILDCARDS:
    case SENSORS_ERR_CHIP_NAME:
    case SENSORS_ERR_BUS_NAME:
    case SENSORS_ERR_PARSE:
        // A configuration file that libsensors cannot make sense of.
        return EINVAL;
    case SENSORS_ERR_NO_ENTRY:
        return ENOENT;
    case SENSORS_ERR_ACCESS_R:
    case SENSORS_ERR_ACCESS_W:
        return EACCES;
    case SENSORS_ERR_KERNEL:
        // No sysfs, or no hardware-monitoring class in it.
        return ENODEV;
    case SENSORS_ERR_DIV_ZERO:
        return EDOM;
    case SENSORS_ERR_RECURSION:
        return ELOOP;
    default:
        return EIO;
    }
}

}  // namespace hwmonsensors

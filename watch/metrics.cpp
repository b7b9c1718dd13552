#include "watch/metrics.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <system_error>
#include <vector>

namespace watch {
namespace {

// A family of readings in one unit. The values are the vendor library's
// default unit for the type (as the table and the page take them, see
// units.h), moved to the base unit by a power of ten.
struct Family {
    std::string_view type;
    std::string_view name;
    int powerOfTen = 0;
    std::string_view help;
};

// The last family takes "other" and every type that the tool does not know;
// those keep their type as a label, so that they stay apart from each other
// and from "other".
constexpr std::array families{
    Family{"temperature", "sensor_bridge_temperature_celsius", 0,
           "Temperature readings in degrees Celsius, the vendor library's default unit."},
    Family{"voltage", "sensor_bridge_voltage_volts", 0,
           "Voltage readings in volts, the vendor library's default unit."},
    Family{"current", "sensor_bridge_current_amperes", 0,
           "Current readings in amperes, the vendor library's default unit."},
    Family{"power", "sensor_bridge_power_watts", 0,
           "Power readings in watts, the vendor library's default unit."},
    Family{"clock", "sensor_bridge_clock_hertz", 6,
           "Clock readings in hertz: the vendor library's default unit, MHz, times 1e6."},
    Family{"fan", "sensor_bridge_fan_rpm", 0,
           "Fan readings in revolutions per minute, the vendor library's default unit."},
    Family{"usage", "sensor_bridge_usage_ratio", -2,
           "Usage readings as a ratio: the vendor library's default unit, percent, divided by 100."},
    Family{"other", "sensor_bridge_other", 0,
           "Readings of type other as published, without a unit; those of a type the tool does not know "
           "carry it as a type label."},
};
constexpr std::size_t otherFamily = families.size() - 1;

std::size_t familyOf(std::string_view type)
{
    return std::min(
        static_cast<std::size_t>(std::ranges::find(families, type, &Family::type) - families.begin()),
        otherFamily);
}

// Appends a label value as the format wants it between its quotes:
// backslash, double quote and line feed escaped. The model has made it
// well-formed UTF-8.
void appendLabelValue(std::string &out, std::string_view text)
{
    for (std::size_t special; (special = text.find_first_of("\\\"\n")) != std::string_view::npos;) {
        out.append(text.substr(0, special));
        out += '\\';
        out += text[special] == '\n' ? 'n' : text[special];
        text.remove_prefix(special + 1);
    }
    out.append(text);
}

// Appends a sample value; every form of NaN is served alike, like any other
// reading without a meaningful value.
void appendValue(std::string &out, double value)
{
    if (std::isnan(value)) {
        out += "NaN";
    } else if (std::isinf(value)) {
        out += value > 0 ? "+Inf" : "-Inf";
    } else {
        char buffer[32];
        out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
    }
}

// A reading's value times 10^powerOfTen. A finite published text is read
// again with the power as its exponent, which moves its decimal point
// exactly ("45.300000" % is 0.453, where dividing by 100 would give
// 0.45299999999999996); what is not finite stays as it is, and what passes
// the largest double becomes infinite.
double scaled(std::string_view text, double number, int powerOfTen)
{
    if (powerOfTen == 0 || !std::isfinite(number))
        return number;
    char buffer[64];
    if (text.size() + 8 <= sizeof buffer && text.find_first_of("eE") == std::string_view::npos) {
        char *end = std::copy(text.begin(), text.end(), buffer);
        *end++ = 'e';
        end = std::to_chars(end, buffer + sizeof buffer, powerOfTen).ptr;
        double value = 0;
        const auto [parsed, error] = std::from_chars(buffer, end, value);
        if (error == std::errc{} && parsed == end)
            return value;
    }
    return number * std::pow(10.0, powerOfTen);
}

void appendHeader(std::string &out, std::string_view name, std::string_view help, std::string_view type)
{
    out.append("# HELP ").append(name).append(" ").append(help);
    out.append("\n# TYPE ").append(name).append(" ").append(type).append("\n");
}

void appendSample(std::string &out, std::string_view name, const TrackedReading &tracked, bool withType,
                  double value)
{
    const ServedName &served = tracked.served;
    out.append(name).append("{sensor=\"");
    appendLabelValue(out, served.sensor);
    out.append("\",label=\"");
    appendLabelValue(out, served.label);
    if (withType) {
        out.append("\",type=\"");
        appendLabelValue(out, served.type);
    }
    out.append("\",index=\"");
    char index[24];
    out.append(index, std::to_chars(index, index + sizeof index, served.index).ptr);
    out.append("\"} ");
    appendValue(out, value);
    out += '\n';
}

std::string fixed(double value)
{
    char buffer[64];
    return {buffer, std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 3).ptr};
}

std::string gaugeHeader(std::string_view name, std::string_view help)
{
    std::string out;
    appendHeader(out, name, help, "gauge");
    return out;
}

}  // namespace

std::string renderReadings(const Readings &readings, bool units)
{
    // One pass finds each reading's family and the room the text takes, so
    // that the text is appended into one string without growing it.
    std::vector<std::uint8_t> familyIndex(readings.readings.size());
    std::array<std::size_t, families.size()> counts{};
    std::size_t room = 0;
    for (std::size_t i = 0; i < readings.readings.size(); ++i) {
        const ServedName &served = readings.readings[i].served;
        familyIndex[i] = static_cast<std::uint8_t>(familyOf(served.type));
        ++counts[familyIndex[i]];
        // The name, the labels with room for escapes, and the value.
        room += 96 + 2 * (served.sensor.size() + served.label.size() + served.type.size());
    }
    std::string out;
    out.reserve(room + 2048);
    if (!units) {
        appendHeader(out, "sensor_bridge_reading",
                     "A sensor reading as the bridge last published it, in whatever unit the vendor library "
                     "was set to.",
                     "gauge");
        for (const TrackedReading &tracked : readings.readings)
            appendSample(out, "sensor_bridge_reading", tracked, true, tracked.number);
        return out;
    }
    for (std::size_t family = 0; family < families.size(); ++family) {
        if (counts[family] == 0)
            continue;
        const Family &unit = families[family];
        appendHeader(out, unit.name, unit.help, "gauge");
        for (std::size_t i = 0; i < readings.readings.size(); ++i) {
            if (familyIndex[i] != family)
                continue;
            const TrackedReading &tracked = readings.readings[i];
            const bool unknownType = family == otherFamily && tracked.served.type != unit.type;
            appendSample(out, unit.name, tracked, unknownType,
                         scaled(readingOf(readings, tracked).value, tracked.number, unit.powerOfTen));
        }
    }
    return out;
}

std::string renderFreshness(const std::optional<SnapshotAge> &age)
{
    std::string out;
    if (age) {
        out += gaugeHeader("sensor_bridge_snapshot_timestamp_seconds",
                           "Unix time at which the served snapshot appeared in the block.") +
               "sensor_bridge_snapshot_timestamp_seconds " + fixed(age->timestamp) + '\n' +
               gaugeHeader("sensor_bridge_snapshot_age_seconds",
                           "Seconds since the block last changed to a new valid snapshot.") +
               "sensor_bridge_snapshot_age_seconds " + fixed(age->seconds) + '\n';
    }
    const std::string help =
        "1 while the block changed within the last " + std::to_string(freshSeconds) + " seconds, else 0.";
    return out + gaugeHeader("sensor_bridge_snapshot_fresh", help) + "sensor_bridge_snapshot_fresh " +
           (isFresh(age) ? "1" : "0") + '\n';
}

std::string renderBuildInfo()
{
    return gaugeHeader("sensor_bridge_build_info", "A constant 1, labelled with the sensor-bridge version.") +
           "sensor_bridge_build_info{version=\"" SENSOR_BRIDGE_VERSION "\"} 1\n";
}

std::string renderProcess(const platform::ProcessStats &stats)
{
    struct Metric {
        const std::optional<double> &value;
        std::string_view name;
        std::string_view type;
        std::string_view help;
    };
    const std::array metrics{
        Metric{stats.startTimeSeconds, "process_start_time_seconds", "gauge",
               "Start time of the process since the Unix epoch in seconds."},
        Metric{stats.cpuSeconds, "process_cpu_seconds_total", "counter",
               "Total user and system processor time spent in seconds."},
        Metric{stats.residentBytes, "process_resident_memory_bytes", "gauge",
               "Resident memory size in bytes."},
        Metric{stats.openFds, "process_open_fds", "gauge", "Number of open file descriptors."},
    };
    std::string out;
    for (const Metric &metric : metrics) {
        if (!metric.value)
            continue;
        appendHeader(out, metric.name, metric.help, metric.type);
        out.append(metric.name).append(" ");
        appendValue(out, *metric.value);
        out += '\n';
    }
    return out;
}

}  // namespace watch

#include "watch/metrics.h"

#include <charconv>
#include <cmath>

namespace watch {
namespace {

// A label value as the format wants it between its quotes: backslash, double
// quote and line feed escaped. The model has made it well-formed UTF-8.
std::string labelValue(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

// A reading's number as a sample value; every form of NaN is served alike,
// like any other reading without a meaningful value.
std::string sampleValue(double value)
{
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value > 0 ? "+Inf" : "-Inf";
    char buffer[32];
    return {buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr};
}

std::string fixed(double value)
{
    char buffer[64];
    return {buffer, std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 3).ptr};
}

std::string gaugeHeader(std::string_view name, std::string_view help)
{
    return "# HELP " + std::string(name) + ' ' + std::string(help) + "\n# TYPE " + std::string(name) +
           " gauge\n";
}

}  // namespace

std::string renderReadings(const Readings &readings)
{
    std::string out =
        gaugeHeader("sensor_bridge_reading", "A sensor reading as the bridge last published it.");
    for (const TrackedReading &tracked : readings.readings) {
        const ServedName &name = tracked.served;
        out += "sensor_bridge_reading{sensor=\"" + labelValue(name.sensor) + "\",label=\"" +
               labelValue(name.label) + "\",type=\"" + labelValue(name.type) + "\",index=\"" +
               std::to_string(name.index) + "\"} " + sampleValue(tracked.number) + '\n';
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

}  // namespace watch

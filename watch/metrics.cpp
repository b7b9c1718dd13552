#include "metrics.h"

#include "utf8.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>
#include <unordered_map>

namespace watch {
namespace {

// A label value as the format wants it between its quotes: backslash, double
// quote and line feed escaped, and each byte that is not part of well-formed
// UTF-8 replaced by U+FFFD.
std::string labelValue(std::string_view bytes)
{
    std::string out;
    for (const char c : wellFormedUtf8(bytes)) {
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

// The published value text as a sample value. from_chars reads the "%f" form
// and every non-finite form the bridge writes ("-nan(ind)" and "nan(snan)"
// included); text that is no number at all is served as NaN, like any other
// reading without a meaningful value.
std::string sampleValue(std::string_view text)
{
    double value = std::numeric_limits<double>::quiet_NaN();
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || std::isnan(value))
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

std::string renderReadings(const Snapshot &snapshot)
{
    std::string out =
        gaugeHeader("sensor_bridge_reading", "A sensor reading as the bridge last published it.");
    // Indexes count over the label values as served: names that differ only in
    // bytes replaced by U+FFFD must still give distinct series. An escaped value
    // holds no raw line feed, so one separates the parts of the key.
    std::unordered_map<std::string, std::size_t> seen;
    for (const Sensor &sensor : snapshot.sensors) {
        const std::string name = labelValue(sensor.name);
        for (const Reading &reading : sensor.readings) {
            const std::string label = labelValue(reading.label);
            const std::string type = labelValue(reading.type);
            const std::size_t index = seen[name + '\n' + label + '\n' + type]++;
            out += "sensor_bridge_reading{sensor=\"" + name + "\",label=\"" + label + "\",type=\"" + type +
                   "\",index=\"" + std::to_string(index) + "\"} " + sampleValue(reading.value) + '\n';
        }
    }
    return out;
}

bool isFresh(const std::optional<SnapshotAge> &age)
{
    return age && !age->old && age->seconds <= freshSeconds;
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

}  // namespace watch

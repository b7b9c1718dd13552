#include "metrics.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>
#include <unordered_map>

namespace {

// The length of the well-formed UTF-8 sequence that `bytes` starts with, or 0
// when it starts with none. Overlong forms, surrogates and code points past
// U+10FFFF are not well-formed, so that strict readers accept the output.
std::size_t sequenceLength(std::string_view bytes)
{
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = at(0);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    // The range of the second byte, which is narrower after some lead bytes.
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        if (lead == 0xe0)
            low = 0xa0;
        if (lead == 0xed)
            high = 0x9f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        if (lead == 0xf0)
            low = 0x90;
        if (lead == 0xf4)
            high = 0x8f;
    } else {
        return 0;
    }
    if (bytes.size() < length || at(1) < low || at(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if ((at(i) & 0xc0) != 0x80)
            return 0;
    return length;
}

// A label value as the format wants it between its quotes: backslash, double
// quote and line feed escaped, and each byte that is not part of well-formed
// UTF-8 replaced by U+FFFD.
std::string labelValue(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        const std::size_t length = sequenceLength(bytes);
        if (length == 0) {
            out += "\xef\xbf\xbd";
            bytes.remove_prefix(1);
            continue;
        }
        const char c = bytes.front();
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += bytes.substr(0, length);
        bytes.remove_prefix(length);
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
    const bool fresh = age && !age->old && age->seconds <= freshSeconds;
    const std::string help =
        "1 while the block changed within the last " + std::to_string(freshSeconds) + " seconds, else 0.";
    return out + gaugeHeader("sensor_bridge_snapshot_fresh", help) + "sensor_bridge_snapshot_fresh " +
           (fresh ? "1" : "0") + '\n';
}

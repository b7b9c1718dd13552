#include "table.h"

#include <algorithm>
#include <array>

namespace {

// Columns are aligned by characters, not bytes, so that UTF-8 names line up.
std::size_t width(std::string_view text)
{
    return static_cast<std::size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xc0) != 0x80; }));
}

std::string counted(std::size_t count, std::string_view noun)
{
    return std::to_string(count) + ' ' + std::string(noun) + (count == 1 ? "" : "s");
}

}  // namespace

std::string renderTable(const Snapshot &snapshot, std::string_view heading)
{
    // Each sensor's name stands on a line of its own above its readings, so the
    // columns stay narrow enough for a terminal whatever the names.
    std::array<std::size_t, 2> widths{};
    std::size_t readings = 0;
    for (const Sensor &sensor : snapshot.sensors) {
        for (const Reading &reading : sensor.readings) {
            widths[0] = std::max(widths[0], width(printable(reading.label)));
            widths[1] = std::max(widths[1], width(printable(reading.type)));
            ++readings;
        }
    }

    std::string out = std::string(heading) + ": " + counted(snapshot.sensors.size(), "sensor") + ", " +
                      counted(readings, "reading") + "\n\n";
    if (snapshot.sensors.empty())
        return out + "(no sensors)\n";
    for (const Sensor &sensor : snapshot.sensors) {
        out += printable(sensor.name) + '\n';
        if (sensor.noReading || sensor.readings.empty())
            out += sensor.noReading ? "  (no valid reading)\n" : "  (no readings)\n";
        for (const Reading &reading : sensor.readings) {
            const std::string label = printable(reading.label);
            const std::string type = printable(reading.type);
            out += "  " + label + std::string(widths[0] - width(label) + 2, ' ') + type +
                   std::string(widths[1] - width(type) + 2, ' ') + printable(reading.value) + '\n';
        }
    }
    return out;
}

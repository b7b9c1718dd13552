#include "watch/table.h"

#include "watch/units.h"
#include "watch/utf8.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <utility>
#include <vector>

namespace watch {
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

// A statistic in the "%f" form that the bridge publishes values in.
std::string number(double value)
{
    char buffer[64];
    return {buffer, std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6).ptr};
}

}  // namespace

std::string renderTable(const Readings &readings, std::string_view heading, bool withUnits)
{
    // Each row's cells after the indent: label, type, value, minimum, maximum,
    // average. Each sensor's name stands on a line of its own above its
    // readings, so the columns stay narrow enough for a terminal whatever the
    // names.
    using Row = std::array<std::string, 6>;
    const Row header{"label", "type", "value", "min", "max", "average"};
    std::array<std::size_t, 6> widths{};
    std::ranges::transform(header, widths.begin(), width);
    const std::vector<Sensor> &sensors = readings.snapshot.sensors;
    std::vector<std::vector<Row>> rows(sensors.size());
    for (const TrackedReading &tracked : readings.readings) {
        const Reading &reading = readingOf(readings, tracked);
        const auto shown = [&](double value) {
            return withUnits ? shownNumber(reading.type, value) : number(value);
        };
        Row row{printable(reading.label),
                printable(reading.type),
                printable(withUnits ? shownValue(reading.type, reading.value) : reading.value),
                "-",
                "-",
                "-"};
        if (const std::optional<double> mean = average(tracked.statistics)) {
            row[3] = shown(tracked.statistics.minimum);
            row[4] = shown(tracked.statistics.maximum);
            row[5] = shown(*mean);
        }
        for (std::size_t column = 0; column < row.size(); ++column)
            widths[column] = std::max(widths[column], width(row[column]));
        rows[tracked.sensor].push_back(std::move(row));
    }
    const auto line = [&](const Row &row) {
        std::string out = "  ";
        for (std::size_t column = 0; column < row.size(); ++column) {
            out += row[column];
            if (column + 1 < row.size())
                out += std::string(widths[column] - width(row[column]) + 2, ' ');
        }
        return out + '\n';
    };

    std::string out = std::string(heading) + ": " + counted(sensors.size(), "sensor") + ", " +
                      counted(readings.readings.size(), "reading") + "\n\n";
    if (sensors.empty())
        return out + "(no sensors)\n";
    if (!readings.readings.empty())
        out += line(header);
    for (std::size_t i = 0; i < sensors.size(); ++i) {
        const Sensor &sensor = sensors[i];
        out += printable(sensor.name) + '\n';
        if (sensor.noReading || sensor.readings.empty())
            out += sensor.noReading ? "  (no valid reading)\n" : "  (no readings)\n";
        for (const Row &row : rows[i])
            out += line(row);
    }
    return out;
}

}  // namespace watch

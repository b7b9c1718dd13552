#include "table.h"

#include "utf8.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <functional>
#include <optional>
#include <system_error>
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

std::optional<double> finiteValue(std::string_view text)
{
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

void forEachReading(const Snapshot &snapshot,
                    const std::function<void(std::size_t, const Reading &, const std::string &key)> &visit)
{
    std::map<std::string, std::size_t> seen;
    for (std::size_t index = 0; index < snapshot.sensors.size(); ++index) {
        const Sensor &sensor = snapshot.sensors[index];
        for (const Reading &reading : sensor.readings) {
            std::string key;
            for (const std::string *part : {&sensor.name, &reading.label, &reading.type})
                key += std::to_string(part->size()) + ':' + *part;
            key += '#' + std::to_string(seen[key]++);
            visit(index, reading, key);
        }
    }
}

void addValue(ReadingStatistics &statistics, double value)
{
    statistics.minimum = statistics.count == 0 ? value : std::min(statistics.minimum, value);
    statistics.maximum = statistics.count == 0 ? value : std::max(statistics.maximum, value);
    statistics.sum += value;
    ++statistics.count;
}

void updateStatistics(TableStatistics &statistics, const Snapshot &snapshot)
{
    TableStatistics updated;
    forEachReading(snapshot, [&](std::size_t, const Reading &reading, const std::string &key) {
        const auto found = statistics.find(key);
        ReadingStatistics &entry = updated[key];
        if (found != statistics.end())
            entry = found->second;
        if (const std::optional<double> value = finiteValue(reading.value))
            addValue(entry, *value);
    });
    statistics = std::move(updated);
}

std::string renderTable(const Snapshot &snapshot, std::string_view heading, const TableStatistics &statistics)
{
    // Each row's cells after the indent: label, type, value, minimum, maximum,
    // average. Each sensor's name stands on a line of its own above its
    // readings, so the columns stay narrow enough for a terminal whatever the
    // names.
    using Row = std::array<std::string, 6>;
    const Row header{"label", "type", "value", "min", "max", "average"};
    std::array<std::size_t, 6> widths{};
    std::ranges::transform(header, widths.begin(), width);
    std::vector<std::vector<Row>> rows(snapshot.sensors.size());
    std::size_t readings = 0;
    forEachReading(snapshot, [&](std::size_t sensor, const Reading &reading, const std::string &key) {
        Row row{printable(reading.label), printable(reading.type), printable(reading.value), "-", "-", "-"};
        const auto found = statistics.find(key);
        if (found != statistics.end() && found->second.count > 0) {
            const ReadingStatistics &entry = found->second;
            row[3] = number(entry.minimum);
            row[4] = number(entry.maximum);
            row[5] = number(entry.sum / static_cast<double>(entry.count));
        }
        for (std::size_t column = 0; column < row.size(); ++column)
            widths[column] = std::max(widths[column], width(row[column]));
        rows[sensor].push_back(std::move(row));
        ++readings;
    });
    const auto line = [&](const Row &row) {
        std::string out = "  ";
        for (std::size_t column = 0; column < row.size(); ++column) {
            out += row[column];
            if (column + 1 < row.size())
                out += std::string(widths[column] - width(row[column]) + 2, ' ');
        }
        return out + '\n';
    };

    std::string out = std::string(heading) + ": " + counted(snapshot.sensors.size(), "sensor") + ", " +
                      counted(readings, "reading") + "\n\n";
    if (snapshot.sensors.empty())
        return out + "(no sensors)\n";
    if (readings > 0)
        out += line(header);
    for (std::size_t i = 0; i < snapshot.sensors.size(); ++i) {
        const Sensor &sensor = snapshot.sensors[i];
        out += printable(sensor.name) + '\n';
        if (sensor.noReading || sensor.readings.empty())
            out += sensor.noReading ? "  (no valid reading)\n" : "  (no readings)\n";
        for (const Row &row : rows[i])
            out += line(row);
    }
    return out;
}

}  // namespace watch

#include "table.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace {

using Row = std::array<std::string, 4>;

// Columns are aligned by characters, not bytes, so that UTF-8 names line up.
std::size_t width(std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xc0) != 0x80; }));
}

std::string counted(std::size_t count, std::string_view noun) {
  return std::to_string(count) + ' ' + std::string(noun) + (count == 1 ? "" : "s");
}

}  // namespace

std::string renderTable(const Snapshot& snapshot, std::string_view when) {
  std::vector<Row> rows{{"SENSOR", "READING", "TYPE", "VALUE"}};
  std::size_t readings = 0;
  for (const Sensor& sensor : snapshot.sensors) {
    // The sensor name heads its group only; the rows below it leave it blank.
    std::string name = printable(sensor.name);
    if (sensor.noReading || sensor.readings.empty())
      rows.push_back({name, sensor.noReading ? "(no valid reading)" : "(no readings)", "", ""});
    for (const Reading& reading : sensor.readings) {
      rows.push_back({std::exchange(name, ""), printable(reading.label), printable(reading.type),
                      printable(reading.value)});
      ++readings;
    }
  }

  std::array<std::size_t, 4> widths{};
  for (const Row& row : rows)
    for (std::size_t column = 0; column < row.size(); ++column)
      widths[column] = std::max(widths[column], width(row[column]));

  std::string out = "Snapshot of " + std::string(when) + ": " + counted(snapshot.sensors.size(), "sensor") + ", " +
                    counted(readings, "reading") + "\n\n";
  if (snapshot.sensors.empty()) return out + "(no sensors)\n";
  for (const Row& row : rows) {
    std::string line;
    for (std::size_t column = 0; column < row.size(); ++column) {
      line += row[column];
      if (column + 1 < row.size()) line.append(widths[column] - width(row[column]) + 2, ' ');
    }
    line.erase(line.find_last_not_of(' ') + 1);
    out += line + '\n';
  }
  return out;
}

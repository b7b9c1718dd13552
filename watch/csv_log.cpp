#include "watch/csv_log.h"

#include "watch/screen_layout.h"
#include "watch/utf8.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <system_error>
#include <vector>

namespace watch {
namespace {

namespace fs = std::filesystem;

std::string failure(const fs::path &path)
{
    return "cannot write " + path.string() + ": " + std::strerror(errno);
}

// Whether the file starts with these bytes.
bool startsWith(const fs::path &path, std::string_view start)
{
    std::ifstream file(path, std::ios::binary);
    std::string head(start.size(), '\0');
    file.read(head.data(), static_cast<std::streamsize>(head.size()));
    return file && head == start;
}

bool endsWithLineBreak(const fs::path &path)
{
    std::ifstream file(path, std::ios::binary);
    char last = '\n';
    file.seekg(-1, std::ios::end);
    file.get(last);
    return last == '\n';
}

// Opens the file for rows under `header`: the first of FILE, FILE-2 ... that
// either starts with that header, is empty or is not there yet. Anything
// that is not a regular file (a device, a pipe) is written as it is.
std::string openFor(CsvLog &log, const std::string &header)
{
    const std::string start = (log.byteOrderMark ? std::string(utf8ByteOrderMark) : "") + header;
    log.file.close();
    for (std::size_t number = 1;; ++number) {
        const fs::path path = numberedPath(log.path, number);
        std::error_code error;
        const fs::file_status status = fs::status(path, error);
        const bool regular = fs::is_regular_file(status);
        const bool empty = !fs::exists(status) || (regular && fs::file_size(path, error) == 0);
        if (regular && !empty && !startsWith(path, start))
            continue;
        // A row cut short by a crash ends before the next begins.
        const bool cut = regular && !empty && !endsWithLineBreak(path);
        const std::string_view first = !regular || empty ? std::string_view(start) : cut ? "\r\n" : "";
        log.file.open(path, std::ios::binary | std::ios::app);
        if (!log.file || !log.file.write(first.data(), static_cast<std::streamsize>(first.size())) ||
            !log.file.flush())
            return failure(path);
        if (!log.header.empty())
            log.notice = "logging to " + path.string() + ": the readings changed";
        else if (path != log.path)
            log.notice = "logging to " + path.string() + ": " + log.path.string() + " holds other readings";
        log.writing = path;
        log.header = header;
        return {};
    }
}

std::string writeRow(CsvLog &log, const std::string &header, const std::string &row)
{
    if (header != log.header || !log.file.is_open())
        if (std::string error = openFor(log, header); !error.empty())
            return error;
    if (!log.file.write(row.data(), static_cast<std::streamsize>(row.size())) || !log.file.flush())
        return failure(log.writing);
    return {};
}

}  // namespace

std::string csvField(std::string_view text)
{
    if (text.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(text);
    std::string out = "\"";
    for (const char c : text)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + '"';
}

std::string csvHeader(const Snapshot &snapshot, bool withUnits)
{
    const std::vector<std::size_t> numbers = occurrences(snapshot, withUnits);
    std::string line = "time";
    std::size_t i = 0;
    for (const Sensor &sensor : snapshot.sensors) {
        for (const Reading &reading : sensor.readings) {
            std::string name = wellFormedUtf8(sensor.name) + " / " + wellFormedUtf8(reading.label);
            if (numbers[i] > 1)
                name += " #" + std::to_string(numbers[i]);
            if (const std::string_view unit = unitOf(reading.type); withUnits && !unit.empty())
                name += " [" + std::string(unit) + ']';
            line += ',' + csvField(name);
            ++i;
        }
    }
    return line + "\r\n";
}

std::string csvRow(const Snapshot &snapshot, std::string_view time)
{
    std::string line = csvField(time);
    for (const Sensor &sensor : snapshot.sensors)
        for (const Reading &reading : sensor.readings)
            line += ',' + csvField(wellFormedUtf8(reading.value));
    return line + "\r\n";
}

std::string isoLocalTime(double unixTime)
{
    using namespace std::chrono;
    const auto seconds = static_cast<std::time_t>(std::floor(unixTime));
    // The offset is local time read as if it were UTC, less the time: %z
    // gives a zone's name rather than its offset on Windows.
    const std::tm local = *std::localtime(&seconds);
    const auto asUtc = [](const std::tm &fields) {
        const sys_days day = year{fields.tm_year + 1900} / (fields.tm_mon + 1) / fields.tm_mday;
        return day.time_since_epoch().count() * 86400LL + fields.tm_hour * 3600 + fields.tm_min * 60 +
               fields.tm_sec;
    };
    const long long offset = asUtc(local) - static_cast<long long>(seconds);
    const long long minutes = std::llabs(offset) / 60;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02lld:%02lld", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return text;
}

fs::path numberedPath(const fs::path &path, std::size_t number)
{
    if (number <= 1)
        return path;
    return path.parent_path() /
           (path.stem().string() + '-' + std::to_string(number) + path.extension().string());
}

std::string checkLogPath(const fs::path &path)
{
    std::error_code error;
    const bool existed = fs::exists(path, error);
    std::ofstream file(path, std::ios::binary | std::ios::app);
    if (!file)
        return failure(path);
    file.close();
    if (!existed)
        fs::remove(path, error);
    return {};
}

std::string logSnapshot(CsvLog &log, const Snapshot &snapshot, double unixTime, double steadySeconds)
{
    std::string header = csvHeader(snapshot, log.withUnits);
    std::string row = csvRow(snapshot, isoLocalTime(unixTime));
    if (log.everySeconds <= 0)
        return writeRow(log, header, row);
    if (log.firstSeconds < 0)
        log.firstSeconds = steadySeconds;
    const auto interval = static_cast<long long>((steadySeconds - log.firstSeconds) / log.everySeconds);
    if (!log.pendingRow.empty() && interval != log.pendingInterval)
        if (std::string error = finishLog(log); !error.empty())
            return error;
    log.pendingHeader = std::move(header);
    log.pendingRow = std::move(row);
    log.pendingInterval = interval;
    return {};
}

std::string finishLog(CsvLog &log)
{
    if (log.pendingRow.empty())
        return {};
    const std::string header = std::move(log.pendingHeader);
    const std::string row = std::move(log.pendingRow);
    log.pendingRow.clear();
    return writeRow(log, header, row);
}

}  // namespace watch

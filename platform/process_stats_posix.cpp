// Linux's /proc, as the standard Prometheus client libraries read it.
#include "platform/process_stats.h"

#include <dirent.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace platform {
namespace {

// A small file of /proc, whole; empty when it cannot be read.
std::string procFile(const char *path)
{
    std::string text;
    if (std::FILE *file = std::fopen(path, "r")) {
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
            text.append(buffer, got);
        std::fclose(file);
    }
    return text;
}

std::optional<double> number(std::string_view text)
{
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} && end == text.data() + text.size() ? std::optional(value) : std::nullopt;
}

// The fields of /proc/self/stat after the command's name, which is in
// parentheses and may hold spaces and parentheses itself: the first is field
// 3, the state.
std::vector<std::string_view> statFields(std::string_view stat)
{
    std::vector<std::string_view> fields;
    const std::size_t name = stat.rfind(')');
    if (name == std::string_view::npos)
        return fields;
    stat.remove_prefix(name + 1);
    while (!stat.empty()) {
        const std::size_t start = stat.find_first_not_of(" \n");
        if (start == std::string_view::npos)
            break;
        stat.remove_prefix(start);
        const std::size_t end = std::min(stat.find_first_of(" \n"), stat.size());
        fields.push_back(stat.substr(0, end));
        stat.remove_prefix(end);
    }
    return fields;
}

// Field N of proc(5)'s /proc/[pid]/stat, counted from 1.
std::optional<double> statField(const std::vector<std::string_view> &fields, std::size_t n)
{
    return n - 3 < fields.size() ? number(fields[n - 3]) : std::nullopt;
}

// The boot time ("btime", whole seconds) plus the start in clock ticks after
// boot (field 22). Computed once: it does not change while the process runs.
std::optional<double> startTime(const std::vector<std::string_view> &fields, double ticksPerSecond)
{
    const std::string stat = procFile("/proc/stat");
    const std::size_t line = stat.find("\nbtime ");
    const std::optional<double> ticks = statField(fields, 22);
    if (line == std::string::npos || !ticks)
        return std::nullopt;
    const std::size_t start = line + 7;
    const std::optional<double> boot =
        number(std::string_view(stat).substr(start, stat.find('\n', start) - start));
    return boot ? std::optional(*boot + *ticks / ticksPerSecond) : std::nullopt;
}

// The entries of /proc/self/fd but the one that lists them.
std::optional<double> openFds()
{
    DIR *directory = opendir("/proc/self/fd");
    if (directory == nullptr)
        return std::nullopt;
    const std::string own = std::to_string(dirfd(directory));
    double count = 0;
    while (const dirent *entry = readdir(directory)) {
        const std::string_view name = entry->d_name;
        count += name != "." && name != ".." && name != own ? 1 : 0;
    }
    closedir(directory);
    return count;
}

}  // namespace

ProcessStats processStats()
{
    const double ticksPerSecond = static_cast<double>(sysconf(_SC_CLK_TCK));
    const std::string stat = procFile("/proc/self/stat");
    const std::vector<std::string_view> fields = statFields(stat);
    static const std::optional<double> started = startTime(fields, ticksPerSecond);
    ProcessStats stats{started, std::nullopt, std::nullopt, openFds()};
    // User and system time in clock ticks (fields 14 and 15), resident pages (24).
    if (const auto user = statField(fields, 14), system = statField(fields, 15); user && system)
        stats.cpuSeconds = (*user + *system) / ticksPerSecond;
    if (const auto pages = statField(fields, 24))
        stats.residentBytes = *pages * static_cast<double>(sysconf(_SC_PAGESIZE));
    return stats;
}

}  // namespace platform

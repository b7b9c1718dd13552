// The launcher's decisions that need no operating system, so that a native
// test covers them: when the log moves aside or starts again, how long a Run
// value may be, the pause before a program's next start, how an argument is
// quoted on a command line, and how a log line gives its time.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace launcher {

// The log moves aside once it would pass logLimit. While it cannot be moved
// (a reader holds it without delete sharing), it grows on, up to logCap,
// and only then starts again empty.
inline constexpr unsigned long long logLimit = 1 << 20;
inline constexpr unsigned long long logCap = 4 << 20;

enum class Rotation {
    none,         // append the line
    moveAside,    // rename the log to the older one, then append to a new one
    keepGrowing,  // the rename failed: append, and try again with the next line
    startAgain,   // the rename failed and the cap is reached: empty the log
};

// What to do before appending `line` bytes to a log of `size` bytes;
// `renameFailed` says that moving it aside has just been tried and failed.
constexpr Rotation rotationFor(unsigned long long size, std::size_t line, bool renameFailed)
{
    if (size + line <= logLimit)
        return Rotation::none;
    if (!renameFailed)
        return Rotation::moveAside;
    return size + line <= logCap ? Rotation::keepGrowing : Rotation::startAgain;
}

// Windows runs a Run value as a command line of at most this many characters
// (Run and RunOnce Registry Keys).
inline constexpr std::size_t runValueLimit = 260;

constexpr bool fitsRunValue(std::wstring_view command)
{
    return command.size() <= runValueLimit;
}

// The pause before a program's next start, in seconds, doubles from
// firstPause up to longestPause while it keeps ending soon, as the bridge
// does before the consumer has made the block; a run of at least settledRun
// starts it short again. Whichever comes first, the consumer's block or the
// pause's end, the bridge publishes within about a minute of the block
// appearing.
inline constexpr unsigned firstPause = 2;
inline constexpr unsigned longestPause = 60;
inline constexpr unsigned settledRun = 60;

// sensor-watch's exit code for options it does not accept.
inline constexpr unsigned long badOptionsExitCode = 2;

// The pause after a program ended: `previous` is the pause before the start
// that ended (0 for the first start), `settled` says it ran for settledRun or
// longer, and `badOptions` that it refused its options, which no quick
// restart mends.
constexpr unsigned nextPause(unsigned previous, bool settled, bool badOptions)
{
    if (badOptions)
        return longestPause;
    if (settled || previous == 0)
        return firstPause;
    return std::min(previous * 2, longestPause);
}

// One argument as CommandLineToArgvW reads it back: in quotes when it is
// empty or holds a space, tab or quote, with each quote escaped and the
// backslashes in front of a quote, or of the closing quote, doubled.
inline std::wstring quoteArgument(std::wstring_view argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring_view::npos)
        return std::wstring(argument);
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        quoted.push_back(c);
        backslashes = 0;
    }
    quoted.append(2 * backslashes, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

// The sensor-watch arguments that a Run value of ours carries: what follows
// the quoted program when it starts with " --watch", otherwise nothing.
constexpr std::wstring_view registeredWatchArguments(std::wstring_view runValue)
{
    constexpr std::wstring_view watch = L" --watch";
    const std::size_t close = runValue.starts_with(L'"') ? runValue.find(L'"', 1) : std::wstring_view::npos;
    if (close == std::wstring_view::npos)
        return {};
    const std::wstring_view rest = runValue.substr(close + 1);
    const bool ours = rest.starts_with(watch) && (rest.size() == watch.size() || rest[watch.size()] == L' ');
    return ours ? rest : std::wstring_view{};
}

struct CivilTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// ISO 8601 local time with its offset from UTC, such as
// "2026-12-10T05:32:01+01:00", so that the hour repeated at the autumn clock
// change reads apart.
inline std::string isoTime(const CivilTime &local, int offsetMinutes)
{
    const int offset = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char text[40];
    const int length = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d",
                                     local.year, local.month, local.day, local.hour, local.minute,
                                     local.second, offsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return std::string(text, std::min(static_cast<std::size_t>(std::max(length, 0)), sizeof text - 1));
}

}  // namespace launcher

// sensor-bridge-launcher: starts sensor-bridge.exe from its own folder at
// logon, and sensor-watch.exe too when it is given arguments for it, with no
// window and no console input, writes what they print into a log, and starts
// each again whenever it ends. A Windows-subsystem program, so
// that starting it never opens a window either. Paths are wide strings
// throughout, so that a folder named in any script works.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace launcher {

// One launcher per logon session; --install and --uninstall use the names to
// find the running one and ask it to stop.
inline constexpr const wchar_t *instanceMutexName = L"Local\\sensor-bridge-launcher";
inline constexpr const wchar_t *stopEventName = L"Local\\sensor-bridge-launcher-stop";

// This program's own path, and its folder with a trailing separator.
std::wstring programPath();
std::wstring programFolder();

// The text of a Windows error code, as "error N (message)".
std::wstring describeError(unsigned long error);

std::string utf8(std::wstring_view text);

// The length of one second of the launcher's pauses and intervals, in
// milliseconds: 1000 unless the environment gives a shorter one (1 to 1000),
// which the tests do so that a run of restarts takes seconds, not minutes.
unsigned long secondLength();

// The log, %LOCALAPPDATA%\sensor-bridge\sensor-bridge.log. Opening it may
// fail (no such folder, no right to write it); every line is then dropped and
// the bridge runs anyway.
std::wstring logPath();
void openLog();
// Appends one line with the local time in front. Safe from any thread. Once
// the log has reached 1 MiB it becomes sensor-bridge.old.log, replacing the
// one before, and a new log starts; while a reader keeps it from moving, it
// grows on up to 4 MiB. A log that could not be opened is tried again, and
// one deleted or replaced is opened again at its path, each at most once a
// minute.
void logLine(std::string_view text);

// Runs the bridge, and sensor-watch with `watchArguments` when `watch` is
// set, starting each again whenever it ends, until the stop event is set.
// Returns the launcher's exit code.
int supervise(bool watch, std::span<const std::wstring> watchArguments);

// Registers this program to start at logon (the current user's Run key),
// with sensor-watch's arguments when `watch` is set, or else those already
// registered, and starts it now, ending a launcher already running in this
// session first.
int install(bool watch, std::span<const std::wstring> watchArguments);
// Ends the running launcher and its programs, and removes the registration.
int uninstall();

// Writes a line to the console or the pipe that --install and --uninstall
// were started from.
void say(std::wstring_view line);

}  // namespace launcher

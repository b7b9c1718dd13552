// sensor-bridge-launcher: starts sensor-bridge.exe from its own folder at
// logon, with no window and no console input, writes what it prints into a
// log, and starts it again whenever it ends. A Windows-subsystem program, so
// that starting it never opens a window either. Paths are wide strings
// throughout, so that a folder named in any script works.
#pragma once

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

// The log, %LOCALAPPDATA%\sensor-bridge\sensor-bridge.log. Opening it may
// fail (no such folder, no right to write it); every line is then dropped and
// the bridge runs anyway.
std::wstring logPath();
void openLog();
// Appends one line with the local time in front. Safe from any thread. Once
// the log has reached 1 MiB it becomes sensor-bridge.old.log, replacing the
// one before, and a new log starts.
void logLine(std::string_view text);

// Runs the bridge and starts it again whenever it ends, until the stop event
// is set. Returns the launcher's exit code.
int superviseBridge();

// Registers this program to start at logon (the current user's Run key) and
// starts it now, ending a launcher already running in this session first.
int install();
// Ends the running launcher and its bridge, and removes the registration.
int uninstall();

// Writes a line to the console or the pipe that --install and --uninstall
// were started from.
void say(std::wstring_view line);

}  // namespace launcher

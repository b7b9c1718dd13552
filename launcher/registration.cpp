// Starting at logon through the current user's Run key, which needs no
// elevation and sets no time limit, and shows in Task Manager's Startup list
// where the user can turn it off.
#include "launcher/decisions.h"
#include "launcher/launcher.h"

#include <initializer_list>

#include <windows.h>

namespace launcher {

namespace {

constexpr const wchar_t *runKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t *runValue = L"sensor-bridge";
const std::wstring runValueText = L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\sensor-bridge";

// How long an ended launcher may take to end its bridge and itself.
constexpr DWORD stopTimeoutMilliseconds = 30'000;

int fail(const std::wstring &what, DWORD error)
{
    say(L"sensor-bridge-launcher: " + what + L": " + describeError(error));
    return 1;
}

// An elevated process may run as another account than the user's, the
// administrator whose password a standard user typed, and then its HKCU and
// its session's launcher are not the user's. False when it cannot tell, and
// when SENSOR_BRIDGE_LAUNCHER_ALLOW_ELEVATED is 1: Wine gives every program
// an elevated token, and someone who knows that the prompt is their own
// account may say so.
bool refusedAsElevated()
{
    wchar_t allowed[4] = L"";
    if (GetEnvironmentVariableW(L"SENSOR_BRIDGE_LAUNCHER_ALLOW_ELEVATED", allowed, 4) == 1 &&
        allowed[0] == L'1')
        return false;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool known = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    return known && elevation.TokenIsElevated != 0;
}

int refuseElevated(std::wstring_view option)
{
    say(L"sensor-bridge-launcher: " + std::wstring(option) +
        L" refused: this prompt runs elevated, perhaps as another account (an administrator whose password "
        L"was typed), whose Run key and launcher it would change instead of yours. Run it from a normal "
        L"prompt, without \"Run as administrator\".");
    return 1;
}

// The command registered under the Run value; empty with the reason in
// `status` when there is none or it cannot be read.
std::wstring registeredCommand(LSTATUS &status)
{
    DWORD size = 0;
    status = RegGetValueW(HKEY_CURRENT_USER, runKey, runValue, RRF_RT_REG_SZ, nullptr, nullptr, &size);
    if (status != ERROR_SUCCESS)
        return {};
    std::wstring command(size / sizeof(wchar_t), L'\0');
    status = RegGetValueW(HKEY_CURRENT_USER, runKey, runValue, RRF_RT_REG_SZ, nullptr, command.data(), &size);
    command.resize(status == ERROR_SUCCESS ? size / sizeof(wchar_t) : 0);
    while (!command.empty() && command.back() == L'\0')
        command.pop_back();
    return command;
}

enum class Stopped { none, stopped, stillRunning, unknown };

// Asks the launcher of this session to stop, and waits until it has ended:
// it owns the instance mutex for its whole life, so the mutex comes free
// (abandoned) when it is gone. Only a mutex that does not exist means that
// none runs; any other failure (access denied, for one) is `unknown`, with
// the reason in `error`.
Stopped stopRunningLauncher(DWORD &error)
{
    HANDLE instance = OpenMutexW(SYNCHRONIZE, FALSE, instanceMutexName);
    if (instance == nullptr) {
        error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? Stopped::none : Stopped::unknown;
    }
    HANDLE stop = OpenEventW(EVENT_MODIFY_STATE, FALSE, stopEventName);
    if (stop != nullptr) {
        SetEvent(stop);
        CloseHandle(stop);
    }
    const DWORD waited = WaitForSingleObject(instance, stopTimeoutMilliseconds);
    const bool ended = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    if (ended)
        ReleaseMutex(instance);
    CloseHandle(instance);
    error = WAIT_TIMEOUT;
    return ended ? Stopped::stopped : Stopped::stillRunning;
}

// Fails with a line unless the launcher of this session is gone, or was
// never there; 0 otherwise.
int makeWay(bool &wasRunning)
{
    DWORD error = 0;
    const Stopped stopped = stopRunningLauncher(error);
    wasRunning = stopped == Stopped::stopped;
    if (stopped == Stopped::stillRunning)
        return fail(L"the running launcher did not end", error);
    if (stopped == Stopped::unknown)
        return fail(L"cannot tell whether a launcher runs in this session", error);
    return 0;
}

// Starts this program with the registered command line, apart from whatever
// job the caller runs in where that allows it, so that closing the console it
// was installed from leaves it running. It gets no standard handles: holding
// on to the caller's output would keep a pipe that reads it from ever ending.
bool startLauncher(std::wstring commandLine, DWORD &processId)
{
    const std::wstring program = programPath();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION started{};
    for (DWORD flags : {DWORD{CREATE_BREAKAWAY_FROM_JOB}, DWORD{0}}) {
        if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr,
                           programFolder().c_str(), &startup, &started)) {
            CloseHandle(started.hThread);
            CloseHandle(started.hProcess);
            processId = started.dwProcessId;
            return true;
        }
    }
    return false;
}

}  // namespace

void say(std::wstring_view line)
{
    // A Windows-subsystem program has standard handles only when its parent
    // handed it a pipe or a file; otherwise it writes to its parent's
    // console, once attached to it.
    static HANDLE out = [] {
        HANDLE inherited = GetStdHandle(STD_OUTPUT_HANDLE);
        const DWORD type = inherited != nullptr && inherited != INVALID_HANDLE_VALUE ? GetFileType(inherited)
                                                                                     : FILE_TYPE_UNKNOWN;
        if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE)
            return inherited;
        if (!AttachConsole(ATTACH_PARENT_PROCESS))
            return INVALID_HANDLE_VALUE;
        return CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    }();
    if (out == INVALID_HANDLE_VALUE)
        return;
    const std::wstring text = std::wstring(line) + L"\r\n";
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const std::string bytes = utf8(text);
    WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

int install(bool watch, std::span<const std::wstring> watchArguments)
{
    if (refusedAsElevated())
        return refuseElevated(L"--install");
    // sensor-watch's arguments are part of the registered command line, so
    // that the launcher started at logon gets them. A plain --install keeps
    // those already registered.
    std::wstring arguments;
    if (watch) {
        arguments = L" --watch";
        for (const std::wstring &argument : watchArguments)
            arguments += L" " + quoteArgument(argument);
    } else {
        LSTATUS ignored = ERROR_SUCCESS;
        arguments = registeredWatchArguments(registeredCommand(ignored));
    }
    const std::wstring command = L"\"" + programPath() + L"\"" + arguments;
    if (!fitsRunValue(command)) {
        say(L"sensor-bridge-launcher: not registered: the command line " + command + L" has " +
            std::to_wstring(command.size()) + L" characters, and Windows runs a Run value of at most " +
            std::to_wstring(runValueLimit) + L". Move the folder to a shorter path.");
        return 1;
    }
    HKEY key = nullptr;
    LSTATUS status =
        RegCreateKeyExW(HKEY_CURRENT_USER, runKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(key, runValue, 0, REG_SZ, reinterpret_cast<const BYTE *>(command.c_str()),
                                static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    if (status != ERROR_SUCCESS)
        return fail(L"cannot register " + runValueText, static_cast<DWORD>(status));
    say(L"Starts at logon: " + runValueText + L" = " + command);
    if (!arguments.empty())
        say(L"Keeps running: sensor-watch.exe" + arguments.substr(std::wstring_view(L" --watch").size()) +
            (watch ? L"" : L" (as registered before)"));

    // A launcher that runs already, perhaps from another folder, makes way.
    bool wasRunning = false;
    if (const int failed = makeWay(wasRunning))
        return failed;
    if (wasRunning)
        say(L"Ended the launcher that ran.");
    DWORD processId = 0;
    if (!startLauncher(command, processId))
        return fail(L"cannot start " + programPath(), GetLastError());
    say(L"Started: process " + std::to_wstring(processId) + L", log in " + logPath());
    return 0;
}

int uninstall()
{
    if (refusedAsElevated())
        return refuseElevated(L"--uninstall");
    bool wasRunning = false;
    if (const int failed = makeWay(wasRunning))
        return failed;
    say(wasRunning ? L"Ended the launcher and the programs it kept running."
                   : L"No launcher was running in this session.");
    LSTATUS status = ERROR_SUCCESS;
    const std::wstring command = registeredCommand(status);
    HKEY key = nullptr;
    status = RegOpenKeyExW(HKEY_CURRENT_USER, runKey, 0, KEY_SET_VALUE, &key);
    if (status == ERROR_SUCCESS) {
        status = RegDeleteValueW(key, runValue);
        RegCloseKey(key);
    }
    if (status == ERROR_FILE_NOT_FOUND) {
        say(L"Was not registered to start at logon.");
        return 0;
    }
    if (status != ERROR_SUCCESS)
        return fail(L"cannot remove " + runValueText, static_cast<DWORD>(status));
    say(L"No longer starts at logon: removed " + runValueText + L" = " + command + L". The log stays in " +
        logPath());
    return 0;
}

}  // namespace launcher

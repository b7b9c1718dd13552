// Starting at logon through the current user's Run key, which needs no
// elevation and sets no time limit, and shows in Task Manager's Startup list
// where the user can turn it off.
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

enum class Stopped { none, stopped, stillRunning };

// Asks the launcher of this session to stop, and waits until it has ended:
// it owns the instance mutex for its whole life, so the mutex comes free
// (abandoned) when it is gone.
Stopped stopRunningLauncher()
{
    HANDLE instance = OpenMutexW(SYNCHRONIZE, FALSE, instanceMutexName);
    if (instance == nullptr)
        return Stopped::none;
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
    return ended ? Stopped::stopped : Stopped::stillRunning;
}

// Starts this program with no arguments, apart from whatever job the caller
// runs in where that allows it, so that closing the console it was installed
// from leaves it running. It gets no standard handles: holding on to the
// caller's output would keep a pipe that reads it from ever ending.
bool startLauncher(DWORD &processId)
{
    const std::wstring program = programPath();
    std::wstring commandLine = L"\"" + program + L"\"";
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

int install()
{
    const std::wstring command = L"\"" + programPath() + L"\"";
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

    // A launcher that runs already, perhaps from another folder, makes way.
    if (stopRunningLauncher() == Stopped::stillRunning)
        return fail(L"the running launcher did not end", WAIT_TIMEOUT);
    DWORD processId = 0;
    if (!startLauncher(processId))
        return fail(L"cannot start " + programPath(), GetLastError());
    say(L"Started: process " + std::to_wstring(processId) + L", log in " + logPath());
    return 0;
}

int uninstall()
{
    switch (stopRunningLauncher()) {
    case Stopped::none:
        say(L"No launcher was running in this session.");
        break;
    case Stopped::stopped:
        say(L"Ended the launcher and its bridge.");
        break;
    case Stopped::stillRunning:
        return fail(L"the running launcher did not end", WAIT_TIMEOUT);
    }
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, runKey, 0, KEY_SET_VALUE, &key);
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
    say(L"No longer starts at logon: removed " + runValueText + L". The log stays in " + logPath());
    return 0;
}

}  // namespace launcher

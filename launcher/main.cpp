// The launcher's entry point: with no arguments it supervises the bridge, with
// --watch ARGS sensor-watch too (one launcher per logon session); --install
// and --uninstall register it to start at logon, or not.
#include "launcher/launcher.h"

#include <algorithm>
#include <vector>

#include <windows.h>

namespace launcher {

std::wstring programPath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring programFolder()
{
    const std::wstring path = programPath();
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

std::wstring describeError(unsigned long error)
{
    std::wstring text = L"error " + std::to_wstring(error);
    wchar_t *message = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<wchar_t *>(&message), 0, nullptr);
    if (length > 0) {
        std::wstring_view said(message, length);
        while (!said.empty() &&
               (said.back() == L'\n' || said.back() == L'\r' || said.back() == L' ' || said.back() == L'.'))
            said.remove_suffix(1);
        text += L" (" + std::wstring(said) + L")";
    }
    LocalFree(message);
    return text;
}

std::string utf8(std::wstring_view text)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                        nullptr);
    return out;
}

namespace {

int run(bool watch, std::span<const std::wstring> watchArguments)
{
    // The session's one launcher owns this mutex for its whole life; its end
    // is what --uninstall waits for. A second launcher ends at once.
    HANDLE instance = CreateMutexW(nullptr, TRUE, instanceMutexName);
    if (instance == nullptr || GetLastError() == ERROR_ALREADY_EXISTS)
        return 0;
    openLog();
    logLine("launcher: running from " + utf8(programFolder()) + ", log in " + utf8(logPath()));
    return supervise(watch, watchArguments);
}

constexpr std::wstring_view usage =
    L"usage: sensor-bridge-launcher [--install] [--watch SENSOR-WATCH-ARGUMENTS...] | --uninstall\r\n"
    L"  (none)       run sensor-bridge.exe from this folder, without a window, and again whenever it ends\r\n"
    L"  --watch ...  run sensor-watch.exe from this folder with these arguments too, the same way\r\n"
    L"  --install    start at logon for the current user (no elevation needed), and start now; without\r\n"
    L"               --watch it keeps the sensor-watch arguments already registered\r\n"
    L"  --uninstall  end the running launcher and its programs, and no longer start at logon";

}  // namespace

}  // namespace launcher

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // No error dialogs that nobody would see: a library that cannot be
    // loaded, or a crash, makes the call fail or the process end instead.
    // The programs it starts inherit the setting.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    int count = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &count);
    const std::vector<std::wstring> arguments(argv != nullptr ? argv + std::min(count, 1) : nullptr,
                                              argv != nullptr ? argv + count : nullptr);
    LocalFree(argv);
    std::span<const std::wstring> rest(arguments);
    const bool install = !rest.empty() && rest.front() == L"--install";
    if (install)
        rest = rest.subspan(1);
    // sensor-watch's arguments follow --watch; at least one, for without
    // any it would print its table into the log for ever.
    const bool watch = !rest.empty() && rest.front() == L"--watch";
    if (watch && rest.size() >= 2) {
        rest = rest.subspan(1);
        return install ? launcher::install(true, rest) : launcher::run(true, rest);
    }
    if (rest.empty())
        return install ? launcher::install(false, {}) : launcher::run(false, {});
    if (!install && rest.size() == 1 && rest.front() == L"--uninstall")
        return launcher::uninstall();
    launcher::say(launcher::usage);
    return !install && rest.size() == 1 && rest.front() == L"--help" ? 0 : 2;
}

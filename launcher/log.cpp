// The launcher's log: its own lines and the bridge's, each with the local
// time, in one file that never grows past 1 MiB and one older file.
#include "launcher/launcher.h"

#include <cstdio>

#include <windows.h>

namespace launcher {

namespace {

constexpr unsigned long long logLimit = 1 << 20;

// The reader of the bridge's output and the main thread both write.
SRWLOCK logLock = SRWLOCK_INIT;
HANDLE logFile = INVALID_HANDLE_VALUE;
unsigned long long logSize = 0;

std::wstring logFolder()
{
    std::wstring folder(MAX_PATH, L'\0');
    DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", folder.data(), static_cast<DWORD>(folder.size()));
    if (length >= folder.size()) {
        folder.resize(length);
        length = GetEnvironmentVariableW(L"LOCALAPPDATA", folder.data(), static_cast<DWORD>(folder.size()));
    }
    if (length == 0 || length >= folder.size())
        return {};
    folder.resize(length);
    return folder + L"\\sensor-bridge";
}

// Opens the log for appending. Others may read it, and rename or delete it,
// while the launcher runs.
void openFile()
{
    const std::wstring path = logPath();
    if (path.empty())
        return;
    logFile =
        CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER size{};
    logSize = logFile != INVALID_HANDLE_VALUE && GetFileSizeEx(logFile, &size) ? size.QuadPart : 0;
}

// Keeps the log bounded: the full one replaces the older file. When it cannot
// be moved aside, it starts again empty rather than grow.
void rotate()
{
    CloseHandle(logFile);
    logFile = INVALID_HANDLE_VALUE;
    const std::wstring path = logPath();
    const std::wstring older = logFolder() + L"\\sensor-bridge.old.log";
    if (!MoveFileExW(path.c_str(), older.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        HANDLE emptied =
            CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (emptied != INVALID_HANDLE_VALUE)
            CloseHandle(emptied);
    }
    openFile();
}

}  // namespace

std::wstring logPath()
{
    const std::wstring folder = logFolder();
    return folder.empty() ? folder : folder + L"\\sensor-bridge.log";
}

void openLog()
{
    const std::wstring folder = logFolder();
    if (folder.empty())
        return;
    CreateDirectoryW(folder.c_str(), nullptr);
    AcquireSRWLockExclusive(&logLock);
    openFile();
    ReleaseSRWLockExclusive(&logLock);
}

void logLine(std::string_view text)
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    char stamp[32];
    const int stampLength = std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u ", now.wYear,
                                          now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
    std::string line(stamp, static_cast<std::size_t>(stampLength));
    line.append(text);
    line.append("\r\n");

    AcquireSRWLockExclusive(&logLock);
    if (logFile != INVALID_HANDLE_VALUE && logSize + line.size() > logLimit)
        rotate();
    DWORD written = 0;
    if (logFile != INVALID_HANDLE_VALUE &&
        WriteFile(logFile, line.data(), static_cast<DWORD>(line.size()), &written, nullptr))
        logSize += written;
    ReleaseSRWLockExclusive(&logLock);
}

}  // namespace launcher

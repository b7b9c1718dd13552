// The launcher's log: its own lines and its programs', each with the local
// time and its UTC offset, in one file of about 1 MiB and one older file. It
// outlasts its readers: a log that cannot be opened is tried again, one that
// cannot be moved aside grows on, and one that was deleted or replaced is
// opened again at its path.
#include "launcher/decisions.h"
#include "launcher/launcher.h"

#include <cstring>

#include <windows.h>

namespace launcher {

namespace {

// How often a rename held up by a reader is tried, and how long apart.
constexpr int renameAttempts = 3;
constexpr DWORD renameSpacing = 200;

// The reader of each program's output and the main thread all write.
SRWLOCK logLock = SRWLOCK_INIT;
HANDLE logFile = INVALID_HANDLE_VALUE;
unsigned long long logSize = 0;
// When the log was last opened or tried, and when its handle was last
// checked against its path (GetTickCount64).
ULONGLONG lastOpened = 0;
ULONGLONG lastChecked = 0;

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

// Opens the log for appending, making its folder where it is missing. Others
// may read it, and rename or delete it, while the launcher runs.
void openFile()
{
    lastOpened = GetTickCount64();
    const std::wstring folder = logFolder();
    if (folder.empty())
        return;
    CreateDirectoryW(folder.c_str(), nullptr);
    logFile = CreateFileW(logPath().c_str(), FILE_APPEND_DATA,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER size{};
    logSize = logFile != INVALID_HANDLE_VALUE && GetFileSizeEx(logFile, &size) ? size.QuadPart : 0;
}

void reopenFile()
{
    CloseHandle(logFile);
    logFile = INVALID_HANDLE_VALUE;
    openFile();
}

// Whether the handle still names the file at the log's path. A reader may
// have deleted the log (since Windows 10 1903 the name is freed at once, and
// before that the file waits for its last handle, delete pending) or moved it
// and left a new one in its place. A path that cannot be looked at for any
// other reason counts as the same file.
bool namesLogPath()
{
    FILE_STANDARD_INFO standard{};
    if (GetFileInformationByHandleEx(logFile, FileStandardInfo, &standard, sizeof standard) &&
        standard.DeletePending)
        return false;
    HANDLE atPath = CreateFileW(logPath().c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (atPath == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
    }
    // The 128-bit file id, since the 64-bit one of GetFileInformationByHandle
    // is not unique on ReFS.
    FILE_ID_INFO mine{};
    FILE_ID_INFO theirs{};
    const bool compared = GetFileInformationByHandleEx(logFile, FileIdInfo, &mine, sizeof mine) &&
                          GetFileInformationByHandleEx(atPath, FileIdInfo, &theirs, sizeof theirs);
    CloseHandle(atPath);
    return !compared || (mine.VolumeSerialNumber == theirs.VolumeSerialNumber &&
                         std::memcmp(&mine.FileId, &theirs.FileId, sizeof mine.FileId) == 0);
}

unsigned long long ticks(const FILETIME &time)
{
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Now, as local time with the offset that the time zone has at this moment.
std::string now()
{
    SYSTEMTIME utc{};
    SYSTEMTIME local{};
    GetSystemTime(&utc);
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
        local = utc;
    FILETIME utcTime{};
    FILETIME localTime{};
    SystemTimeToFileTime(&utc, &utcTime);
    SystemTimeToFileTime(&local, &localTime);
    // FILETIME counts 100 ns; the offset is a whole number of minutes.
    constexpr long long perMinute = 60LL * 10'000'000;
    const long long offset =
        (static_cast<long long>(ticks(localTime)) - static_cast<long long>(ticks(utcTime))) / perMinute;
    return isoTime({local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond},
                   static_cast<int>(offset));
}

void append(std::string_view text)
{
    const std::string line = now() + " " + std::string(text) + "\r\n";
    DWORD written = 0;
    if (logFile != INVALID_HANDLE_VALUE &&
        WriteFile(logFile, line.data(), static_cast<DWORD>(line.size()), &written, nullptr))
        logSize += written;
}

// Before a line of `line` bytes: the full log becomes the older one,
// replacing the one before. A reader may hold either, so the rename is tried
// a few times; when it still fails, the log grows on until the cap, and only
// then starts again empty.
void makeRoom(std::size_t line)
{
    if (rotationFor(logSize, line, false) != Rotation::moveAside)
        return;
    const std::wstring path = logPath();
    const std::wstring older = logFolder() + L"\\sensor-bridge.old.log";
    for (int attempt = 0; attempt < renameAttempts; ++attempt) {
        if (attempt > 0)
            Sleep(renameSpacing);
        // The log's own handle allows the rename: it shares delete.
        if (MoveFileExW(path.c_str(), older.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            reopenFile();
            return;
        }
    }
    const DWORD error = GetLastError();
    if (rotationFor(logSize, line, true) == Rotation::keepGrowing)
        return;
    // Emptied through a handle of its own: the log's handle appends, so it
    // writes on from the new end.
    HANDLE emptied =
        CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (emptied == INVALID_HANDLE_VALUE)
        return;
    CloseHandle(emptied);
    logSize = 0;
    append("launcher: the log reached " + std::to_string(logCap >> 20) + " MiB and could not become " +
           utf8(older) + " (" + utf8(describeError(error)) + "), so it starts again here");
}

}  // namespace

std::wstring logPath()
{
    const std::wstring folder = logFolder();
    return folder.empty() ? folder : folder + L"\\sensor-bridge.log";
}

void openLog()
{
    AcquireSRWLockExclusive(&logLock);
    openFile();
    ReleaseSRWLockExclusive(&logLock);
}

void logLine(std::string_view text)
{
    AcquireSRWLockExclusive(&logLock);
    const ULONGLONG minute = 60ULL * secondLength();
    const ULONGLONG tick = GetTickCount64();
    if (logFile == INVALID_HANDLE_VALUE && tick - lastOpened >= minute)
        openFile();
    else if (logFile != INVALID_HANDLE_VALUE && tick - lastChecked >= minute) {
        lastChecked = tick;
        if (!namesLogPath())
            reopenFile();
    }
    if (logFile != INVALID_HANDLE_VALUE)
        makeRoom(now().size() + text.size() + 3);
    append(text);
    ReleaseSRWLockExclusive(&logLock);
}

}  // namespace launcher

// Windows side of the platform seam: the Win32 calls themselves.
#include "platform/platform.h"

#include "platform/backend_win32.h"
#include "platform/mapped_regions.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include <windows.h>

namespace platform {

namespace {

// The folder that holds the running executable, with its trailing separator
// (so that the root of a drive stays the root); empty when it cannot be told.
std::wstring executableFolder()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    std::size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
}

}  // namespace

void *loadLibrary(const char *fileName)
{
    // Naming a DLL directory takes the current directory out of the search
    // and keeps the executable's folder, the system folders and PATH, so a
    // library planted in whatever folder the program is started in is never
    // loaded. The directory named is the executable's own folder, which the
    // search already starts with: the empty name does the same on Windows,
    // but Wine takes it for no setting and keeps the current directory.
    SetDllDirectoryW(executableFolder().c_str());
    return reinterpret_cast<void *>(LoadLibraryW(widen(fileName).c_str()));
}

void *resolveOrdinal(void *library, int ordinal)
{
    auto ordinalName = reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(ordinal)));
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), ordinalName));
}

std::span<std::byte> openSharedBlock(const char *name)
{
    HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, widen(name).c_str());
    if (mapping == nullptr)
        return {};
    void *view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (view == nullptr)
        return {};
    // A section made with SEC_RESERVE may hold pages that are not committed;
    // the block ends at the first of them.
    auto *base = static_cast<std::byte *>(view);
    return {base, committedPrefix(viewRegions(view))};
}

void sleepMilliseconds(unsigned milliseconds)
{
    Sleep(milliseconds);
}

void yieldProcessor()
{
    Sleep(0);
}

Guard takeInstanceGuard(const char *name)
{
    HANDLE mutex = CreateMutexW(nullptr, TRUE, widen(name).c_str());
    if (mutex == nullptr)
        return Guard::unavailable;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return Guard::alreadyHeld;
    }
    return Guard::held;
}

std::uint32_t lastError()
{
    return GetLastError();
}

void pause()
{
    std::fflush(stdout);
    std::system("pause");
}

}  // namespace platform

#include "platform/watched_block.h"

#include "platform/backend_win32.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace platform {
namespace {

// A mapping backed by the paging file goes away with its last handle, so one
// that someone else made outlives sensor-watch.
HANDLE mapping = nullptr;
void *view = nullptr;

std::string describe(const char *what)
{
    return std::string(what) + " failed with error " + std::to_string(GetLastError());
}

}  // namespace

WatchedBlock openWatchedBlock(std::string_view name, std::size_t size)
{
    WatchedBlock block;
    const std::wstring wideName = widen(name);
    // Opening comes first, so that a mapping someone else made is never taken
    // over. A mapping made between the two calls is opened by the second call
    // too, and then counts as someone else's.
    mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, wideName.c_str());
    block.attached = mapping != nullptr;
    if (mapping == nullptr) {
        // Only a block that is not there is made; one that is there but
        // cannot be opened (ERROR_ACCESS_DENIED, say) is someone else's.
        if (const DWORD error = GetLastError(); error != ERROR_FILE_NOT_FOUND) {
            block.error = "cannot open the block " + std::string(name) + ": error " + std::to_string(error);
            return block;
        }
        const auto size64 = static_cast<unsigned long long>(size);
        mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                     static_cast<DWORD>(size64 >> 32),
                                     static_cast<DWORD>(size64 & 0xffffffffu), wideName.c_str());
        block.attached = mapping != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
    }
    if (mapping == nullptr) {
        block.error = describe("cannot create the block: CreateFileMappingW");
        return block;
    }
    // The whole mapping, whatever its size: a paging-file mapping's size is a
    // whole number of pages, which the view's regions tell.
    view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, block.attached ? 0 : size);
    const std::vector<MappedRegion> regions =
        view != nullptr ? viewRegions(view) : std::vector<MappedRegion>();
    if (regions.empty()) {
        block.error = describe(view == nullptr ? "cannot map the block: MapViewOfFile"
                                               : "cannot map the block: VirtualQuery");
        closeWatchedBlock();
        return block;
    }
    if (!block.attached) {
        block.size = size;
        return block;
    }
    block = attachedView(name, regions);
    if (!block.error.empty())
        closeWatchedBlock();
    return block;
}

std::size_t copyWatchedBlock(std::span<std::byte> into)
{
    std::memcpy(into.data(), view, into.size());
    return into.size();
}

void closeWatchedBlock()
{
    if (view != nullptr)
        UnmapViewOfFile(view);
    if (mapping != nullptr)
        CloseHandle(mapping);
    view = nullptr;
    mapping = nullptr;
}

}  // namespace platform

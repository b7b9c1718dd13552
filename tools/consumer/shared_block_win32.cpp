#include "shared_block.h"

#include <windows.h>

#include <string>

namespace {

std::string describe(const char *what)
{
    return std::string(what) + " failed with error " + std::to_string(GetLastError());
}

}  // namespace

struct SharedBlock::Resources {
    HANDLE mapping = nullptr;
    void *view = nullptr;
    // A mapping backed by the paging file goes away with its last handle, so
    // one that someone else made outlives the consumer.
    ~Resources()
    {
        if (view != nullptr)
            UnmapViewOfFile(view);
        if (mapping != nullptr)
            CloseHandle(mapping);
    }
};

SharedBlock::SharedBlock(std::string_view name, std::size_t size) : resources_(std::make_unique<Resources>())
{
    // The name is plain ASCII, so widening it byte by byte is exact.
    const std::wstring wideName(name.begin(), name.end());
    // Opening comes first, so that a mapping someone else made is never taken
    // over. A mapping made between the two calls is opened by the second call
    // too, and then counts as someone else's.
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, wideName.c_str());
    attached_ = mapping != nullptr;
    if (mapping == nullptr) {
        const auto size64 = static_cast<unsigned long long>(size);
        mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                     static_cast<DWORD>(size64 >> 32),
                                     static_cast<DWORD>(size64 & 0xffffffffu), wideName.c_str());
        attached_ = mapping != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
    }
    if (mapping == nullptr) {
        error_ = describe("CreateFileMappingW");
        return;
    }
    resources_->mapping = mapping;
    // The whole mapping, whatever its size: a paging-file mapping's size is a
    // whole number of pages, which the view's region tells.
    void *view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, attached_ ? 0 : size);
    resources_->view = view;
    MEMORY_BASIC_INFORMATION region{};
    if (view == nullptr || VirtualQuery(view, &region, sizeof region) == 0) {
        error_ = describe(view == nullptr ? "MapViewOfFile" : "VirtualQuery");
        return;
    }
    bytes_ = {static_cast<const std::byte *>(view), attached_ ? region.RegionSize : size};
}

SharedBlock::~SharedBlock() = default;

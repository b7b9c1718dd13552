#include "platform/backend_win32.h"

#include <cstdlib>

#include <windows.h>

namespace platform {

std::wstring widen(std::string_view name)
{
    const std::string text(name);
    std::size_t length = std::mbstowcs(nullptr, text.c_str(), 0);
    if (length == static_cast<std::size_t>(-1))
        return {};
    std::wstring wide(length, L'\0');
    std::mbstowcs(wide.data(), text.c_str(), length);
    return wide;
}

std::vector<MappedRegion> viewRegions(const void *view)
{
    // The view covers the whole mapping, rounded up to whole pages; past its
    // end the regions belong to another allocation.
    const auto *base = static_cast<const std::byte *>(view);
    std::vector<MappedRegion> regions;
    MEMORY_BASIC_INFORMATION region{};
    for (std::size_t covered = 0; VirtualQuery(base + covered, &region, sizeof region) != 0 &&
                                  region.AllocationBase == view && region.RegionSize > 0;
         covered += region.RegionSize)
        regions.push_back({region.RegionSize, region.State == MEM_COMMIT});
    return regions;
}

}  // namespace platform

// How much of a mapped view may be written, told from the regions that
// VirtualQuery reports one after the other from the view's base. A mapping
// made with SEC_RESERVE can hold pages that are reserved but not committed,
// and the first write to one of them faults; so only the committed pages from
// the base count, up to the first page that is not.
#pragma once

#include <cstddef>
#include <span>

namespace platform {

struct MappedRegion {
    std::size_t size;
    bool committed;
};

inline std::size_t committedPrefix(std::span<const MappedRegion> regions)
{
    std::size_t prefix = 0;
    for (const MappedRegion &region : regions) {
        if (!region.committed)
            break;
        prefix += region.size;
    }
    return prefix;
}

}  // namespace platform

#include "platform/watched_block.h"

#include <numeric>

namespace platform {

WatchedBlock attachedView(std::string_view name, std::span<const MappedRegion> regions)
{
    const std::size_t whole =
        std::accumulate(regions.begin(), regions.end(), std::size_t{0},
                        [](std::size_t sum, const MappedRegion &region) { return sum + region.size; });
    const std::size_t committed = committedPrefix(regions);
    if (whole == 0 || committed < whole)
        return {0,
                "the block " + std::string(name) +
                    " has pages that are reserved but not committed: only the first " +
                    std::to_string(committed) + " of its " + std::to_string(whole) + " bytes can be read",
                true};
    return {whole, {}, true};
}

}  // namespace platform

// sensor-watch's shared block: opened as it is, or made when none exists, and
// copied whole. One header, two backends (watched_block_posix.cpp,
// watched_block_win32.cpp), chosen by the build; the decision about a view's
// pages (watched_block.cpp) is the same on both, so that a native test covers
// it.
#pragma once

#include "platform/mapped_regions.h"

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace platform {

// The named block, opened read-only: sensor-watch never writes a byte of it.
struct WatchedBlock {
    // Its size when it was opened; 0 when it could be neither opened nor
    // created, and error then says why.
    std::size_t size = 0;
    std::string error;
    // True when the block existed before, so that it belongs to someone else.
    bool attached = false;
};

// When a block of that name exists (made by the real consumer application,
// say) it is opened as it is, whatever its size, and left as it is on exit.
// Only when none exists is it created, with the given size. sensor-watch
// holds one block for its whole run.
WatchedBlock openWatchedBlock(std::string_view name, std::size_t size);

// Copies the block's first into.size() bytes (its size when opened) into
// `into` and returns how many it copied: fewer only when its owner has shrunk
// it since. On POSIX the copy is read from the object, where a shrunk one
// comes back short instead of faulting as a copy from a mapping would; on
// Windows a mapping's size is fixed for its life, and the view is copied.
std::size_t copyWatchedBlock(std::span<std::byte> into);

// Closes the block, and removes it when openWatchedBlock made it.
void closeWatchedBlock();

// The block someone else made, told from its view's regions (see
// mapped_regions.h): all of the view when every page is committed. A view
// with reserved pages is refused, as the bridge refuses one, since copying it
// would fault at the first page that is not committed.
WatchedBlock attachedView(std::string_view name, std::span<const MappedRegion> regions);

}  // namespace platform

// sensor-watch's shared block. One header, two implementations
// (shared_block_posix.cpp, shared_block_win32.cpp), chosen by the build.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace watch {

// The named block, opened read-only: sensor-watch never writes a byte of it.
struct SharedBlock {
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
SharedBlock openSharedBlock(std::string_view name, std::size_t size);

// Copies the block's first into.size() bytes (its size when opened) into
// `into` and returns how many it copied: fewer only when its owner has shrunk
// it since. On POSIX the copy is read from the object, where a shrunk one
// comes back short instead of faulting as a copy from a mapping would; on
// Windows a mapping's size is fixed for its life, and the view is copied.
std::size_t copyBlock(std::span<std::byte> into);

// Closes the block, and removes it when openSharedBlock made it.
void closeSharedBlock();

}  // namespace watch

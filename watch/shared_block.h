// sensor-watch's shared block. One header, two implementations
// (shared_block_posix.cpp, shared_block_win32.cpp), chosen by the build.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace watch {

// The named block, mapped read-only: sensor-watch never writes a byte of it.
struct SharedBlock {
    // Empty when the block could be neither opened nor created; error then
    // says why.
    std::span<const std::byte> bytes;
    std::string error;
    // True when the block existed before, so that it belongs to someone else.
    bool attached = false;
};

// When a block of that name exists (made by the real consumer application,
// say) it is opened as it is, whatever its size, and left as it is on exit.
// Only when none exists is it created, with the given size. sensor-watch
// holds one block for its whole run.
SharedBlock openSharedBlock(std::string_view name, std::size_t size);

// Unmaps the block, and removes it when openSharedBlock made it.
void closeSharedBlock();

}  // namespace watch

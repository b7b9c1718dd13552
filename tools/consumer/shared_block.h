// The consumer's shared block. One header, two implementations
// (shared_block_posix.cpp, shared_block_win32.cpp), chosen by the build.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>

// The named block, mapped read-only: the consumer never writes a byte of it.
// When a block of that name exists (made by the real consumer application,
// say) it is opened as it is, whatever its size, and left as it is on exit.
// Only when none exists is it created, with the given size, and then removed
// again when destroyed.
class SharedBlock {
  public:
    SharedBlock(std::string_view name, std::size_t size);
    ~SharedBlock();
    SharedBlock(const SharedBlock &) = delete;
    SharedBlock &operator=(const SharedBlock &) = delete;

    // Empty when the block could be neither opened nor created; error() then
    // says why.
    std::span<const std::byte> bytes() const { return bytes_; }
    const std::string &error() const { return error_; }
    // True when the block existed before, so that it belongs to someone else.
    bool attached() const { return attached_; }

  private:
    std::span<const std::byte> bytes_;
    std::string error_;
    bool attached_ = false;
    // What the operating system handed out for the block, released when the
    // block is destroyed; each implementation has its own.
    struct Resources;
    std::unique_ptr<Resources> resources_;
};

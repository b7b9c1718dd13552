// POSIX shared-memory objects: sensor-watch's block (watched_block_posix.cpp),
// and the consumer's, writer's and reader's sides that the tests play.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace platform {

enum class Access { readOnly, readWrite };

// An object mapped whole, until unmapObject. Writing through a read-only
// view faults.
struct MappedObject {
    // Empty when nothing is mapped.
    std::span<std::byte> bytes;
    // True when this call made the object, which is then the caller's to remove.
    bool created = false;
    // Empty on success; otherwise what failed, and nothing is mapped.
    std::string error;
    // The errno of what failed, or 0.
    int errorNumber = 0;
};

// Opens the object `name` ("/name") and maps all of it, whatever its size.
MappedObject openObject(std::string_view name, Access access);

// Makes the object, which must not exist yet, zero-filled to `size` bytes, and
// maps it.
MappedObject createObject(std::string_view name, std::size_t size, Access access);

// An object opened but not mapped, for a reader that copies it with pread:
// where the object has shrunk, pread comes back short, while a copy from a
// mapping would fault (SIGBUS).
struct OpenedObject {
    // Open until the caller closes it; -1 when nothing is open.
    int descriptor = -1;
    // The size when it was opened.
    std::size_t size = 0;
    bool created = false;
    std::string error;
    int errorNumber = 0;
};

// Opens the object as it is when it exists, and makes it with `size` bytes
// only when none does, so that one made by someone else is never taken over.
OpenedObject openOrCreateDescriptor(std::string_view name, std::size_t size, Access access);

void unmapObject(std::span<std::byte> bytes);

// The object's size, or 0 while there is none.
std::size_t objectSize(std::string_view name);

void removeObject(std::string_view name);

}  // namespace platform

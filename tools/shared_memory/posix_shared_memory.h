// POSIX shared-memory objects for the tools and the tests: the consumer's
// block, and the writer and reader sides that the tests play. The system
// keeps its own copy behind its platform seam.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

// A view of a shared-memory object, unmapped when destroyed.
class SharedMapping {
  public:
    SharedMapping() = default;
    SharedMapping(std::byte *data, std::size_t size) : data_(data), size_(size) {}
    ~SharedMapping();
    SharedMapping(SharedMapping &&other) noexcept;
    SharedMapping &operator=(SharedMapping &&other) noexcept;

    // Empty when nothing is mapped. Writing through a read-only view faults.
    std::span<std::byte> bytes() const { return {data_, size_}; }

  private:
    std::byte *data_ = nullptr;
    std::size_t size_ = 0;
};

enum class Access { readOnly, readWrite };

struct OpenedObject {
    SharedMapping mapping;
    // True when this call made the object, which is then the caller's to remove.
    bool created = false;
    // Empty on success; otherwise what failed, and the mapping is empty.
    std::string error;
    // The errno of what failed, or 0.
    int errorNumber = 0;
};

// Opens the object `name` ("/name") and maps all of it, whatever its size.
OpenedObject openObject(std::string_view name, Access access);

// Makes the object, which must not exist yet, zero-filled to `size` bytes, and
// maps it.
OpenedObject createObject(std::string_view name, std::size_t size, Access access);

// Opens the object as it is when it exists, and makes it with `size` bytes
// only when none does, so that one made by someone else is never taken over.
OpenedObject openOrCreateObject(std::string_view name, std::size_t size, Access access);

// The object's size, or 0 while there is none.
std::size_t objectSize(std::string_view name);

void removeObject(std::string_view name);

#include "publish/bench/heap_meter.h"

#include <algorithm>
#include <cerrno>

#include <malloc.h>

// glibc's own allocator, under the names it keeps for programs that replace
// malloc: the replacements below count and then hand over to these.
extern "C" {
void *__libc_malloc(std::size_t size) noexcept;
void *__libc_calloc(std::size_t count, std::size_t size) noexcept;
void *__libc_realloc(void *block, std::size_t size) noexcept;
void *__libc_memalign(std::size_t alignment, std::size_t size) noexcept;
void __libc_free(void *block) noexcept;
}

namespace {

// The benchmark runs on one thread, and the meter is off while it is timed,
// so plain variables serve.
bool metering = false;
std::ptrdiff_t currentBytes = 0;
std::ptrdiff_t peakBytes = 0;
std::size_t allocations = 0;

std::ptrdiff_t blockSize(void *block)
{
    return static_cast<std::ptrdiff_t>(malloc_usable_size(block));
}

void *taken(void *block)
{
    if (metering && block != nullptr) {
        currentBytes += blockSize(block);
        peakBytes = std::max(peakBytes, currentBytes);
        ++allocations;
    }
    return block;
}

void released(void *block)
{
    if (metering && block != nullptr)
        currentBytes -= blockSize(block);
}

}  // namespace

void startHeapMeter()
{
    currentBytes = 0;
    peakBytes = 0;
    allocations = 0;
    metering = true;
}

HeapFigures stopHeapMeter()
{
    metering = false;
    return {static_cast<std::size_t>(peakBytes), allocations};
}

// operator new and delete reach these through the C library's names, so the
// C++ allocations need no replacements of their own.
extern "C" {

void *malloc(std::size_t size) noexcept
{
    return taken(__libc_malloc(size));
}

void *calloc(std::size_t count, std::size_t size) noexcept
{
    return taken(__libc_calloc(count, size));
}

void *realloc(void *block, std::size_t size) noexcept
{
    released(block);
    void *moved = __libc_realloc(block, size);
    // A failed realloc leaves the old block in place.
    return taken(moved != nullptr || size == 0 ? moved : block);
}

void *aligned_alloc(std::size_t alignment, std::size_t size) noexcept
{
    return taken(__libc_memalign(alignment, size));
}

void *memalign(std::size_t alignment, std::size_t size) noexcept
{
    return taken(__libc_memalign(alignment, size));
}

int posix_memalign(void **block, std::size_t alignment, std::size_t size) noexcept
{
    if (alignment % sizeof(void *) != 0 || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    void *aligned = taken(__libc_memalign(alignment, size));
    if (aligned == nullptr)
        return ENOMEM;
    *block = aligned;
    return 0;
}

void free(void *block) noexcept
{
    released(block);
    __libc_free(block);
}

}  // extern "C"

#include "platform/posix_shared_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

OpenedObject failure(std::string_view what, std::string_view name, int descriptor = -1, bool created = false)
{
    const int number = errno;
    if (descriptor >= 0)
        close(descriptor);
    return {-1, 0, created, std::string(what) + ' ' + std::string(name) + ": " + std::strerror(number),
            number};
}

OpenedObject openDescriptor(std::string_view name, Access access)
{
    const std::string path(name);
    const int fd = shm_open(path.c_str(), access == Access::readOnly ? O_RDONLY : O_RDWR, 0);
    if (fd < 0)
        return failure("shm_open", name);
    struct stat status {};
    if (fstat(fd, &status) != 0)
        return failure("fstat", name, fd);
    return {fd, static_cast<std::size_t>(status.st_size), false, {}, 0};
}

OpenedObject createDescriptor(std::string_view name, std::size_t size)
{
    const std::string path(name);
    const int fd = shm_open(path.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
    if (fd < 0)
        return failure("shm_open", name);
    if (ftruncate(fd, static_cast<off_t>(size)) != 0)
        return failure("resizing", name, fd, true);
    return {fd, size, true, {}, 0};
}

// Maps all of the opened object and closes its descriptor.
MappedObject mapDescriptor(const OpenedObject &opened, std::string_view name, Access access)
{
    if (!opened.error.empty())
        return {{}, opened.created, opened.error, opened.errorNumber};
    const int protection = access == Access::readOnly ? PROT_READ : PROT_READ | PROT_WRITE;
    void *data = opened.size > 0 ? mmap(nullptr, opened.size, protection, MAP_SHARED, opened.descriptor, 0)
                                 : MAP_FAILED;
    const int number = errno;
    close(opened.descriptor);
    if (opened.size == 0)
        return {{}, opened.created, "the object " + std::string(name) + " is empty", 0};
    if (data == MAP_FAILED)
        return {{}, opened.created, "mmap " + std::string(name) + ": " + std::strerror(number), number};
    return {{static_cast<std::byte *>(data), opened.size}, opened.created, {}, 0};
}

}  // namespace

MappedObject openObject(std::string_view name, Access access)
{
    return mapDescriptor(openDescriptor(name, access), name, access);
}

MappedObject createObject(std::string_view name, std::size_t size, Access access)
{
    return mapDescriptor(createDescriptor(name, size), name, access);
}

OpenedObject openOrCreateDescriptor(std::string_view name, std::size_t size, Access access)
{
    // An object that appears between the two calls makes the creation fail
    // with EEXIST, and is then opened.
    for (;;) {
        OpenedObject opened = openDescriptor(name, access);
        if (opened.errorNumber != ENOENT)
            return opened;
        opened = createDescriptor(name, size);
        if (opened.errorNumber != EEXIST)
            return opened;
    }
}

void unmapObject(std::span<std::byte> bytes)
{
    if (!bytes.empty())
        munmap(bytes.data(), bytes.size());
}

std::size_t objectSize(std::string_view name)
{
    const std::string path(name);
    const int fd = shm_open(path.c_str(), O_RDONLY, 0);
    struct stat status {};
    const bool known = fd >= 0 && fstat(fd, &status) == 0;
    if (fd >= 0)
        close(fd);
    return known ? static_cast<std::size_t>(status.st_size) : 0;
}

void removeObject(std::string_view name)
{
    shm_unlink(std::string(name).c_str());
}

}  // namespace platform

#include "posix_shared_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

MappedObject failure(std::string_view what, std::string_view name, bool created = false)
{
    const int number = errno;
    return {{}, created, std::string(what) + ' ' + std::string(name) + ": " + std::strerror(number), number};
}

// Maps `size` bytes of the open descriptor and closes it.
MappedObject mapDescriptor(int fd, std::string_view name, std::size_t size, Access access, bool created)
{
    const int protection = access == Access::readOnly ? PROT_READ : PROT_READ | PROT_WRITE;
    void *data = size > 0 ? mmap(nullptr, size, protection, MAP_SHARED, fd, 0) : MAP_FAILED;
    MappedObject mapped{{}, created, {}, 0};
    if (size == 0)
        mapped.error = "the object " + std::string(name) + " is empty";
    else if (data == MAP_FAILED)
        mapped = failure("mmap", name, created);
    else
        mapped.bytes = {static_cast<std::byte *>(data), size};
    close(fd);
    return mapped;
}

}  // namespace

MappedObject openObject(std::string_view name, Access access)
{
    const std::string path(name);
    const int fd = shm_open(path.c_str(), access == Access::readOnly ? O_RDONLY : O_RDWR, 0);
    if (fd < 0)
        return failure("shm_open", name);
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        MappedObject failed = failure("fstat", name);
        close(fd);
        return failed;
    }
    return mapDescriptor(fd, name, static_cast<std::size_t>(status.st_size), access, false);
}

MappedObject createObject(std::string_view name, std::size_t size, Access access)
{
    const std::string path(name);
    const int fd = shm_open(path.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
    if (fd < 0)
        return failure("shm_open", name);
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        MappedObject failed = failure("resizing", name, true);
        close(fd);
        return failed;
    }
    return mapDescriptor(fd, name, size, access, true);
}

MappedObject openOrCreateObject(std::string_view name, std::size_t size, Access access)
{
    // An object that appears between the two calls makes the creation fail
    // with EEXIST, and is then opened.
    for (;;) {
        MappedObject opened = openObject(name, access);
        if (opened.errorNumber != ENOENT)
            return opened;
        opened = createObject(name, size, access);
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

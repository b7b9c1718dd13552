#include "block_writer.h"

#include "block_reader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>

const std::string objectName = "/" + std::string(blockName);

std::size_t objectSize()
{
    struct stat status {};
    const int fd = shm_open(objectName.c_str(), O_RDONLY, 0);
    const bool known = fd >= 0 && fstat(fd, &status) == 0;
    if (fd >= 0)
        close(fd);
    return known ? static_cast<std::size_t>(status.st_size) : 0;
}

bool blockExists()
{
    return objectSize() == blockSize;
}

void publish(std::string_view nameLines, std::string_view text)
{
    const int fd = shm_open(objectName.c_str(), O_RDWR, 0);
    if (fd < 0)
        return;
    void *mapped = mmap(nullptr, blockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    ASSERT_NE(mapped, MAP_FAILED);
    char *block = static_cast<char *>(mapped);
    const std::string content = std::string(nameLines) + std::string(text);
    std::memcpy(block + blockHeader.size(), content.data(), content.size());
    std::memset(block + blockHeader.size() + content.size(), 0,
                blockSize - blockHeader.size() - content.size());
    std::memcpy(block, blockHeader.data(), blockHeader.size());
    munmap(mapped, blockSize);
}

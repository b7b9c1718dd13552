#include "watch/tests/block_writer.h"

#include "watch/block_reader.h"

#include <gtest/gtest.h>

#include <cstring>

using watch::blockHeader;
using watch::blockName;
using watch::blockSize;

const std::string objectName = "/" + std::string(blockName);

std::size_t blockObjectSize()
{
    return platform::objectSize(objectName);
}

bool blockExists()
{
    return blockObjectSize() == blockSize;
}

void publish(std::string_view nameLines, std::string_view text)
{
    const platform::MappedObject opened = platform::openObject(objectName, platform::Access::readWrite);
    if (!opened.error.empty())
        return;
    ASSERT_GE(opened.bytes.size(), blockSize);
    char *block = reinterpret_cast<char *>(opened.bytes.data());
    const std::string content = std::string(nameLines) + std::string(text);
    std::memcpy(block + blockHeader.size(), content.data(), content.size());
    std::memset(block + blockHeader.size() + content.size(), 0,
                blockSize - blockHeader.size() - content.size());
    std::memcpy(block, blockHeader.data(), blockHeader.size());
    platform::unmapObject(opened.bytes);
}

#include "shared_block.h"

#include "tools/shared_memory/posix_shared_memory.h"

#include <utility>

namespace watch {
namespace {

std::span<std::byte> mapped;
// The object's name when sensor-watch made it, and so removes it.
std::string madeName;

}  // namespace

SharedBlock openSharedBlock(std::string_view name, std::size_t size)
{
    const std::string objectName = "/" + std::string(name);
    MappedObject opened = openOrCreateObject(objectName, size, Access::readOnly);
    mapped = opened.bytes;
    if (opened.created)
        madeName = objectName;
    if (!opened.error.empty())
        closeSharedBlock();
    return {opened.bytes, opened.error, opened.error.empty() && !opened.created};
}

void closeSharedBlock()
{
    unmapObject(std::exchange(mapped, {}));
    if (!madeName.empty())
        removeObject(std::exchange(madeName, {}));
}

}  // namespace watch

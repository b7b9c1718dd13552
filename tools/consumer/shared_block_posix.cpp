#include "shared_block.h"

#include "tools/shared_memory/posix_shared_memory.h"

#include <utility>

struct SharedBlock::Resources {
    SharedMapping mapping;
    // The object's name when the consumer made it, and so removes it.
    std::string madeName;
    ~Resources()
    {
        if (!madeName.empty())
            removeObject(madeName);
    }
};

SharedBlock::SharedBlock(std::string_view name, std::size_t size) : resources_(std::make_unique<Resources>())
{
    const std::string objectName = "/" + std::string(name);
    OpenedObject opened = openOrCreateObject(objectName, size, Access::readOnly);
    if (opened.created)
        resources_->madeName = objectName;
    error_ = opened.error;
    attached_ = error_.empty() && !opened.created;
    resources_->mapping = std::move(opened.mapping);
    bytes_ = resources_->mapping.bytes();
}

SharedBlock::~SharedBlock() = default;

#include "platform/watched_block.h"

#include "platform/posix_shared_memory.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace platform {
namespace {

// Open for the whole run, and read with pread.
int descriptor = -1;
// The object's name when sensor-watch made it, and so removes it.
std::string madeName;

}  // namespace

WatchedBlock openWatchedBlock(std::string_view name, std::size_t size)
{
    const std::string objectName = "/" + std::string(name);
    const OpenedObject opened = openOrCreateDescriptor(objectName, size, Access::readOnly);
    descriptor = opened.descriptor;
    if (opened.created)
        madeName = objectName;
    std::string error = opened.error;
    if (error.empty() && opened.size == 0)
        error = "the object " + objectName + " is empty";
    if (!error.empty()) {
        closeWatchedBlock();
        return {0, "cannot open or create the shared block: " + error, false};
    }
    return {opened.size, {}, !opened.created};
}

std::size_t copyWatchedBlock(std::span<std::byte> into)
{
    std::size_t copied = 0;
    while (copied < into.size()) {
        const ssize_t read =
            pread(descriptor, into.data() + copied, into.size() - copied, static_cast<off_t>(copied));
        if (read < 0 && errno == EINTR)
            continue;
        if (read <= 0)
            break;
        copied += static_cast<std::size_t>(read);
    }
    return copied;
}

void closeWatchedBlock()
{
    if (descriptor >= 0)
        close(std::exchange(descriptor, -1));
    if (!madeName.empty())
        removeObject(std::exchange(madeName, {}));
}

}  // namespace platform

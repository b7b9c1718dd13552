#include "shared_block.h"

#include "tools/shared_memory/posix_shared_memory.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <utility>

namespace {

std::atomic<bool> stopFlag{false};

void onSignal(int)
{
    stopFlag = true;
}

}  // namespace

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

void installStopHandler()
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    // A reader that goes away (consumer --json | head -1) shows up as a failed
    // write, which ends the loop, rather than as a signal that skips the
    // clean-up.
    std::signal(SIGPIPE, SIG_IGN);
}

bool stopRequested()
{
    return stopFlag;
}

bool prepareStdout()
{
    return isatty(STDOUT_FILENO) != 0;
}

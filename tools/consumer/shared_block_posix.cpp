#include "shared_block.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

std::atomic<bool> stopFlag{false};

void onSignal(int)
{
    stopFlag = true;
}

}  // namespace

SharedBlock::SharedBlock(std::string_view name, std::size_t size) : name_("/" + std::string(name))
{
    const int fd = shm_open(name_.c_str(), O_CREAT | O_RDWR, 0600);
    if (fd < 0) {
        error_ = "shm_open " + name_ + ": " + std::strerror(errno);
        // Nothing was created, so there is nothing to remove.
        name_.clear();
        return;
    }
    // A block left by an earlier run is reused, but always with the size asked
    // for.
    struct stat status {};
    const auto length = static_cast<off_t>(size);
    if (fstat(fd, &status) != 0 || (status.st_size != length && ftruncate(fd, length) != 0)) {
        error_ = "resizing " + name_ + ": " + std::strerror(errno);
        close(fd);
        return;
    }
    void *data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (data == MAP_FAILED) {
        error_ = "mmap " + name_ + ": " + std::strerror(errno);
        return;
    }
    data_ = static_cast<std::byte *>(data);
    size_ = size;
}

SharedBlock::~SharedBlock()
{
    if (data_ != nullptr)
        munmap(data_, size_);
    if (!name_.empty())
        shm_unlink(name_.c_str());
}

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

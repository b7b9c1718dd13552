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
    // Opening comes first, so that a block someone else made is never taken
    // over; should it appear between the two calls, O_EXCL fails and the
    // opening is tried again.
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 3; ++attempt) {
        fd = shm_open(name_.c_str(), O_RDONLY, 0);
        attached_ = fd >= 0;
        if (fd < 0 && errno == ENOENT)
            fd = shm_open(name_.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        error_ = "shm_open " + name_ + ": " + std::strerror(errno);
        name_.clear();
        return;
    }
    struct stat status {};
    bool sized = false;
    if (attached_) {
        // Nothing is removed on the way out, whatever happens here.
        name_.clear();
        sized = fstat(fd, &status) == 0 && status.st_size > 0;
        size = sized ? static_cast<std::size_t>(status.st_size) : 0;
        if (!sized)
            error_ = "the existing block " + std::string(name) + " is empty";
    } else {
        // A new object is zero-filled to its size.
        sized = ftruncate(fd, static_cast<off_t>(size)) == 0;
        if (!sized)
            error_ = "resizing " + name_ + ": " + std::strerror(errno);
    }
    void *data = sized ? mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0) : MAP_FAILED;
    if (sized && data == MAP_FAILED)
        error_ = "mmap " + name_ + ": " + std::strerror(errno);
    close(fd);
    if (data == MAP_FAILED)
        return;
    data_ = static_cast<const std::byte *>(data);
    size_ = size;
}

SharedBlock::~SharedBlock()
{
    if (data_ != nullptr)
        munmap(const_cast<std::byte *>(data_), size_);
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

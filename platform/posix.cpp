// POSIX side of the platform seam. The conventions here are fixed because the
// tools and tests rely on them: the library is a shared object named like the
// Windows one, ordinal N is the symbol "ordinal_N", and the block is the POSIX
// shared-memory object of the same name with a leading slash.
#include "platform/platform.h"

#include "platform/posix_shared_memory.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <string>

#include <dlfcn.h>
#include <limits.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

namespace platform {

namespace {

// The directory that holds the running executable, with a trailing slash, or
// empty when it cannot be told.
std::string executableDirectory()
{
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path)
        return {};
    std::string directory(path, static_cast<std::size_t>(length));
    return directory.substr(0, directory.rfind('/') + 1);
}

}  // namespace

void *loadLibrary(const char *fileName)
{
    // Beside the executable first, as Windows searches the application's
    // directory first; then the dynamic loader's own search for the bare name.
    std::string besideExecutable = executableDirectory();
    if (!besideExecutable.empty()) {
        if (void *library = dlopen((besideExecutable + fileName).c_str(), RTLD_NOW | RTLD_LOCAL))
            return library;
    }
    return dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
}

void *resolveOrdinal(void *library, int ordinal)
{
    char symbol[32] = "ordinal_";
    char *end = std::to_chars(symbol + 8, symbol + sizeof symbol - 1, ordinal).ptr;
    *end = '\0';
    return dlsym(library, symbol);
}

std::span<std::byte> openSharedBlock(const char *name)
{
    // Mapped whole and never unmapped, like the view on Windows.
    return openObject("/" + std::string(name), Access::readWrite).bytes;
}

void sleepMilliseconds(unsigned milliseconds)
{
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

void yieldProcessor()
{
    sched_yield();
}

Guard takeInstanceGuard(const char *name)
{
    // A socket bound to a name in Linux's abstract namespace is machine-wide,
    // leaves no file behind, and the kernel releases the name when the process
    // dies, however it dies. The descriptor is never closed.
    int guard = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (guard < 0)
        return Guard::unavailable;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string_view text(name);
    std::size_t length = std::min(text.size(), sizeof address.sun_path - 1);
    text.copy(address.sun_path + 1, length);
    auto addressSize = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    if (bind(guard, reinterpret_cast<sockaddr *>(&address), addressSize) == 0)
        return Guard::held;
    int error = errno;
    close(guard);
    return error == EADDRINUSE ? Guard::alreadyHeld : Guard::unavailable;
}

std::uint32_t lastError()
{
    return static_cast<std::uint32_t>(errno);
}

void pause()
{
    // The prompt of the Windows command interpreter. One byte ends the wait,
    // and so does the end of input, so a closed input never hangs the process.
    std::fputs("Press any key to continue . . . ", stdout);
    std::fflush(stdout);
    char key;
    while (read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
    }
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

}  // namespace platform

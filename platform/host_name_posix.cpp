#include "platform/host_name.h"

#include <unistd.h>

namespace platform {

std::string hostName()
{
    // POSIX leaves a name that fills the buffer without its NUL, so one byte
    // is kept for it.
    char name[256] = "";
    return gethostname(name, sizeof name - 1) == 0 ? std::string(name) : std::string();
}

}  // namespace platform

#include "tools/simsensors/entries.h"

#include <cerrno>

namespace simsensors {

void setLastError(int code)
{
    errno = code;
}

int lastError()
{
    return errno;
}

}  // namespace simsensors

#include "entries.h"

#include <cerrno>

namespace simsensors {

void setLastError(int code)
{
    errno = code;
}

}  // namespace simsensors

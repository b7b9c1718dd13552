#include "entries.h"

#include <windows.h>

namespace simsensors {

void setLastError(int code)
{
    SetLastError(static_cast<DWORD>(code));
}

}  // namespace simsensors

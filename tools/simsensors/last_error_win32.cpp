#include "tools/simsensors/entries.h"

#include <windows.h>

namespace simsensors {

void setLastError(int code)
{
    SetLastError(static_cast<DWORD>(code));
}

int lastError()
{
    return static_cast<int>(GetLastError());
}

}  // namespace simsensors

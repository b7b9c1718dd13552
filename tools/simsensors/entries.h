// The simulated sensor library's entries: the vendor's seven, exported by
// ordinal, over the built-in or a file's scenario.
#pragma once

#include "tools/vendor_library.h"

namespace simsensors {

using Record = vendor::Record;

// Leaves code as the calling thread's last error, where the vendor library
// reports why init failed: errno on POSIX, SetLastError on Windows.
void setLastError(int code);

// The calling thread's last error, as setLastError or a failing call left it.
int lastError();

}  // namespace simsensors

// The libsensors-backed library's entries: the vendor's seven, exported by
// ordinal. Init starts libsensors with the system's configuration and reads
// every value once; the poll detects chips again when due and reads every
// value once; the other entries only copy from what the last poll read.
#pragma once

#include "tools/vendor_library.h"

namespace hwmonsensors {

using Record = vendor::Record;

}  // namespace hwmonsensors

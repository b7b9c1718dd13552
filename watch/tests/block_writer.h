// The writer's side of sensor-watch's POSIX shared-memory object, played by
// the process tests in place of the bridge.
#pragma once

#include "tools/shared_memory/posix_shared_memory.h"

#include <cstddef>
#include <string>
#include <string_view>

extern const std::string objectName;

// The size of the object, or 0 while there is none.
std::size_t blockObjectSize();

// True while the object exists with the full block size.
bool blockExists();

// Publishes like the bridge does: name lines and text first, then the zero
// fill, and the header last. Does nothing while the object does not exist.
void publish(std::string_view nameLines, std::string_view text);

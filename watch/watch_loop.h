// sensor-watch's run: opens or creates the block, copies it over and over
// without any lock, and shows or serves each new valid snapshot.
#pragma once

#include "watch/options.h"

namespace watch {

// Runs until the options say the watch is done, a stop is asked for or
// something fails; returns the exit status: 0 on success or a stop, 1 on a
// timeout or a system error.
int run(const Options &options);

}  // namespace watch

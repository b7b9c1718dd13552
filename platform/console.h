// sensor-watch's console: stop requests and standard output. One header, two
// backends (console_posix.cpp, console_win32.cpp), chosen by the build.
#pragma once

namespace platform {

// Makes Ctrl-C and termination requests set a flag instead of ending the
// process, so that a block sensor-watch made is removed on the way out.
void installStopHandler();
bool stopRequested();

// Prepares standard output for byte-exact UTF-8 text and tells whether it is
// a terminal that takes escape codes. A Windows console is switched to UTF-8
// until sensor-watch ends, and then gets its code page back.
bool prepareStdout();

}  // namespace platform

// sensor-watch's console: stop requests and standard output. One header, two
// implementations (console_posix.cpp, console_win32.cpp), chosen by the build.
#pragma once

namespace watch {

// Makes Ctrl-C and termination requests set a flag instead of ending the
// process, so that a block sensor-watch made is removed on the way out.
void installStopHandler();
bool stopRequested();

// Prepares standard output for byte-exact text and terminal escapes and tells
// whether it is a terminal.
bool prepareStdout();

}  // namespace watch

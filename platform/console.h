// sensor-watch's console: stop requests, standard output, and the terminal
// of the full-screen view. One header, two backends (console_posix.cpp,
// console_win32.cpp), chosen by the build.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace platform {

// Makes Ctrl-C and termination requests set a flag instead of ending the
// process, so that a block sensor-watch made is removed on the way out.
void installStopHandler();
bool stopRequested();

// Prepares standard output for byte-exact UTF-8 text and tells whether it is
// a terminal that takes escape codes. A Windows console is switched to UTF-8
// until sensor-watch ends, and then gets its code page back.
bool prepareStdout();
// The full-screen view's terminal: its size, the alternate screen, and keys
// read one at a time without echo.
struct ScreenSize {
    std::size_t rows = 0;
    std::size_t columns = 0;
};

// Switches standard output to the terminal's alternate screen with the
// cursor hidden, and standard input, when it is a terminal, to keys one at a
// time without echo (Ctrl-C still asks to stop). False where standard output
// does not take escape codes; then nothing changed. leaveScreen gives the
// terminal back, and so does the end of the process.
bool enterScreen();

// Gives the terminal back as enterScreen found it; nothing when it is not in
// the view.
void leaveScreen();

// The terminal's rows and columns; zeros when unknown.
ScreenSize screenSize();

struct ScreenInput {
    // The keys pressed, as the bytes a terminal sends for them (on Windows
    // made so from the console's key events).
    std::string keys;
    // The terminal changed its size since the last call.
    bool resized = false;
};

// Waits up to `wait` for keys, and returns as soon as any came or the
// terminal was resized.
ScreenInput readScreenInput(std::chrono::milliseconds wait);

}  // namespace platform

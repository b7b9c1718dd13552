#include "platform/console.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace platform {
namespace {

std::atomic<bool> stopFlag{false};

void onSignal(int)
{
    stopFlag = true;
}

std::atomic<bool> resizedFlag{false};
bool inScreen = false;
// Standard input's settings before the view, while keys are read from it.
bool readingKeys = false;
termios savedInput{};

void onResize(int)
{
    resizedFlag = true;
}

void writeAll(const char *text)
{
    std::fputs(text, stdout);
    std::fflush(stdout);
}

}  // namespace

void installStopHandler()
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    // A write to the terminal that a signal interrupts goes on rather than
    // failing; the waits return early all the same.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    // A reader that goes away (sensor-watch --json | head -1) shows up as a failed
    // write, which ends the loop, rather than as a signal that skips the
    // clean-up.
    std::signal(SIGPIPE, SIG_IGN);
}

bool stopRequested()
{
    return stopFlag;
}

bool prepareStdout()
{
    return isatty(STDOUT_FILENO) != 0;
}

bool enterScreen()
{
    if (inScreen)
        return true;
    if (isatty(STDOUT_FILENO) == 0)
        return false;
    if (isatty(STDIN_FILENO) != 0 && tcgetattr(STDIN_FILENO, &savedInput) == 0) {
        termios keys = savedInput;
        keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        keys.c_cc[VMIN] = 0;
        keys.c_cc[VTIME] = 0;
        // Ctrl-Z and Ctrl-\ would stop or end sensor-watch with the terminal
        // still in the view; Ctrl-C asks it to stop, and it gives the
        // terminal back.
        keys.c_cc[VSUSP] = _POSIX_VDISABLE;
        keys.c_cc[VQUIT] = _POSIX_VDISABLE;
        readingKeys = tcsetattr(STDIN_FILENO, TCSANOW, &keys) == 0;
    }
    struct sigaction action {};
    action.sa_handler = onResize;
    // The wait for keys returns at a resize whatever the flag says.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGWINCH, &action, nullptr);
    static bool leavesAtExit = false;
    if (!std::exchange(leavesAtExit, true))
        std::atexit(leaveScreen);
    inScreen = true;
    writeAll("\x1b[?1049h\x1b[?25l");
    return true;
}

void leaveScreen()
{
    if (!inScreen)
        return;
    inScreen = false;
    writeAll("\x1b[?25h\x1b[?1049l");
    if (std::exchange(readingKeys, false))
        tcsetattr(STDIN_FILENO, TCSANOW, &savedInput);
}

ScreenSize screenSize()
{
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0)
        return {};
    return {size.ws_row, size.ws_col};
}

ScreenInput readScreenInput(std::chrono::milliseconds wait)
{
    ScreenInput input;
    pollfd watched{readingKeys ? STDIN_FILENO : -1, POLLIN, 0};
    // A resize interrupts the wait.
    if (poll(&watched, 1, static_cast<int>(wait.count())) > 0) {
        char bytes[256];
        const ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
        if (count > 0)
            input.keys.assign(bytes, static_cast<std::size_t>(count));
        // A terminal that hung up has no more keys, and would wake every
        // wait at once.
        if (count <= 0 || (watched.revents & (POLLHUP | POLLERR)) != 0)
            readingKeys = false;
    }
    input.resized = resizedFlag.exchange(false);
    return input;
}

}  // namespace platform

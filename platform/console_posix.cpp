#include "platform/console.h"

#include <unistd.h>

#include <atomic>
#include <csignal>

namespace platform {
namespace {

std::atomic<bool> stopFlag{false};

void onSignal(int)
{
    stopFlag = true;
}

}  // namespace

void installStopHandler()
{
    struct sigaction action {};
    action.sa_handler = onSignal;
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

}  // namespace platform

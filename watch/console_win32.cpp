#include "console.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdio>

namespace watch {
namespace {

std::atomic<bool> stopFlag{false};

BOOL WINAPI onConsoleEvent(DWORD)
{
    stopFlag = true;
    return TRUE;
}

}  // namespace

void installStopHandler()
{
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

bool stopRequested()
{
    return stopFlag;
}

bool prepareStdout()
{
    // Names and text go out byte for byte, without "\n" turning into "\r\n".
    _setmode(_fileno(stdout), _O_BINARY);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == INVALID_HANDLE_VALUE || GetConsoleMode(out, &mode) == 0)
        return false;
    SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    return true;
}

}  // namespace watch

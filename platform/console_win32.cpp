#include "platform/console.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace platform {
namespace {

std::atomic<bool> stopFlag{false};
// The console's output code page before sensor-watch set UTF-8, or 0 while
// it has not set it.
std::atomic<UINT> savedCodePage{0};

// The code page is the console's, not the process's, so the shell that
// started sensor-watch would go on with UTF-8.
void restoreCodePage()
{
    if (const UINT codePage = savedCodePage.exchange(0); codePage != 0)
        SetConsoleOutputCP(codePage);
}

BOOL WINAPI onConsoleEvent(DWORD)
{
    // Put back at once: after a close, logoff or shutdown event the system
    // may end the process as soon as the handler returns.
    restoreCodePage();
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
    // The console shows its OEM code page otherwise, and UTF-8 names and
    // units as mojibake ("Â°C").
    const UINT codePage = GetConsoleOutputCP();
    if (SetConsoleOutputCP(CP_UTF8) != 0) {
        savedCodePage = codePage;
        std::atexit(restoreCodePage);
    }
    // Escape codes only where the console takes them; otherwise they would
    // print as text, and the tables are printed one after another instead.
    return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace platform

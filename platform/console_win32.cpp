#include "platform/console.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>
#include <utility>

namespace platform {
namespace {

std::atomic<bool> stopFlag{false};
// The console's output code page before sensor-watch set UTF-8, or 0 while
// it has not set it.
std::atomic<UINT> savedCodePage{0};

std::atomic<bool> inScreen{false};
// Standard input's console mode before the view, while keys are read from it.
std::atomic<bool> readingKeys{false};
DWORD savedInputMode = 0;

void writeAll(const char *text)
{
    std::fputs(text, stdout);
    std::fflush(stdout);
}

// The code page is the console's, not the process's, so the shell that
// started sensor-watch would go on with UTF-8.
void restoreCodePage()
{
    if (const UINT codePage = savedCodePage.exchange(0); codePage != 0)
        SetConsoleOutputCP(codePage);
}

BOOL WINAPI onConsoleEvent(DWORD event)
{
    // Put back at once: after a close, logoff or shutdown event the system
    // may end the process as soon as the handler returns. After Ctrl+C the
    // view ends on its own, and leaves the screen once it has stopped drawing.
    restoreCodePage();
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        leaveScreen();
    stopFlag = true;
    return TRUE;
}

// The console's keys as a terminal sends them, so that one decoding serves
// both systems.
constexpr std::array<std::pair<WORD, std::string_view>, 9> sequences{{{VK_UP, "\x1b[A"},
                                                                      {VK_DOWN, "\x1b[B"},
                                                                      {VK_PRIOR, "\x1b[5~"},
                                                                      {VK_NEXT, "\x1b[6~"},
                                                                      {VK_HOME, "\x1b[H"},
                                                                      {VK_END, "\x1b[F"},
                                                                      {VK_ESCAPE, "\x1b"},
                                                                      {VK_RETURN, "\r"},
                                                                      {VK_BACK, "\x7f"}}};

std::string utf8Of(std::wstring_view text)
{
    std::string out(text.size() * 3, '\0');
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                                           static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(static_cast<std::size_t>(std::max(length, 0)));
    return out;
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

bool enterScreen()
{
    if (inScreen)
        return true;
    // Virtual-terminal processing, which prepareStdout asked for, draws the
    // view; a console that refused it gets the plain table.
    DWORD outputMode = 0;
    if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &outputMode) == 0 ||
        (outputMode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) == 0)
        return false;
    // Keys one at a time without echo, resizes reported, Ctrl+C still a
    // stop request, and no selection with the mouse that would hold up the
    // output.
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(input, &mode) != 0) {
        savedInputMode = mode;
        const DWORD keys = (mode | ENABLE_WINDOW_INPUT | ENABLE_PROCESSED_INPUT | ENABLE_EXTENDED_FLAGS) &
                           ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT |
                                               ENABLE_QUICK_EDIT_MODE | ENABLE_MOUSE_INPUT);
        readingKeys = SetConsoleMode(input, keys) != 0;
    }
    static bool leavesAtExit = false;
    if (!std::exchange(leavesAtExit, true))
        std::atexit(leaveScreen);
    inScreen = true;
    writeAll("\x1b[?1049h\x1b[?25l");
    return true;
}

void leaveScreen()
{
    if (!inScreen.exchange(false))
        return;
    writeAll("\x1b[?25h\x1b[?1049l");
    if (readingKeys.exchange(false))
        SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), savedInputMode);
}

ScreenSize screenSize()
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) == 0)
        return {};
    return {static_cast<std::size_t>(info.srWindow.Bottom - info.srWindow.Top + 1),
            static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1)};
}

ScreenInput readScreenInput(std::chrono::milliseconds wait)
{
    ScreenInput input;
    HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
    if (!readingKeys) {
        Sleep(static_cast<DWORD>(wait.count()));
        return input;
    }
    INPUT_RECORD records[64];
    DWORD count = 0;
    if (WaitForSingleObject(handle, static_cast<DWORD>(wait.count())) != WAIT_OBJECT_0 ||
        ReadConsoleInputW(handle, records, 64, &count) == 0)
        return input;
    std::wstring characters;
    for (const INPUT_RECORD &record : std::span(records, count)) {
        if (record.EventType == WINDOW_BUFFER_SIZE_EVENT)
            input.resized = true;
        if (record.EventType != KEY_EVENT || record.Event.KeyEvent.bKeyDown == 0)
            continue;
        const KEY_EVENT_RECORD &key = record.Event.KeyEvent;
        const auto special =
            std::ranges::find(sequences, key.wVirtualKeyCode, &std::pair<WORD, std::string_view>::first);
        for (WORD repeat = 0; repeat < std::max<WORD>(key.wRepeatCount, 1); ++repeat) {
            if (special != sequences.end()) {
                input.keys += utf8Of(std::exchange(characters, {})) + std::string(special->second);
            } else if (key.uChar.UnicodeChar != 0) {
                characters += key.uChar.UnicodeChar;
            }
        }
    }
    input.keys += utf8Of(characters);
    return input;
}

}  // namespace platform

// Runs sensor-bridge.exe with no window, its input from NUL and its output
// into the log, inside a job object that ends it with the launcher, and
// starts it again after a growing pause whenever it ends.
#include "launcher/launcher.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>

#include <windows.h>

namespace launcher {

namespace {

// The pause before the next start doubles from firstPause up to longestPause
// while the bridge keeps ending soon, as it does before the consumer has
// created the block; a run of at least settledRun starts it short again.
// Whichever comes first, the consumer's block or the pause's end, the bridge
// publishes within about a minute of the block appearing.
constexpr DWORD firstPause = 2;
constexpr DWORD longestPause = 60;
constexpr DWORD settledRun = 60;

// The length of one second of those pauses, in milliseconds: 1000 unless the
// environment gives a shorter one (1 to 1000), which the tests do so that a
// run of restarts takes seconds, not minutes.
DWORD secondLength()
{
    wchar_t text[16] = L"";
    const DWORD length = GetEnvironmentVariableW(L"SENSOR_BRIDGE_LAUNCHER_SECOND_MS", text, 16);
    if (length == 0 || length >= 16)
        return 1000;
    wchar_t *end = nullptr;
    const unsigned long value = std::wcstoul(text, &end, 10);
    return *end == L'\0' && value >= 1 && value <= 1000 ? static_cast<DWORD>(value) : 1000;
}

// "12 s", or "0.2 s" for the short pauses of a test.
std::string seconds(ULONGLONG milliseconds)
{
    char text[32];
    if (milliseconds >= 10'000 || milliseconds % 1000 == 0)
        std::snprintf(text, sizeof text, "%llu s", (milliseconds + 500) / 1000);
    else
        std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(milliseconds) / 1000);
    return text;
}

// An exit code in decimal, or in hexadecimal when it is an NTSTATUS such as
// 0xC0000005 from a crash.
std::string exitCodeText(DWORD code)
{
    char text[16];
    std::snprintf(text, sizeof text, code < 0x10000 ? "%lu" : "0x%08lX", static_cast<unsigned long>(code));
    return text;
}

// Copies the bridge's output into the log line by line until every process
// that holds the pipe has ended. A line longer than the buffer is logged in
// pieces; a last line without a line end (the "pause" prompt) as it is.
DWORD WINAPI copyOutput(void *pipe)
{
    std::string pending;
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &count, nullptr) && count > 0) {
        pending.append(buffer, count);
        std::size_t end = 0;
        while ((end = pending.find('\n')) != std::string::npos || pending.size() >= sizeof buffer) {
            const std::size_t length = end != std::string::npos ? end : pending.size();
            std::string_view line(pending.data(), length);
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            logLine(line);
            pending.erase(0, end != std::string::npos ? end + 1 : length);
        }
    }
    if (!pending.empty())
        logLine(pending);
    CloseHandle(pipe);
    return 0;
}

// A job that ends every process in it when its last handle closes, the
// launcher's own, however the launcher ends; a crash in it ends the process
// instead of waiting at an error dialog that nobody sees.
HANDLE makeJob()
{
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    if (job == nullptr ||
        !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits))
        logLine("launcher: cannot make a job object, " + utf8(describeError(GetLastError())) +
                "; the bridge may outlive the launcher");
    return job;
}

struct Bridge {
    HANDLE process = nullptr;
    HANDLE outputCopier = nullptr;
};

// Starts the bridge suspended, puts it into the job, and lets it run. Its
// input is NUL, so that its "pause" returns at once; its output and errors go
// into a pipe that copyOutput reads.
Bridge startBridge(HANDLE job, const std::wstring &program)
{
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        logLine("launcher: cannot make a pipe, " + utf8(describeError(GetLastError())));
        return {};
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                             OPEN_EXISTING, 0, nullptr);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    std::wstring commandLine = L"\"" + program + L"\"";
    PROCESS_INFORMATION started{};
    const BOOL created = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, programFolder().c_str(),
                                        &startup, &started);
    const DWORD error = GetLastError();
    CloseHandle(writeEnd);
    if (nul != INVALID_HANDLE_VALUE)
        CloseHandle(nul);
    if (!created) {
        CloseHandle(readEnd);
        logLine("launcher: cannot start " + utf8(program) + ", " + utf8(describeError(error)));
        return {};
    }
    if (job != nullptr && !AssignProcessToJobObject(job, started.hProcess))
        logLine("launcher: cannot put the bridge into its job, " + utf8(describeError(GetLastError())) +
                "; it may outlive the launcher");
    ResumeThread(started.hThread);
    CloseHandle(started.hThread);
    logLine("launcher: started " + utf8(program) + " (process " + std::to_string(started.dwProcessId) + ")");
    Bridge bridge{started.hProcess, CreateThread(nullptr, 0, copyOutput, readEnd, 0, nullptr)};
    if (bridge.outputCopier == nullptr)
        CloseHandle(readEnd);
    return bridge;
}

// Ends whatever the bridge left in the job, such as the command interpreter
// of its "pause", and waits until its output is in the log.
void finish(HANDLE job, Bridge &bridge)
{
    if (job != nullptr)
        TerminateJobObject(job, 1);
    if (bridge.outputCopier != nullptr) {
        WaitForSingleObject(bridge.outputCopier, 10'000);
        CloseHandle(bridge.outputCopier);
    }
    CloseHandle(bridge.process);
    bridge = {};
}

}  // namespace

int superviseBridge()
{
    // The event of a launcher that ended may still be set while an --install
    // or --uninstall holds it open; this launcher starts with it clear.
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, stopEventName);
    if (stop == nullptr) {
        logLine("launcher: cannot make its stop event, " + utf8(describeError(GetLastError())));
        return 1;
    }
    ResetEvent(stop);
    HANDLE job = makeJob();
    const std::wstring program = programFolder() + L"sensor-bridge.exe";
    const DWORD second = secondLength();
    DWORD pause = firstPause;
    for (;;) {
        const ULONGLONG started = GetTickCount64();
        Bridge bridge = startBridge(job, program);
        // What became of this start, for the line that announces the next.
        std::string outcome;
        if (bridge.process != nullptr) {
            HANDLE waits[] = {bridge.process, stop};
            const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
            DWORD code = 0;
            GetExitCodeProcess(bridge.process, &code);
            finish(job, bridge);
            if (woken == WAIT_OBJECT_0 + 1) {
                logLine("launcher: asked to stop; ended the bridge");
                return 0;
            }
            const ULONGLONG ran = GetTickCount64() - started;
            if (ran >= ULONGLONG{settledRun} * second)
                pause = firstPause;
            outcome = "ended with code " + exitCodeText(code) + " after " + seconds(ran) + ", ";
        }
        logLine("launcher: " + outcome + "next start in " + seconds(ULONGLONG{pause} * second));
        if (WaitForSingleObject(stop, pause * second) == WAIT_OBJECT_0) {
            logLine("launcher: asked to stop");
            return 0;
        }
        pause = std::min(pause * 2, longestPause);
    }
}

}  // namespace launcher

// Runs sensor-bridge.exe, and sensor-watch.exe when asked to, each with no
// window, its input from NUL and its output into the log, inside one job
// object that ends them with the launcher, and starts each again after a
// growing pause of its own whenever it ends.
#include "launcher/decisions.h"
#include "launcher/launcher.h"
#include "publish/snapshot_block.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

#include <windows.h>

namespace launcher {

namespace {

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

// The line the bridge prints when it cannot open the consumer's block.
constexpr std::string_view blockErrorLine = "shareMemory_QORAInfo error!";

// A program the launcher keeps running, and the state of its current start.
struct Program {
    std::string name;
    std::wstring path;
    std::wstring arguments;     // each quoted, each after a space
    std::string mark;           // in front of each of its lines in the log
    bool takesOptions = false;  // ends with badOptionsExitCode when they are wrong
    HANDLE process = nullptr;
    DWORD processId = 0;
    HANDLE outputCopier = nullptr;
    ULONGLONG started = 0;    // GetTickCount64 at its start
    ULONGLONG nextStart = 0;  // when it is to start again, while not running
    unsigned pause = 0;       // the last pause before a start, in seconds
    std::atomic<bool> sawBlockError = false;
};

// What the thread that copies one start's output needs; it owns this.
struct Output {
    HANDLE pipe;
    Program &program;
};

void logOutputLine(const Program &program, std::string_view line)
{
    logLine(line.starts_with(program.mark) ? std::string(line) : program.mark + std::string(line));
}

// Copies a program's output into the log line by line until every process
// that holds the pipe has ended. A line longer than the buffer is logged in
// pieces; a last line without a line end (the "pause" prompt) as it is.
DWORD WINAPI copyOutput(void *parameter)
{
    Output *output = static_cast<Output *>(parameter);
    Program &program = output->program;
    std::string pending;
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(output->pipe, buffer, sizeof buffer, &count, nullptr) && count > 0) {
        pending.append(buffer, count);
        std::size_t end = 0;
        while ((end = pending.find('\n')) != std::string::npos || pending.size() >= sizeof buffer) {
            const std::size_t length = end != std::string::npos ? end : pending.size();
            std::string_view line(pending.data(), length);
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            if (line == blockErrorLine)
                program.sawBlockError = true;
            logOutputLine(program, line);
            pending.erase(0, end != std::string::npos ? end + 1 : length);
        }
    }
    if (!pending.empty())
        logOutputLine(program, pending);
    CloseHandle(output->pipe);
    delete output;
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
                "; its programs may outlive the launcher");
    return job;
}

// Starts the program suspended, puts it into the job, and lets it run. Its
// input is NUL, so that the bridge's "pause" returns at once; its output and
// errors go into a pipe that copyOutput reads. False when it could not start;
// the line says why.
bool start(HANDLE job, Program &program)
{
    program.started = GetTickCount64();
    program.sawBlockError = false;
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        logLine("launcher: cannot make a pipe, " + utf8(describeError(GetLastError())));
        return false;
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
    std::wstring commandLine = L"\"" + program.path + L"\"" + program.arguments;
    PROCESS_INFORMATION started{};
    const BOOL created = CreateProcessW(program.path.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, programFolder().c_str(),
                                        &startup, &started);
    const DWORD error = GetLastError();
    CloseHandle(writeEnd);
    if (nul != INVALID_HANDLE_VALUE)
        CloseHandle(nul);
    if (!created) {
        CloseHandle(readEnd);
        logLine("launcher: cannot start " + utf8(program.path) + ", " + utf8(describeError(error)));
        return false;
    }
    if (job != nullptr && !AssignProcessToJobObject(job, started.hProcess))
        logLine("launcher: cannot put " + program.name + " into its job, " +
                utf8(describeError(GetLastError())) + "; it may outlive the launcher");
    ResumeThread(started.hThread);
    CloseHandle(started.hThread);
    logLine("launcher: started " + utf8(program.path) + utf8(program.arguments) + " (process " +
            std::to_string(started.dwProcessId) + ")");
    program.process = started.hProcess;
    program.processId = started.dwProcessId;
    Output *output = new Output{readEnd, program};
    program.outputCopier = CreateThread(nullptr, 0, copyOutput, output, 0, nullptr);
    if (program.outputCopier == nullptr) {
        CloseHandle(readEnd);
        delete output;
    }
    return true;
}

// Ends every process in the job except `keep`, the other program: what an
// ended program left behind, such as the command interpreter of the bridge's
// "pause".
void endLeftovers(HANDLE job, DWORD keep)
{
    // JOBOBJECT_BASIC_PROCESS_ID_LIST: two counts in the first word, then the
    // process ids.
    ULONG_PTR list[1 + 64] = {};
    if (job == nullptr ||
        !QueryInformationJobObject(job, JobObjectBasicProcessIdList, list, sizeof list, nullptr))
        return;
    const DWORD count =
        reinterpret_cast<const JOBOBJECT_BASIC_PROCESS_ID_LIST *>(list)->NumberOfProcessIdsInList;
    for (DWORD i = 0; i < count && i < 64; ++i) {
        const DWORD id = static_cast<DWORD>(list[1 + i]);
        HANDLE process = id != keep ? OpenProcess(PROCESS_TERMINATE, FALSE, id) : nullptr;
        if (process != nullptr) {
            TerminateProcess(process, 1);
            CloseHandle(process);
        }
    }
}

// Waits until the program's output is in the log, and forgets its start.
void finish(Program &program)
{
    if (program.outputCopier != nullptr) {
        WaitForSingleObject(program.outputCopier, 10'000);
        CloseHandle(program.outputCopier);
    }
    CloseHandle(program.process);
    program.process = nullptr;
    program.processId = 0;
    program.outputCopier = nullptr;
}

// Why the bridge could not open the block, found by opening it as the bridge
// does: with full access.
std::string probeBlock()
{
    const std::wstring name(blockName, blockName + std::strlen(blockName));
    const std::string said = std::string("launcher: the block ") + blockName;
    HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
    if (mapping != nullptr) {
        CloseHandle(mapping);
        return said + " opens now: the consumer made it since, or its pages were not all committed yet";
    }
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND)
        return said + " does not exist: the consumer has not made it yet";
    if (error == ERROR_ACCESS_DENIED)
        return said + " exists but refuses this user full access: the consumer runs with other rights, for "
                      "example as administrator. Start the bridge the same way, or the consumer without "
                      "elevation";
    return said + " cannot be opened, " + utf8(describeError(error));
}

// What became of a start that ended, and when the next one is due.
// `keep` is the other program, which runs on.
void ended(HANDLE job, Program &program, DWORD keep, DWORD second)
{
    DWORD code = 0;
    GetExitCodeProcess(program.process, &code);
    endLeftovers(job, keep);
    finish(program);
    const ULONGLONG ran = GetTickCount64() - program.started;
    if (program.sawBlockError)
        logLine(probeBlock());
    const bool badOptions = program.takesOptions && code == badOptionsExitCode;
    program.pause = nextPause(program.pause, ran >= ULONGLONG{settledRun} * second, badOptions);
    program.nextStart = GetTickCount64() + ULONGLONG{program.pause} * second;
    logLine("launcher: " + program.name + " ended with code " + exitCodeText(code) + " after " +
            seconds(ran) + (badOptions ? " (it refused its options, see above)" : "") + ", next start in " +
            seconds(ULONGLONG{program.pause} * second));
}

}  // namespace

unsigned long secondLength()
{
    static const DWORD length = [] {
        wchar_t text[16] = L"";
        const DWORD read = GetEnvironmentVariableW(L"SENSOR_BRIDGE_LAUNCHER_SECOND_MS", text, 16);
        if (read == 0 || read >= 16)
            return DWORD{1000};
        wchar_t *end = nullptr;
        const unsigned long value = std::wcstoul(text, &end, 10);
        return *end == L'\0' && value >= 1 && value <= 1000 ? static_cast<DWORD>(value) : DWORD{1000};
    }();
    return length;
}

int supervise(bool watch, std::span<const std::wstring> watchArguments)
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
    std::wstring arguments;
    for (const std::wstring &argument : watchArguments)
        arguments += L" " + quoteArgument(argument);
    Program programs[2];
    programs[0].name = "sensor-bridge";
    programs[0].path = programFolder() + L"sensor-bridge.exe";
    programs[1].name = "sensor-watch";
    programs[1].path = programFolder() + L"sensor-watch.exe";
    programs[1].arguments = arguments;
    programs[1].mark = "sensor-watch: ";
    programs[1].takesOptions = true;
    const std::span<Program> running(programs, watch ? 2 : 1);
    const DWORD second = secondLength();
    for (;;) {
        // Starts whatever is due, and waits for the stop, an end, or the
        // next start that is due.
        std::vector<HANDLE> waits{stop};
        std::vector<Program *> waited{nullptr};
        DWORD timeout = INFINITE;
        for (Program &program : running) {
            const ULONGLONG now = GetTickCount64();
            if (program.process == nullptr && program.nextStart <= now && !start(job, program)) {
                program.pause = nextPause(program.pause, false, false);
                program.nextStart = now + ULONGLONG{program.pause} * second;
                logLine("launcher: next start of " + program.name + " in " +
                        seconds(ULONGLONG{program.pause} * second));
            }
            if (program.process != nullptr) {
                waits.push_back(program.process);
                waited.push_back(&program);
            } else
                timeout = std::min(timeout,
                                   static_cast<DWORD>(program.nextStart - std::min(program.nextStart, now)));
        }
        const DWORD woken =
            WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE, timeout);
        if (woken == WAIT_OBJECT_0) {
            for (Program &program : running)
                if (program.process != nullptr)
                    TerminateProcess(program.process, 1);
            endLeftovers(job, 0);
            for (Program &program : running)
                if (program.process != nullptr)
                    finish(program);
            logLine(watch ? "launcher: asked to stop; ended the bridge and sensor-watch"
                          : "launcher: asked to stop; ended the bridge");
            return 0;
        }
        if (woken > WAIT_OBJECT_0 && woken < WAIT_OBJECT_0 + waits.size()) {
            Program &program = *waited[woken - WAIT_OBJECT_0];
            DWORD keep = 0;
            for (const Program &other : running)
                if (&other != &program)
                    keep = other.processId;
            ended(job, program, keep, second);
        }
    }
}

}  // namespace launcher

// Runs the programs under test as child processes, for tests that check what a
// whole process does: its output, its exit code, and how it ends.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <csignal>

#include <sys/types.h>

struct ChildProcess {
    pid_t pid = -1;
    int output = -1;  // standard output and standard error, merged
    int input = -1;   // standard input; -1 once closed
};

struct ChildOutcome {
    bool exited = false;  // ended by itself rather than by a signal or the timeout
    int exitCode = -1;
    bool timedOut = false;
    std::string output;
};

struct ChildOptions {
    std::filesystem::path workingDirectory;  // empty: the test's own
    std::vector<std::string> environment;    // "NAME=value" added to the test's own
    bool keepInputOpen = false;              // otherwise input ends at once
    bool mergeErrors = false;                // standard error into the output too
};

ChildProcess startChild(const std::vector<std::string> &arguments, const ChildOptions &options = {});

// Reads the child's output until it ends or the timeout passes (then it is
// killed), and reaps it.
ChildOutcome finishChild(ChildProcess &child, std::chrono::milliseconds timeout);

ChildOutcome runChild(const std::vector<std::string> &arguments, const ChildOptions &options,
                      std::chrono::milliseconds timeout);

// Reads whatever output has arrived within the wait, without waiting for the end.
std::string readAvailable(ChildProcess &child, std::chrono::milliseconds wait);

void closeInput(ChildProcess &child);

// Kills the child and all it started, and reaps it; nothing for one already
// finished.
void stopChild(ChildProcess &child);

// Reads output into the string until it ends with the text or the time is up.
bool awaitOutput(ChildProcess &child, std::string &output, std::string_view ending,
                 std::chrono::milliseconds timeout);

// Checks the condition every 100 ms until it holds or the time is up.
// A loopback port that was free a moment ago, for a server that cannot be
// asked to pick its own; 0 when none could be had.
int freePort();

bool eventually(std::chrono::steady_clock::duration limit, const std::function<bool()> &condition);

// Stops the child when the scope ends, however the test leaves it.
struct StopAtExit {
    ChildProcess &child;
    ~StopAtExit() { stopChild(child); }
};

// A child that ends with the test however the test ends: asked to stop with
// SIGTERM first, so that sensor-watch removes a block it made, and killed if
// it takes long. Its output and errors are kept together.
struct Running {
    explicit Running(const std::vector<std::string> &command, ChildOptions options = {});
    ~Running() { stop(SIGTERM); }
    Running(const Running &) = delete;
    Running &operator=(const Running &) = delete;
    // Reads what the child wrote meanwhile, so that a chatty child never
    // blocks on a full pipe.
    void drain();
    ChildOutcome stop(int signal);
    ChildProcess child;
    std::string output;
};

// The port in sensor-watch --serve's first line ("serving
// http://127.0.0.1:PORT/metrics"), once the child has printed it; 0 when it
// did not within the time.
int awaitServingPort(Running &watch, std::chrono::milliseconds timeout);

// A fresh directory under the system's temporary directory, removed with its
// contents when the value is destroyed.
struct ScratchDirectory {
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory &) = delete;
    ScratchDirectory &operator=(const ScratchDirectory &) = delete;
    std::filesystem::path path;
};

// A file with the given text in a scratch directory of its own, such as a
// scenario for the simulated library.
struct TextFile {
    TextFile(const std::string &name, std::string_view text);
    ScratchDirectory directory;
    std::string path;
};

// The consumer's side of a POSIX shared-memory object: created with a size,
// mapped, and removed when the value is destroyed.
struct SharedObject {
    SharedObject(const char *name, std::size_t size);
    ~SharedObject();
    SharedObject(const SharedObject &) = delete;
    SharedObject &operator=(const SharedObject &) = delete;
    std::string name;
    std::size_t size = 0;
    void *view = nullptr;
    // A copy of the whole object as it is now.
    std::string copy() const;
};

#include "testing/child_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>
#include <utility>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix_shared_memory.h"

extern char **environ;

namespace {

void closeDescriptor(int &descriptor)
{
    if (descriptor >= 0)
        close(descriptor);
    descriptor = -1;
}

// Appends what can be read now, waiting at most the given time for the first
// bytes. False at the end of the output.
bool readSome(int descriptor, std::string &output, int waitMilliseconds)
{
    pollfd ready{descriptor, POLLIN, 0};
    int result = poll(&ready, 1, waitMilliseconds);
    if (result <= 0)
        return result == 0 || errno == EINTR;
    char buffer[4096];
    ssize_t count = read(descriptor, buffer, sizeof buffer);
    if (count > 0)
        output.append(buffer, static_cast<std::size_t>(count));
    return count > 0 || (count < 0 && errno == EINTR);
}

}  // namespace

ChildProcess startChild(const std::vector<std::string> &arguments, const ChildOptions &options)
{
    int outputPipe[2];
    int inputPipe[2];
    if (pipe2(outputPipe, O_CLOEXEC) != 0 || pipe2(inputPipe, O_CLOEXEC) != 0)
        std::abort();

    std::vector<std::string> environment;
    for (char **entry = environ; *entry != nullptr; ++entry)
        environment.emplace_back(*entry);
    environment.insert(environment.end(), options.environment.begin(), options.environment.end());
    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (std::string &entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        dup2(inputPipe[0], STDIN_FILENO);
        dup2(outputPipe[1], STDOUT_FILENO);
        if (options.mergeErrors)
            dup2(outputPipe[1], STDERR_FILENO);
        if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0)
            _exit(126);
        // A new process group, so that a test can end the child and all it started.
        setpgid(0, 0);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(outputPipe[1]);
    close(inputPipe[0]);
    ChildProcess child{pid, outputPipe[0], inputPipe[1]};
    if (!options.keepInputOpen)
        closeInput(child);
    return child;
}

void closeInput(ChildProcess &child)
{
    closeDescriptor(child.input);
}

std::string readAvailable(ChildProcess &child, std::chrono::milliseconds wait)
{
    std::string output;
    auto deadline = std::chrono::steady_clock::now() + wait;
    while (child.output >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        if (!readSome(child.output, output, static_cast<int>(left.count())))
            closeDescriptor(child.output);
    }
    return output;
}

bool awaitOutput(ChildProcess &child, std::string &output, std::string_view ending,
                 std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!output.ends_with(ending) && child.output >= 0 && std::chrono::steady_clock::now() < deadline)
        output += readAvailable(child, std::chrono::milliseconds(100));
    return output.ends_with(ending);
}

void stopChild(ChildProcess &child)
{
    if (child.pid <= 0)
        return;
    kill(-child.pid, SIGKILL);
    kill(child.pid, SIGKILL);
    finishChild(child, std::chrono::seconds(10));
}

ChildOutcome finishChild(ChildProcess &child, std::chrono::milliseconds timeout)
{
    ChildOutcome outcome;
    if (child.pid <= 0)
        return outcome;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            outcome.timedOut = true;
            kill(-child.pid, SIGKILL);
            kill(child.pid, SIGKILL);
            waitpid(child.pid, &status, 0);
            break;
        }
        if (child.output >= 0) {
            if (!readSome(child.output, outcome.output, static_cast<int>(std::min<long>(left.count(), 50))))
                closeDescriptor(child.output);
            continue;
        }
        if (waitpid(child.pid, &status, WNOHANG) == child.pid)
            break;
        usleep(10000);
    }
    closeDescriptor(child.output);
    closeInput(child);
    outcome.exited = !outcome.timedOut && WIFEXITED(status);
    if (outcome.exited)
        outcome.exitCode = WEXITSTATUS(status);
    child.pid = -1;
    return outcome;
}

ChildOutcome runChild(const std::vector<std::string> &arguments, const ChildOptions &options,
                      std::chrono::milliseconds timeout)
{
    ChildProcess child = startChild(arguments, options);
    return finishChild(child, timeout);
}

bool eventually(std::chrono::steady_clock::duration limit, const std::function<bool()> &condition)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

Running::Running(const std::vector<std::string> &command, ChildOptions options)
{
    options.mergeErrors = true;
    child = startChild(command, options);
}

void Running::drain()
{
    output += readAvailable(child, std::chrono::milliseconds(10));
}

ChildOutcome Running::stop(int signal)
{
    if (child.pid < 0)
        return {};
    kill(child.pid, signal);
    ChildOutcome outcome = finishChild(child, std::chrono::seconds(10));
    outcome.output.insert(0, output);
    return outcome;
}

int awaitServingPort(Running &watch, std::chrono::milliseconds timeout)
{
    const std::string announced = "serving http://127.0.0.1:";
    if (!awaitOutput(watch.child, watch.output, "/metrics\n", timeout))
        return 0;
    const std::size_t at = watch.output.find(announced);
    return at == std::string::npos ? 0 : std::atoi(watch.output.c_str() + at + announced.size());
}

ScratchDirectory::ScratchDirectory()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "sensor-bridge-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        std::abort();
    path = pattern;
}

ScratchDirectory::~ScratchDirectory()
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

TextFile::TextFile(const std::string &name, std::string_view text) : path((directory.path / name).string())
{
    std::ofstream(path, std::ios::binary) << text;
}

SharedObject::SharedObject(const char *objectName, std::size_t objectSize)
    : name(objectName), size(objectSize)
{
    platform::removeObject(name);
    const platform::MappedObject created = platform::createObject(name, size, platform::Access::readWrite);
    if (!created.error.empty())
        std::abort();
    view = created.bytes.data();
}

SharedObject::~SharedObject()
{
    platform::unmapObject({static_cast<std::byte *>(view), size});
    platform::removeObject(name);
}

std::string SharedObject::copy() const
{
    return std::string(static_cast<const char *>(view), size);
}

int freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool bound = bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
                       getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0;
    close(fd);
    return bound ? ntohs(address.sin_port) : 0;
}

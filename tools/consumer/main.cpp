// Stands in for the application that reads the bridge's output: creates the
// shared block, copies it without any lock whenever it likes, and shows each
// new valid snapshot, or serves it as Prometheus metrics.
#include "block_reader.h"
#include "serve.h"
#include "shared_block.h"
#include "table.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::string_view usage =
    "usage: consumer [--raw | --json] [--once] [--dump FILE] [--timeout SECONDS] [--size BYTES]\n"
    "       consumer --serve [ADDRESS:]PORT [--timeout SECONDS] [--size BYTES]\n"
    "\n"
    "Creates the shared block \"shareMemory_QORAInfo\", shows every new valid\n"
    "snapshot the bridge publishes in it, and removes the block on exit.\n"
    "\n"
    "  (default)          a table grouped by sensor, redrawn for each snapshot\n"
    "  --raw              the name lines and the JSON text as they are in the block\n"
    "  --json             only the JSON text, one line per snapshot\n"
    "  --once             exit after the first valid snapshot\n"
    "  --dump FILE        write that snapshot's whole block copy to FILE (implies --once)\n"
    "  --timeout SECONDS  exit 1 after this long without a valid snapshot\n"
    "  --size BYTES       create the block with this size instead of 1 MiB\n"
    "  --serve [ADDRESS:]PORT\n"
    "                     serve the readings as Prometheus metrics at /metrics\n"
    "                     (address 127.0.0.1 unless given; [::1] for IPv6;\n"
    "                     port 0 for any free one; not in builds made without\n"
    "                     cpp-httplib)\n"
    "  --help             show this text\n"
    "  --version          show the version\n";

enum class Mode { table, raw, json };

struct Options {
    Mode mode = Mode::table;
    bool once = false;
    std::string dumpPath;
    // Zero means wait for ever.
    double timeoutSeconds = 0;
    std::size_t size = blockSize;
    // Where to serve metrics; present only in serve mode, which then replaces
    // the printed output.
    std::optional<Endpoint> endpoint;
};

// How long a header with bad text may last before it is reported; a refresh
// in progress clears up far sooner.
constexpr auto reportAfter = 3s;
constexpr auto retryDelay = 50ms;
constexpr auto refreshDelay = 1s;

std::optional<double> parseSeconds(const char *text)
{
    char *end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(value > 0))
        return std::nullopt;
    return value;
}

std::optional<std::size_t> parseSize(std::string_view text)
{
    std::size_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value == 0)
        return std::nullopt;
    return value;
}

// Reads [ADDRESS:]PORT; an IPv6 address goes in brackets.
std::optional<Endpoint> parseEndpoint(std::string_view text)
{
    Endpoint endpoint;
    if (const std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
        std::string_view host = text.substr(0, colon);
        if (host.size() > 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
        if (host.empty())
            return std::nullopt;
        endpoint.host = host;
        text.remove_prefix(colon + 1);
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), endpoint.port);
    if (error != std::errc{} || end != text.data() + text.size() || endpoint.port < 0 ||
        endpoint.port > 65535)
        return std::nullopt;
    return endpoint;
}

// Returns the options, or an error message in `error`.
std::optional<Options> parseOptions(int argc, char **argv, std::string &error)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const char *next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--raw") {
            options.mode = Mode::raw;
        } else if (arg == "--json") {
            options.mode = Mode::json;
        } else if (arg == "--once") {
            options.once = true;
        } else if (arg == "--dump" && next != nullptr) {
            options.dumpPath = argv[++i];
            options.once = true;
        } else if (arg == "--timeout" && next != nullptr && parseSeconds(next)) {
            options.timeoutSeconds = *parseSeconds(argv[++i]);
        } else if (arg == "--size" && next != nullptr && parseSize(next)) {
            options.size = *parseSize(argv[++i]);
        } else if (arg == "--serve" && next != nullptr && parseEndpoint(next)) {
            options.endpoint = parseEndpoint(argv[++i]);
        } else {
            error = "invalid or incomplete option: " + std::string(arg);
            return std::nullopt;
        }
    }
    if (options.endpoint && (options.mode != Mode::table || options.once)) {
        error = "--serve cannot be combined with --raw, --json, --once or --dump";
        return std::nullopt;
    }
    return options;
}

bool writeOut(std::string_view text)
{
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
}

std::string localTime()
{
    const std::time_t now = std::time(nullptr);
    char text[32] = "";
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
    return text;
}

std::string render(const Snapshot &snapshot, Mode mode, bool terminal)
{
    switch (mode) {
    case Mode::raw: {
        std::string out;
        for (const std::string &line : snapshot.nameLines)
            out += line + '\n';
        return out + snapshot.text + '\n';
    }
    case Mode::json:
        return snapshot.text + '\n';
    case Mode::table:
        break;
    }
    const std::string table = renderTable(snapshot, localTime());
    return terminal ? "\x1b[H\x1b[2J" + table : table + '\n';
}

bool writeFile(const std::string &path, std::span<const std::byte> bytes)
{
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

// Sleeps in short steps so that a stop request is noticed within 100 ms.
void sleepUnlessStopped(Clock::duration duration)
{
    const auto until = Clock::now() + duration;
    while (!stopRequested() && Clock::now() < until)
        std::this_thread::sleep_for(std::min<Clock::duration>(100ms, until - Clock::now()));
}

int fail(const std::string &message)
{
    std::fprintf(stderr, "consumer: %s\n", message.c_str());
    return 1;
}

// Takes a new valid snapshot and the block copy it came from; returns an exit
// code to end the watch, or nothing to go on.
using SnapshotHandler = std::function<std::optional<int>(const Snapshot &, std::span<const std::byte>)>;

// Copies the block over and over, hands each new valid snapshot to `handle`,
// and reports lasting trouble; returns the exit code.
int watch(const Options &options, const SharedBlock &block, const SnapshotHandler &handle)
{
    std::vector<std::byte> copy(options.size);
    std::vector<std::byte> shown;
    const auto timeout =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.timeoutSeconds));
    auto lastAccepted = Clock::now();
    bool failing = false;
    Clock::time_point failingSince;
    bool headerSeen = false;
    bool reported = false;
    std::string lastError;

    while (!stopRequested()) {
        // The writer never waits for us; a copy taken mid-refresh simply fails
        // the checks below and is taken again.
        std::memcpy(copy.data(), block.bytes().data(), copy.size());
        const ReadResult result = readBlock(copy);
        const auto now = Clock::now();

        if (result.status == BlockStatus::valid) {
            lastAccepted = now;
            headerSeen = true;
            failing = false;
            reported = false;
            if (copy != shown) {
                if (const std::optional<int> exitCode = handle(result.snapshot, copy))
                    return *exitCode;
                shown = copy;
            }
            sleepUnlessStopped(refreshDelay);
            continue;
        }

        // Before anything has been published the block is all zeros, and the
        // consumer waits quietly; once a header has appeared, lasting trouble is
        // reported once for each stretch of it.
        lastError = result.error;
        headerSeen = headerSeen || result.status != BlockStatus::noHeader;
        if (headerSeen && !failing) {
            failing = true;
            failingSince = now;
        }
        if (failing && !reported && now - failingSince > reportAfter) {
            std::fprintf(stderr, "consumer: block holds no valid snapshot: %s\n", lastError.c_str());
            reported = true;
        }
        if (options.timeoutSeconds > 0 && now - lastAccepted > timeout) {
            std::fprintf(stderr, "consumer: no valid snapshot within %g s (last problem: %s)\n",
                         options.timeoutSeconds, lastError.c_str());
            return 1;
        }
        sleepUnlessStopped(retryDelay);
    }
    return 0;
}

std::string url(const Endpoint &endpoint, int port)
{
    const bool ipv6 = endpoint.host.find(':') != std::string::npos;
    return "http://" + (ipv6 ? '[' + endpoint.host + ']' : endpoint.host) + ':' + std::to_string(port) +
           "/metrics";
}

int run(const Options &options)
{
    const bool terminal = prepareStdout();
    installStopHandler();
    // The server starts before the block exists, so that a port in use ends
    // the run before anything has been created.
    const auto server = options.endpoint ? std::make_unique<MetricsServer>(*options.endpoint) : nullptr;
    if (server && !server->error().empty())
        return fail(server->error());
    SharedBlock block(blockName, options.size);
    if (!block.error().empty())
        return fail("cannot create the shared block: " + block.error());
    // A block left behind by an earlier run may still hold an old snapshot,
    // which must not pass for a new one.
    std::memset(block.bytes().data(), 0, block.bytes().size());

    if (server) {
        // The line tells a script which port to scrape, and that the block is
        // there for the bridge.
        if (!writeOut("serving " + url(*options.endpoint, server->port()) + "\n"))
            return fail("cannot write to standard output");
        return watch(options, block,
                     [&](const Snapshot &snapshot, std::span<const std::byte>) -> std::optional<int> {
                         server->publish(snapshot);
                         return std::nullopt;
                     });
    }
    return watch(options, block,
                 [&](const Snapshot &snapshot, std::span<const std::byte> copy) -> std::optional<int> {
                     if (!writeOut(render(snapshot, options.mode, terminal)))
                         return fail("cannot write to standard output");
                     if (!options.once)
                         return std::nullopt;
                     if (!options.dumpPath.empty() && !writeFile(options.dumpPath, copy))
                         return fail("cannot write " + options.dumpPath + ": " + std::strerror(errno));
                     return 0;
                 });
}

}  // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]) == "--help")
            return writeOut(usage) ? 0 : 1;
        else if (std::string_view(argv[i]) == "--version")
            return writeOut("consumer " SENSOR_BRIDGE_VERSION "\n") ? 0 : 1;
    std::string error;
    const std::optional<Options> options = parseOptions(argc, argv, error);
    if (!options) {
        std::fprintf(stderr, "consumer: %s\n%s", error.c_str(), usage.data());
        return 2;
    }
    return run(*options);
}

// Stands in for the application that reads the bridge's output: opens the
// shared block (or creates it when none exists), copies it without any lock
// whenever it likes, and shows each new valid snapshot, or serves it as
// Prometheus metrics.
#include "block_reader.h"
#include "console.h"
#include "http_server.h"
#include "page.h"
#include "serving.h"
#include "shared_block.h"
#include "table.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace watch {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

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

// A number above zero, such as 0.5 or 1e6, or nothing.
template <typename Number> std::optional<Number> positive(std::string_view text)
{
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || !(value > 0))
        return std::nullopt;
    return value;
}

// A time limit: a number of seconds above 0 and below about 30 years, which
// a clock's duration holds.
std::optional<double> seconds(std::string_view text)
{
    const std::optional<double> value = positive<double>(text);
    return value && *value < 1e9 ? value : std::nullopt;
}

// A check that reads the option's text into `target`, so that each value is
// parsed once, here; CLI11 reports the message it returns.
template <typename Value, typename Parse>
CLI::Validator reading(Value &target, Parse parse, std::string_view expected)
{
    return CLI::Validator(
        [&target, parse, expected](std::string &text) {
            auto value = parse(text);
            if (value)
                target = *value;
            return value ? std::string() : "expected " + std::string(expected) + ", not " + text;
        },
        "");
}

// Declares the options, each read into `options` once.
void declareOptions(CLI::App &app, Options &options)
{
    app.description("Opens the shared block \"shareMemory_QORAInfo\" as it is, or creates it when none "
                    "exists (and then removes it on exit), and shows every new valid snapshot the bridge "
                    "publishes in it: by default as a table grouped by sensor, redrawn for each snapshot.");
    CLI::Option *raw = app.add_flag_callback(
        "--raw", [&] { options.mode = Mode::raw; },
        "the name lines and the JSON text as they are in the block");
    CLI::Option *json = app.add_flag_callback(
        "--json", [&] { options.mode = Mode::json; }, "only the JSON text, one line per snapshot");
    json->excludes(raw);
    CLI::Option *once = app.add_flag("--once", options.once, "exit after the first valid snapshot");
    CLI::Option *dump = app.add_option("--dump", options.dumpPath,
                                       "write that snapshot's whole block copy to FILE (implies --once)")
                            ->type_name("FILE");
    app.add_option("--timeout")
        ->description("exit 1 after this long without a valid snapshot")
        ->type_name("SECONDS")
        ->check(reading(options.timeoutSeconds, seconds, "a number of seconds above 0 and below 1e9"));
    app.add_option("--size")
        ->description("create the block with this size instead of 1 MiB (only when none exists)")
        ->type_name("BYTES")
        ->check(reading(options.size, positive<std::size_t>, "a number of bytes above 0"));
    app.add_option("--serve")
        ->description(
            "serve the readings as Prometheus metrics at /metrics (numeric address, 127.0.0.1 unless "
            "given; [::1] for IPv6; port 0 for any free one; not in builds made without libmicrohttpd)")
        ->type_name("[ADDRESS:]PORT")
        ->check(reading(options.endpoint, parseEndpoint, "[ADDRESS:]PORT"))
        ->excludes(raw)
        ->excludes(json)
        ->excludes(once)
        ->excludes(dump);
}

bool writeOut(std::string_view text)
{
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
}

int fail(const std::string &message)
{
    std::fprintf(stderr, "sensor-watch: %s\n", message.c_str());
    return 1;
}

std::string localTime()
{
    const std::time_t now = std::time(nullptr);
    char text[32] = "";
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
    return text;
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

// Lasting trouble with the block, reported once for each stretch of it.
// Before anything has been published the block is all zeros, and the
// tool waits quietly; once a header has appeared, a stretch without a
// valid snapshot that lasts longer than reportAfter is reported.
struct Trouble {
    bool headerSeen = false;
    std::optional<Clock::time_point> since;
    bool reported = false;
    // What the last copy that failed was wrong with.
    std::string lastError;
};

void noteValid(Trouble &trouble)
{
    trouble = Trouble{};
    trouble.headerSeen = true;
}

void noteInvalid(Trouble &trouble, const ReadResult &result, Clock::time_point now)
{
    trouble.lastError = result.error;
    trouble.headerSeen = trouble.headerSeen || result.status != BlockStatus::noHeader;
    if (trouble.headerSeen && !trouble.since)
        trouble.since = now;
    if (trouble.since && !trouble.reported && now - *trouble.since > reportAfter) {
        std::fprintf(stderr, "sensor-watch: block holds no valid snapshot: %s\n", trouble.lastError.c_str());
        trouble.reported = true;
    }
}

// Takes a valid snapshot that differs from the last one, the block copy it
// came from, and whether it is old: already in the block at the first look,
// so that nobody knows when it was written. Returns an exit code to end the
// watch, or nothing to go on.
using SnapshotHandler = std::function<std::optional<int>(Snapshot, std::span<const std::byte>, bool old)>;

// Copies the block over and over, hands each new valid snapshot to `handle`,
// and reports lasting trouble; returns the exit code.
int watch(const Options &options, const SharedBlock &block, const SnapshotHandler &handle)
{
    const auto timeout =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.timeoutSeconds));
    std::vector<std::byte> copy(block.bytes.size());
    std::vector<std::byte> shown;
    bool firstLook = true;
    auto lastValid = Clock::now();
    Trouble trouble;
    while (!stopRequested()) {
        // The writer never waits for us; a copy taken mid-refresh simply fails
        // the checks and is taken again.
        std::ranges::copy(block.bytes, copy.begin());
        ReadResult result = readBlock(copy);
        const auto now = Clock::now();
        const bool old = std::exchange(firstLook, false);
        if (result.status == BlockStatus::valid) {
            lastValid = now;
            noteValid(trouble);
            if (copy != shown) {
                if (const std::optional<int> exitCode = handle(std::move(result.snapshot), copy, old))
                    return *exitCode;
                shown = copy;
            }
            sleepUnlessStopped(refreshDelay);
            continue;
        }
        noteInvalid(trouble, result, now);
        if (options.timeoutSeconds > 0 && now - lastValid > timeout) {
            std::fprintf(stderr, "sensor-watch: no valid snapshot within %g s (last problem: %s)\n",
                         options.timeoutSeconds, trouble.lastError.c_str());
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

int serve(const Options &options, const SharedBlock &block, Serving &serving)
{
    // The line tells a script which port to scrape, and that the block is
    // there for the bridge.
    if (!writeOut("serving " + url(*options.endpoint, serverPort()) + "\n"))
        return fail("cannot write to standard output");
    return watch(options, block, [&](Snapshot snapshot, std::span<const std::byte>, bool old) {
        publish(serving, std::move(snapshot), old, momentNow());
        return std::optional<int>();
    });
}

int print(const Options &options, const SharedBlock &block, bool terminal)
{
    // The table's statistics, without the history that only the page needs.
    Readings readings;
    return watch(options, block, [&](Snapshot snapshot, std::span<const std::byte> copy, bool old) {
        // Only the table that goes on shows an old snapshot, as one; the other
        // modes hand on what the bridge publishes now.
        if (old && (options.mode != Mode::table || options.once))
            return std::optional<int>();
        std::string out;
        if (options.mode == Mode::raw) {
            for (const std::string &line : snapshot.nameLines)
                out += line + '\n';
            out += snapshot.text + '\n';
        } else if (options.mode == Mode::json) {
            out = snapshot.text + '\n';
        } else {
            recordSnapshot(readings, std::move(snapshot), momentNow(), old);
            const std::string heading =
                (old ? "Old snapshot, in the block before sensor-watch looked at " : "Snapshot of ") +
                localTime();
            const std::string table = renderTable(readings, heading);
            out = terminal ? "\x1b[H\x1b[2J" + table : table + '\n';
        }
        if (!writeOut(out))
            return std::optional<int>(fail("cannot write to standard output"));
        if (!options.once)
            return std::optional<int>();
        if (!options.dumpPath.empty() && !writeFile(options.dumpPath, copy))
            return std::optional<int>(fail("cannot write " + options.dumpPath + ": " + std::strerror(errno)));
        return std::optional<int>(0);
    });
}

int run(const Options &options)
{
    const bool terminal = prepareStdout();
    installStopHandler();
    Serving serving{.page = dashboardPage};
    // The server starts before the block is opened, so that a port in use
    // ends the run before anything has been created.
    if (options.endpoint) {
        if (const std::string error = startServer(*options.endpoint, serving); !error.empty())
            return fail(error);
    }
    const SharedBlock block = openSharedBlock(blockName, options.size);
    if (!block.error.empty()) {
        stopServer();
        return fail("cannot open or create the shared block: " + block.error);
    }
    if (block.attached)
        std::fprintf(stderr,
                     "sensor-watch: attached to the existing block %s (%zu bytes), which stays as it is\n",
                     std::string(blockName).c_str(), block.bytes.size());
    const int status = options.endpoint ? serve(options, block, serving) : print(options, block, terminal);
    closeSharedBlock();
    stopServer();
    return status;
}

}  // namespace
}  // namespace watch

int main(int argc, char **argv)
{
    CLI::App app("", "sensor-watch");
    app.set_version_flag("--version", "sensor-watch " SENSOR_BRIDGE_VERSION, "show the version");
    watch::Options options;
    watch::declareOptions(app, options);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &error) {
        // Help goes to standard output with status 0; a bad option is
        // reported on standard error with status 2.
        return app.exit(error) == 0 ? 0 : 2;
    }
    if (!options.dumpPath.empty())
        options.once = true;
    return watch::run(options);
}

#include "watch/watch_loop.h"

#include "platform/console.h"
#include "platform/host_name.h"
#include "platform/process_stats.h"
#include "platform/watched_block.h"
#include "watch/address.h"
#include "watch/csv_log.h"
#include "watch/http_server.h"
#include "watch/mqtt_client.h"
#include "watch/page.h"
#include "watch/screen_layout.h"
#include "watch/serving.h"
#include "watch/table.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace watch {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long a header with bad text may last before it is reported; a refresh
// in progress clears up far sooner.
constexpr auto reportAfter = 3s;
constexpr auto retryDelay = 50ms;
constexpr auto refreshDelay = 1s;

bool writeOut(std::string_view text)
{
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
}

int fail(const std::string &message)
{
    // On the terminal's own screen, where it stays.
    platform::leaveScreen();
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

// The log of every snapshot, with --csv.
CsvLog csvLog;

// Tells the user of lasting trouble and of the log's files: on standard
// error, or in the full-screen view, which would hide that, on its bottom line.
void tellOnStandardError(const std::string &line)
{
    std::fprintf(stderr, "sensor-watch: %s\n", line.c_str());
}
std::function<void(const std::string &)> tell = tellOnStandardError;

// Sleeps in short steps so that a stop request is noticed within 100 ms;
// false when the watch is to end.
bool sleepUnlessStopped(Clock::duration duration)
{
    const auto until = Clock::now() + duration;
    while (!platform::stopRequested() && Clock::now() < until)
        std::this_thread::sleep_for(std::min<Clock::duration>(100ms, until - Clock::now()));
    return !platform::stopRequested();
}

// Lasting trouble with the block, reported once for each stretch of it.
// Before anything has been published the block is all zeros, and
// sensor-watch waits quietly; once a header has appeared, a stretch without a
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
        tell("block holds no valid snapshot: " + trouble.lastError);
        trouble.reported = true;
    }
}

// Takes a valid snapshot that differs from the last one, the block copy it
// came from, and whether it is old: already in the block at the first look,
// so that nobody knows when it was written. Returns an exit code to end the
// watch, or nothing to go on.
using SnapshotHandler = std::function<std::optional<int>(Snapshot, std::span<const std::byte>, bool old)>;

// Waits between looks at the block; false when the watch is to end.
using Wait = std::function<bool(Clock::duration)>;

// Copies the block over and over, hands each new valid snapshot to `handle`
// after logging it with --csv, and reports lasting trouble; returns the exit
// code.
int watchBlock(const Options &options, const platform::WatchedBlock &block, const SnapshotHandler &handle,
               const Wait &wait = sleepUnlessStopped)
{
    const auto timeout =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.timeoutSeconds));
    std::vector<std::byte> copy(block.size);
    std::vector<std::byte> shown;
    bool firstLook = true;
    auto lastValid = Clock::now();
    Trouble trouble;
    while (!platform::stopRequested()) {
        // The MQTT client ends the run only for a configuration error.
        if (const std::optional<std::string> failure = mqttFailure())
            return fail(*failure);
        // The writer never waits for us; a copy taken mid-refresh simply fails
        // the checks and is taken again. A block whose owner shrank it under
        // us is not what the bridge writes to any more.
        if (const std::size_t copied = platform::copyWatchedBlock(copy); copied < copy.size())
            return fail("the block " + std::string(blockName) + " shrank from " +
                        std::to_string(copy.size()) + " to " + std::to_string(copied) + " bytes");
        ReadResult result = readBlock(copy);
        const auto now = Clock::now();
        const bool old = std::exchange(firstLook, false);
        if (result.status == BlockStatus::valid) {
            lastValid = now;
            noteValid(trouble);
            if (copy != shown) {
                // Nobody knows when an old snapshot was written, so it has no time for a row.
                const Moment at = momentNow();
                if (!options.csvPath.empty() && !old)
                    if (const std::string error =
                            logSnapshot(csvLog, result.snapshot, at.unixTime, at.steadySeconds);
                        !error.empty())
                        return fail(error);
                if (!csvLog.notice.empty())
                    tell(std::exchange(csvLog.notice, {}));
                if (const std::optional<int> exitCode = handle(std::move(result.snapshot), copy, old))
                    return *exitCode;
                shown = copy;
            }
            if (!wait(refreshDelay))
                return 0;
            continue;
        }
        noteInvalid(trouble, result, now);
        if (options.timeoutSeconds > 0 && now - lastValid > timeout) {
            std::fprintf(stderr, "sensor-watch: no valid snapshot within %g s (last problem: %s)\n",
                         options.timeoutSeconds, trouble.lastError.c_str());
            return 1;
        }
        if (!wait(retryDelay))
            return 0;
    }
    return 0;
}

std::string url(const Endpoint &endpoint, int port)
{
    return "http://" + urlHost(endpoint.host) + ':' + std::to_string(port) + "/metrics";
}

int serve(const Options &options, const platform::WatchedBlock &block, Serving &serving)
{
    // The line tells a script which port to scrape, and that the block is
    // there for the bridge.
    if (!writeOut("serving " + url(*options.endpoint, serverPort()) + "\n"))
        return fail("cannot write to standard output");
    return watchBlock(options, block, [&](Snapshot snapshot, std::span<const std::byte>, bool old) {
        const Moment now = momentNow();
        if (options.mqtt.broker)
            offerMqttSnapshot(snapshot, now, old);
        publish(serving, std::move(snapshot), old, now);
        return std::optional<int>();
    });
}

// The full-screen view, redrawn for each snapshot, each key, a resize, and
// each second for the age in its heading; ends with q.
int view(const Options &options, const platform::WatchedBlock &block)
{
    Readings readings;
    ViewState state;
    std::string clock;
    const auto size = [] {
        const platform::ScreenSize screen = platform::screenSize();
        return TerminalSize{screen.rows > 0 ? screen.rows : 24, screen.columns > 0 ? screen.columns : 80};
    };
    auto drawn = Clock::now();
    const auto draw = [&] {
        drawn = Clock::now();
        return writeOut(drawScreen(layoutScreen(state, readings, momentNow(), clock, size())));
    };
    const auto wait = [&](Clock::duration duration) {
        const auto until = Clock::now() + duration;
        while (!platform::stopRequested() && Clock::now() < until) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            const platform::ScreenInput input = platform::readScreenInput(std::clamp(left, 0ms, 100ms));
            for (const KeyPress &key : decodeKeys(input.keys))
                if (!applyKey(state, key, size()))
                    return false;
            if (!input.keys.empty() || input.resized || Clock::now() - drawn >= 1s)
                draw();
        }
        return !platform::stopRequested();
    };
    if (!draw())
        return fail("cannot write to standard output");
    tell = [&](const std::string &line) {
        state.notice = line;
        draw();
    };
    const int status = watchBlock(
        options, block,
        [&](Snapshot snapshot, std::span<const std::byte>, bool old) {
            recordSnapshot(readings, std::move(snapshot), momentNow(), old);
            takeSnapshot(state, readings, options.units);
            clock = localTime();
            return draw() ? std::optional<int>()
                          : std::optional<int>(fail("cannot write to standard output"));
        },
        wait);
    tell = tellOnStandardError;
    platform::leaveScreen();
    return status;
}

// Publishes to the broker only; the client reports its own state.
int publishOnly(const Options &options, const platform::WatchedBlock &block)
{
    return watchBlock(options, block, [](Snapshot snapshot, std::span<const std::byte>, bool old) {
        offerMqttSnapshot(std::move(snapshot), momentNow(), old);
        return std::optional<int>();
    });
}

MqttSettings mqttSettings(const Options &options)
{
    const MqttOptions &mqtt = options.mqtt;
    return {.broker = *mqtt.broker,
            .user = mqtt.user,
            .password = mqtt.password,
            .caFile = mqtt.caFile,
            .discovery = {.prefix = mqtt.prefix,
                          .node = nodeName(mqtt.node.empty() ? platform::hostName() : mqtt.node),
                          .everySeconds = mqtt.everySeconds,
                          .units = options.units}};
}

int print(const Options &options, const platform::WatchedBlock &block, bool terminal)
{
    if (terminal && options.mode == Mode::table && !options.once && platform::enterScreen())
        return view(options, block);
    // The table's statistics, without the history that only the page needs.
    Readings readings;
    return watchBlock(options, block, [&](Snapshot snapshot, std::span<const std::byte> copy, bool old) {
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
            const std::string table = renderTable(readings, heading, options.units);
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

}  // namespace

int run(const Options &options)
{
    if (options.mqtt.broker && options.mqtt.remove)
        return removeMqttNode(mqttSettings(options));
    // A log that cannot be written ends the run before anything starts.
    if (!options.csvPath.empty()) {
        if (const std::string error = checkLogPath(options.csvPath); !error.empty())
            return fail(error);
        csvLog.path = options.csvPath;
        csvLog.byteOrderMark = SENSOR_WATCH_LOG_BOM;
        csvLog.everySeconds = options.csvEverySeconds;
        csvLog.withUnits = options.units;
    }
    const bool terminal = platform::prepareStdout();
    platform::installStopHandler();
    Serving serving{.page = dashboardPage, .units = options.units, .processStats = platform::processStats};
    // The server starts before the block is opened, so that a port in use
    // ends the run before anything has been created.
    if (options.endpoint) {
        serving.hostCheck = hostCheckFor(options.endpoint->host, options.allowHosts);
        if (const std::string error = startServer(*options.endpoint, serving); !error.empty())
            return fail(error);
    }
    const platform::WatchedBlock block = platform::openWatchedBlock(blockName, options.size);
    if (!block.error.empty()) {
        stopServer();
        return fail(block.error);
    }
    // The client starts once the block is there, so that its first line
    // tells a script that the bridge can start.
    if (options.mqtt.broker) {
        if (const std::string error = startMqtt(mqttSettings(options)); !error.empty()) {
            platform::closeWatchedBlock();
            stopServer();
            return fail(error);
        }
    }
    if (block.attached)
        std::fprintf(stderr,
                     "sensor-watch: attached to the existing block %s (%zu bytes), which stays as it is\n",
                     std::string(blockName).c_str(), block.size);
    int status = options.endpoint      ? serve(options, block, serving)
                 : options.mqtt.broker ? publishOnly(options, block)
                                       : print(options, block, terminal);
    if (const std::string error = finishLog(csvLog); !error.empty())
        status = fail(error);
    platform::closeWatchedBlock();
    stopMqtt();
    stopServer();
    return status;
}

}  // namespace watch

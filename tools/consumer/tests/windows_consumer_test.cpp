// The Windows consumer under Wine, beside the Windows bridge and the
// simulated library of the cross build: its metrics scraped from Linux over
// loopback, and a second consumer attached to the first one's mapping.
#include "http_client.h"
#include "testing/child_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const fs::path windowsBin = WINDOWS_BIN;
const fs::path wine = WINE;
const fs::path wineServer = WINESERVER;

ChildOptions wineOptions(std::vector<std::string> extra = {})
{
    ChildOptions options;
    options.mergeErrors = true;
    options.environment = {"WINEPREFIX=" WINE_PREFIX, "WINEDEBUG=-all"};
    options.environment.insert(options.environment.end(), extra.begin(), extra.end());
    return options;
}

bool wineReady = false;

// A Wine prefix set up once, with a server that stays up while the tests run
// so that each program starts quickly.
class WineEnvironment : public testing::Environment {
  public:
    void SetUp() override
    {
        if (!fs::exists(wine) || !fs::exists(windowsBin / "consumer.exe") ||
            !fs::exists(windowsBin / "sensor-bridge.exe"))
            return;
        wineReady = true;
        runQuietly({wineServer.string(), "-p"});
        runQuietly({wine.string(), "cmd", "/c", "exit"});
    }
    void TearDown() override
    {
        if (wineReady)
            runQuietly({wineServer.string(), "-k"});
    }

  private:
    // Runs a Wine program to its end with its output discarded: the servers
    // it starts would hold a pipe open long after it ended.
    static void runQuietly(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), {"/bin/sh", "-c", "\"$@\" >/dev/null 2>&1", "sh"});
        runChild(arguments, wineOptions(), 120s);
    }
};

const auto *registered = testing::AddGlobalTestEnvironment(new WineEnvironment);

// The path of a Linux file as a Windows program under Wine sees it.
std::string windowsPath(const fs::path &path)
{
    std::string text = "Z:" + path.string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

// Checks the condition every 200 ms until it holds or the time is up.
bool eventually(Clock::duration limit, const std::function<bool()> &condition)
{
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(200ms);
    }
    return true;
}

// The value of an unlabelled sample, or "" when there is none.
std::string sample(const std::string &body, const std::string &name)
{
    const std::size_t start = body.find('\n' + name + ' ');
    if (start == std::string::npos)
        return "";
    const std::size_t value = start + name.size() + 2;
    return body.substr(value, body.find('\n', value) - value);
}

class ConsumerUnderWine : public testing::Test {
  protected:
    void SetUp() override
    {
        if (!wineReady)
            GTEST_SKIP() << "needs " << wine << " and the Windows build in " << windowsBin;
        std::ofstream(scenario.path / "scenario")
            << "sensor \"cpu\"\nreading temperature \"Core 0\" 41 drift 5\n";
    }
    void TearDown() override
    {
        for (ChildProcess &child : children)
            stopChild(child);
    }
    ChildProcess &start(const std::string &program, std::vector<std::string> arguments = {})
    {
        arguments.insert(arguments.begin(), {wine.string(), (windowsBin / program).string()});
        children.push_back(startChild(
            arguments, wineOptions({"HWINFO_SIM_SCENARIO=" + windowsPath(scenario.path / "scenario")})));
        return children.back();
    }
    // Starts consumer.exe --serve on a free port with the arguments given;
    // returns the port once it serves, or 0.
    int startServing(std::vector<std::string> arguments = {})
    {
        arguments.insert(arguments.begin(), {"--serve", "0"});
        ChildProcess &consumer = start("consumer.exe", arguments);
        std::string output;
        const std::string announced = "serving http://127.0.0.1:";
        if (!awaitOutput(consumer, output, "/metrics\n", 120s) || output.find(announced) == std::string::npos)
            return 0;
        return std::atoi(output.c_str() + output.find(announced) + announced.size());
    }
    bool awaitFresh(int port, const std::string &fresh, std::string &body)
    {
        return eventually(120s, [&] {
            body = get(port);
            return sample(body, "sensor_bridge_snapshot_fresh") == fresh;
        });
    }
    ScratchDirectory scenario;
    std::deque<ChildProcess> children;  // keeps references valid as it grows
};

TEST_F(ConsumerUnderWine, ServesFreshReadingsUntilTheBridgeIsKilled)
{
    const int port = startServing();
    ASSERT_GT(port, 0);
    ChildProcess &bridge = start("sensor-bridge.exe");
    std::string body;
    ASSERT_TRUE(awaitFresh(port, "1", body)) << body;
    EXPECT_NE(
        body.find("sensor_bridge_reading{sensor=\"cpu\",label=\"Core 0\",type=\"temperature\",index=\"0\"} "),
        std::string::npos)
        << body;

    stopChild(bridge);
    ASSERT_TRUE(awaitFresh(port, "0", body)) << body;
    EXPECT_GT(std::atof(sample(body, "sensor_bridge_snapshot_age_seconds").c_str()), 5) << body;
}

TEST_F(ConsumerUnderWine, AttachesToAMappingThatExistsAndLeavesIt)
{
    // The first consumer makes a 2 MiB mapping, as the real application
    // might, and the bridge publishes into it.
    const int port = startServing({"--size", "2097152"});
    ASSERT_GT(port, 0);
    start("sensor-bridge.exe");
    std::string body;
    ASSERT_TRUE(awaitFresh(port, "1", body)) << body;

    // A second one opens it as it is, and takes a new snapshot from it.
    ScratchDirectory dump;
    ChildProcess second =
        startChild({wine.string(), (windowsBin / "consumer.exe").string(), "--once", "--dump",
                    windowsPath(dump.path / "block.bin"), "--timeout", "60", "--size", "65536"},
                   wineOptions());
    const ChildOutcome outcome = finishChild(second, 120s);
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
    EXPECT_NE(outcome.output.find("consumer: attached to the existing block shareMemory_QORAInfo (2097152 "
                                  "bytes), which stays as it is"),
              std::string::npos)
        << outcome.output;
    std::error_code error;
    EXPECT_EQ(fs::file_size(dump.path / "block.bin", error), 2097152u);

    // The mapping outlives the second consumer: the bridge goes on publishing
    // into it, and the first one goes on seeing new snapshots.
    const std::string before = sample(get(port), "sensor_bridge_snapshot_timestamp_seconds");
    ASSERT_TRUE(eventually(120s, [&] {
        body = get(port);
        const std::string now = sample(body, "sensor_bridge_snapshot_timestamp_seconds");
        return !now.empty() && now != before && sample(body, "sensor_bridge_snapshot_fresh") == "1";
    })) << body;
}

}  // namespace

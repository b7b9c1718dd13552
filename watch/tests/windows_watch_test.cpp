// The Windows sensor-watch under Wine, beside the Windows bridge and the
// simulated library of the cross build: its metrics and dashboard fetched
// from Linux over loopback, and a second sensor-watch attached to the first
// one's mapping.
#include "http_client.h"
#include "testing/child_process.h"
#include "testing/wine.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class WatchUnderWine : public testing::Test {
  protected:
    void SetUp() override
    {
        if (!wineReady() || !fs::exists(windowsBin() / "sensor-watch.exe"))
            GTEST_SKIP() << "needs Wine and the Windows build in " << windowsBin();
    }
    void TearDown() override
    {
        for (ChildProcess &child : children)
            stopChild(child);
    }
    ChildProcess &start(const std::string &program, std::vector<std::string> arguments = {})
    {
        ChildOptions options = wineOptions({"HWINFO_SIM_SCENARIO=" + windowsPath(scenario.path)});
        options.mergeErrors = true;
        children.push_back(startChild(underWine(windowsBin() / program, std::move(arguments)), options));
        return children.back();
    }
    // Starts sensor-watch.exe --serve on a free port with the arguments given;
    // returns the port once it serves, or 0.
    int startServing(std::vector<std::string> arguments = {})
    {
        arguments.insert(arguments.begin(), {"--serve", "0"});
        ChildProcess &watcher = start("sensor-watch.exe", arguments);
        std::string output;
        const std::string announced = "serving http://127.0.0.1:";
        if (!awaitOutput(watcher, output, "/metrics\n", 120s) || output.find(announced) == std::string::npos)
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
    // One drifting reading is all it takes to see the block change.
    TextFile scenario{"scenario", "sensor \"cpu\"\nreading temperature \"Core 0\" 41 drift 5\n"};
    std::deque<ChildProcess> children;  // keeps references valid as it grows
};

TEST_F(WatchUnderWine, ServesFreshReadingsUntilTheBridgeIsKilled)
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
    // The same dashboard as the native build, with the charting library and
    // the snapshot's readings.
    const HttpAnswer page = request(port, "GET", "/");
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("<title>sensor-bridge readings</title>"), std::string::npos);
    EXPECT_NE(page.body.find("uPlot"), std::string::npos);
    Json::Value snapshot;
    std::istringstream stream(get(port, "/api/snapshot"));
    ASSERT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), stream, &snapshot, nullptr));
    EXPECT_EQ(snapshot["sensors"][0]["name"].asString(), "cpu");
    EXPECT_EQ(snapshot["sensors"][0]["readings"][0]["label"].asString(), "Core 0");

    stopChild(bridge);
    ASSERT_TRUE(awaitFresh(port, "0", body)) << body;
    EXPECT_GT(std::atof(sample(body, "sensor_bridge_snapshot_age_seconds").c_str()), 5) << body;
    EXPECT_NE(get(port, "/api/status").find("\"fresh\":false"), std::string::npos);
}

TEST_F(WatchUnderWine, AttachesToAMappingThatExistsAndLeavesIt)
{
    // The first sensor-watch makes a 2 MiB mapping, as the real application
    // might, and the bridge publishes into it.
    const int port = startServing({"--size", "2097152"});
    ASSERT_GT(port, 0);
    start("sensor-bridge.exe");
    std::string body;
    ASSERT_TRUE(awaitFresh(port, "1", body)) << body;

    // A second one opens it as it is, and takes a new snapshot from it.
    ScratchDirectory dump;
    ChildOptions options = wineOptions();
    options.mergeErrors = true;
    ChildProcess second = startChild(underWine(windowsBin() / "sensor-watch.exe",
                                               {"--once", "--dump", windowsPath(dump.path / "block.bin"),
                                                "--timeout", "60", "--size", "65536"}),
                                     options);
    const ChildOutcome outcome = finishChild(second, 120s);
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
    EXPECT_NE(
        outcome.output.find("sensor-watch: attached to the existing block shareMemory_QORAInfo (2097152 "
                            "bytes), which stays as it is"),
        std::string::npos)
        << outcome.output;
    std::error_code error;
    EXPECT_EQ(fs::file_size(dump.path / "block.bin", error), 2097152u);

    // The mapping outlives the second sensor-watch: the bridge goes on publishing
    // into it, and the first one goes on seeing new snapshots.
    const std::string before = sample(get(port), "sensor_bridge_snapshot_timestamp_seconds");
    ASSERT_TRUE(eventually(120s, [&] {
        body = get(port);
        const std::string now = sample(body, "sensor_bridge_snapshot_timestamp_seconds");
        return !now.empty() && now != before && sample(body, "sensor_bridge_snapshot_fresh") == "1";
    })) << body;
}

}  // namespace

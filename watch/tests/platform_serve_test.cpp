// sensor-watch --serve beside the bridge and the simulated library, natively
// and as the Windows build under Wine, scraped from here over loopback: the
// last good snapshot, fresh while the bridge publishes and stale once it is
// killed, logged as it comes, and a block that someone else made, attached to
// and left as it is.
#include "watch/tests/block_writer.h"
#include "watch/tests/gunzip.h"
#include "watch/tests/http_client.h"
#include "testing/child_process.h"
#include "testing/installation.h"
#include "testing/native_or_wine.h"
#include "testing/scenarios.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class Serve : public PlatformTest {
  protected:
    // A block left over from an interrupted run would look like
    // sensor-watch's own before it has made it.
    void SetUp() override
    {
        PlatformTest::SetUp();
        forgetBlock();
    }
    void TearDown() override
    {
        children.clear();
        if (!platform().viaWine) {
            EXPECT_FALSE(blockExists()) << "sensor-watch left the block behind";
        }
    }
    Running &start(std::string_view program, std::vector<std::string> arguments = {})
    {
        return children.emplace_back(
            platform().command(platform().program(program), std::move(arguments)),
            platform().options({"HWINFO_SIM_SCENARIO=" + platform().path(scenario.path)}));
    }
    // Starts sensor-watch --serve on a free port with the arguments given;
    // returns the port once it serves, or 0.
    int startServing(std::vector<std::string> arguments = {})
    {
        arguments.insert(arguments.begin(), {"--serve", "0"});
        return awaitServingPort(start("sensor-watch", std::move(arguments)), 120s);
    }
    static bool awaitFresh(int port, const std::string &fresh, std::string &body)
    {
        return eventually(120s, [&] {
            body = get(port);
            return sample(body, "sensor_bridge_snapshot_fresh") == fresh;
        });
    }
    const TextFile scenario{"scenario", driftingScenario};
    std::deque<Running> children;  // keeps references valid as it grows
};

double unixNow()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

TEST_P(Serve, TheLastGoodSnapshotFreshUntilTheBridgeIsKilledThenStale)
{
    const double launched = unixNow();
    // With the log beside serving: UTF-8 with a byte-order mark on Windows,
    // so that a spreadsheet reads the degree sign right.
    ScratchDirectory folder;
    const fs::path log = folder.path / "log.csv";
    const int port = startServing({"--csv", platform().path(log)});
    ASSERT_GT(port, 0);
    EXPECT_EQ(sample(get(port), "sensor_bridge_snapshot_fresh"), "0");
    // A second sensor-watch on the same port fails before it touches the block.
    ChildOptions options = platform().options();
    options.mergeErrors = true;
    const std::string address = "127.0.0.1:" + std::to_string(port);
    const ChildOutcome second =
        runChild(platform().command(platform().program("sensor-watch"), {"--serve", address}), options, 120s);
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_EQ(second.output, platform().lines("sensor-watch: cannot listen on 127.0.0.1 port " +
                                              std::to_string(port) + "\n"));

    Running &bridge = start("sensor-bridge");
    std::string body;
    ASSERT_TRUE(awaitFresh(port, "1", body)) << body;
    EXPECT_NE(body.find("\nsensor_bridge_temperature_celsius{sensor=\"cpu\",label=\"Core 0\",index=\"0\"} "),
              std::string::npos)
        << body;
    // The process's own figures, from the system: it started between the
    // launch and now (to the second), and Windows has no file descriptors.
    const double started = std::atof(sample(body, "process_start_time_seconds").c_str());
    EXPECT_TRUE(started > launched - 2 && started < unixNow() + 2) << body;
    EXPECT_GT(std::atof(sample(body, "process_resident_memory_bytes").c_str()), 1 << 20);
    EXPECT_FALSE(sample(body, "process_cpu_seconds_total").empty());
    EXPECT_EQ(sample(body, "process_open_fds").empty(), platform().viaWine);
    // Gzip, for a scraper that asks for it.
    const HttpAnswer zipped = request(port, "GET", "/metrics", "Accept-Encoding: gzip\r\n");
    EXPECT_NE(zipped.head.find("Content-Encoding: gzip\r\n"), std::string::npos) << zipped.head;
    EXPECT_NE(gunzip(zipped.body).find("\nsensor_bridge_temperature_celsius{"), std::string::npos);
    // The page, with the charting library, and the snapshot's readings.
    const HttpAnswer page = request(port, "GET", "/");
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("<title>sensor-bridge readings</title>"), std::string::npos);
    EXPECT_NE(page.body.find("uPlot"), std::string::npos);
    Json::Value snapshot;
    std::istringstream stream(get(port, "/api/snapshot"));
    ASSERT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), stream, &snapshot, nullptr));
    EXPECT_EQ(snapshot["sensors"][0]["name"].asString(), "cpu");
    EXPECT_EQ(snapshot["sensors"][0]["readings"][0]["label"].asString(), "Core 0");

    // The bridge dies, natively in the middle of a refresh: the last good
    // snapshot stays and ages until it is stale.
    bridge.stop(SIGKILL);
    if (!platform().viaWine)
        publish("cpu\n", R"({"cpu":[{"Core 0":{"type":"temperature","value":"4)");
    ASSERT_TRUE(awaitFresh(port, "0", body)) << body;
    EXPECT_NE(body.find("\nsensor_bridge_temperature_celsius{sensor=\"cpu\""), std::string::npos) << body;
    const double age = std::atof(sample(body, "sensor_bridge_snapshot_age_seconds").c_str());
    EXPECT_GT(age, 5);
    const double timestamp = std::atof(sample(body, "sensor_bridge_snapshot_timestamp_seconds").c_str());
    EXPECT_NEAR(unixNow() - timestamp, age, 1);
    EXPECT_NE(get(port, "/api/status").find("\"fresh\":false"), std::string::npos);
    const std::string text = contents(log);
    EXPECT_GE(std::ranges::count(text, '\n'), 2) << text;
    const std::string header = "time,cpu / Core 0 [\u00b0C],cpu / Core 0 [MHz]\r\n";
    EXPECT_TRUE(text.starts_with((platform().viaWine ? "\xef\xbb\xbf" : "") + header)) << text;
}

TEST_P(Serve, AttachesToABlockThatExistsAndLeavesIt)
{
    // The first sensor-watch makes a 2 MiB block, as the consumer might, and
    // the bridge publishes into it.
    const int port = startServing({"--size", "2097152"});
    ASSERT_GT(port, 0);
    start("sensor-bridge");
    std::string body;
    ASSERT_TRUE(awaitFresh(port, "1", body)) << body;

    // A second one opens it as it is, and takes a new snapshot from it.
    ScratchDirectory dump;
    ChildOptions options = platform().options();
    options.mergeErrors = true;
    const ChildOutcome outcome =
        runChild(platform().command(platform().program("sensor-watch"),
                                    {"--once", "--dump", platform().path(dump.path / "block.bin"),
                                     "--timeout", "60", "--size", "65536"}),
                 options, 120s);
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
    EXPECT_NE(
        outcome.output.find("sensor-watch: attached to the existing block shareMemory_QORAInfo (2097152 "
                            "bytes), which stays as it is"),
        std::string::npos)
        << outcome.output;
    std::error_code error;
    EXPECT_EQ(fs::file_size(dump.path / "block.bin", error), 2097152u);

    // The block outlives the second sensor-watch: the bridge goes on
    // publishing into it, and the first one goes on seeing new snapshots.
    const std::string before = sample(get(port), "sensor_bridge_snapshot_timestamp_seconds");
    ASSERT_TRUE(eventually(120s, [&] {
        body = get(port);
        const std::string now = sample(body, "sensor_bridge_snapshot_timestamp_seconds");
        return !now.empty() && now != before && sample(body, "sensor_bridge_snapshot_fresh") == "1";
    })) << body;
}

INSTANTIATE_TEST_SUITE_P(OnEachPlatform, Serve, testing::ValuesIn(platforms()), platformName);

}  // namespace

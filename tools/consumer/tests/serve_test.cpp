// The serve mode as whole processes on the loopback interface: the built
// consumer, the bridge with the simulated library, and a real Prometheus
// server.
#include "block_writer.h"
#include "testing/child_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>
#include <json/json.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A child process that ends with the test however the test ends: asked to
// stop first, so that the consumer removes its block, and killed if it takes
// long.
struct Running {
    explicit Running(const std::vector<std::string> &arguments, std::vector<std::string> environment = {})
    {
        ChildOptions options;
        options.mergeErrors = true;
        options.environment = std::move(environment);
        child = startChild(arguments, options);
    }
    ~Running() { stop(SIGTERM); }
    Running(const Running &) = delete;
    Running &operator=(const Running &) = delete;

    // Reads what the child wrote meanwhile, so that a chatty child never
    // blocks on a full pipe.
    void drain() { output += readAvailable(child, 10ms); }

    ChildOutcome stop(int signal)
    {
        if (child.pid < 0)
            return {};
        kill(child.pid, signal);
        ChildOutcome outcome = finishChild(child, 10s);
        outcome.output.insert(0, output);
        return outcome;
    }

    ChildProcess child;
    std::string output;
};

// consumer --serve with the port left to the system, once it has announced
// the port and created the block.
struct ServingConsumer : Running {
    ServingConsumer() : Running({CONSUMER_EXE, "--serve", "0"})
    {
        const std::string announced = "serving http://127.0.0.1:";
        if (awaitOutput(child, output, "/metrics\n", 10s) && output.starts_with(announced))
            port = std::atoi(output.c_str() + announced.size());
    }
    int port = 0;
};

// A file in a scratch directory of its own.
struct TextFile {
    TextFile(const std::string &name, std::string_view text) : path((directory.path / name).string())
    {
        std::ofstream(path) << text;
    }
    ScratchDirectory directory;
    std::string path;
};

std::string get(int port, const std::string &path = "/metrics")
{
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(2s);
    client.set_read_timeout(5s);
    const httplib::Result result = client.Get(path);
    return result && result->status == 200 ? result->body : "";
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

std::size_t readingCount(const std::string &body)
{
    std::size_t count = 0;
    for (std::size_t at = body.find("\nsensor_bridge_reading{"); at != std::string::npos;
         at = body.find("\nsensor_bridge_reading{", at + 1))
        ++count;
    return count;
}

// Checks the condition every 100 ms until it holds or the time is up.
bool eventually(Clock::duration limit, const std::function<bool()> &condition)
{
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

// A loopback port that was free a moment ago, for a server that cannot be
// asked to pick its own.
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

class ServeProcess : public testing::Test {
  protected:
    // A block left over from an interrupted run would look like the consumer's
    // own before it has made it.
    void SetUp() override { removeObject(objectName); }
    void TearDown() override { EXPECT_FALSE(blockExists()) << "the consumer left the block behind"; }
};

TEST_F(ServeProcess, ServesTheLastGoodSnapshotUntilItGoesStale)
{
    ServingConsumer consumer;
    ASSERT_GT(consumer.port, 0) << consumer.output;
    EXPECT_EQ(sample(get(consumer.port), "sensor_bridge_snapshot_fresh"), "0");
    // A second consumer on the same port fails before it touches the block.
    ChildOptions options;
    options.mergeErrors = true;
    const std::string port = std::to_string(consumer.port);
    const ChildOutcome second = runChild({CONSUMER_EXE, "--serve", "127.0.0.1:" + port}, options, 10s);
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_EQ(second.output, "consumer: cannot listen on 127.0.0.1 port " + port + "\n");
    ASSERT_TRUE(blockExists());

    // The default scenario drifts, so the block changes with every refresh. A
    // busy machine can hold up the bridge's first refreshes for a while.
    Running bridge({SENSOR_BRIDGE});
    std::string body;
    ASSERT_TRUE(eventually(30s, [&] {
        body = get(consumer.port);
        return sample(body, "sensor_bridge_snapshot_fresh") == "1";
    })) << body;
    const std::size_t readings = readingCount(body);
    EXPECT_GE(readings, 150u);

    // The bridge dies in the middle of a refresh: the last good snapshot stays
    // and ages until it is stale.
    bridge.stop(SIGKILL);
    publish("cpu\n", R"({"cpu":[{"Core 0":{"type":"temperature","value":"4)");
    ASSERT_TRUE(eventually(15s, [&] {
        body = get(consumer.port);
        return sample(body, "sensor_bridge_snapshot_fresh") == "0";
    })) << body;
    EXPECT_EQ(readingCount(body), readings);
    const double age = std::atof(sample(body, "sensor_bridge_snapshot_age_seconds").c_str());
    EXPECT_GT(age, 5);
    const double timestamp = std::atof(sample(body, "sensor_bridge_snapshot_timestamp_seconds").c_str());
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    EXPECT_NEAR(now - timestamp, age, 0.5);

    const ChildOutcome outcome = consumer.stop(SIGINT);
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
}

TEST_F(ServeProcess, PrometheusScrapesTheReadings)
{
    const std::string prometheusProgram = PROMETHEUS;
    if (prometheusProgram.empty())
        GTEST_SKIP() << "prometheus is not installed";
    ServingConsumer consumer;
    ASSERT_GT(consumer.port, 0) << consumer.output;
    // Hostile names: quotes, a backslash, a line feed, a byte that is not
    // UTF-8, a duplicate label and non-finite values. One bad line would make
    // Prometheus drop the whole scrape.
    const TextFile scenario("scenario", R"(sensor "Board \"A\" \\ B"
reading temperature "Core 0" 41
reading temperature "Core 0" 42
reading clock "Line\nFeed" 3600
reading other "Hot" inf
reading other "Cold" -inf
reading other "Nothing" nan
sensor "GPU"
reading power "Caf\xE9" 1.5
)");
    Running bridge({SENSOR_BRIDGE}, {"HWINFO_SIM_SCENARIO=" + scenario.path});

    const int prometheusPort = freePort();
    ASSERT_GT(prometheusPort, 0);
    const TextFile configuration("prometheus.yml", "global:\n"
                                                   "  scrape_interval: 1s\n"
                                                   "  scrape_timeout: 1s\n"
                                                   "scrape_configs:\n"
                                                   "  - job_name: sensor-bridge\n"
                                                   "    static_configs:\n"
                                                   "      - targets: ['127.0.0.1:" +
                                                       std::to_string(consumer.port) + "']\n");
    Running prometheus({prometheusProgram, "--config.file=" + configuration.path,
                        "--storage.tsdb.path=" + (configuration.directory.path / "data").string(),
                        "--web.listen-address=127.0.0.1:" + std::to_string(prometheusPort),
                        "--log.level=warn"});

    // Each series as "sensor|label|type|index", with its value as Prometheus
    // gives it.
    std::map<std::string, std::string> series;
    std::string answer;
    const bool complete = eventually(30s, [&] {
        prometheus.drain();
        answer = get(prometheusPort, "/api/v1/query?query=sensor_bridge_reading");
        Json::Value document;
        std::istringstream stream(answer);
        if (!Json::parseFromStream(Json::CharReaderBuilder(), stream, &document, nullptr))
            return false;
        series.clear();
        for (const Json::Value &result : document["data"]["result"]) {
            const Json::Value &metric = result["metric"];
            series[metric["sensor"].asString() + '|' + metric["label"].asString() + '|' +
                   metric["type"].asString() + '|' + metric["index"].asString()] =
                result["value"][1].asString();
        }
        return series.size() == 7;
    });
    ASSERT_TRUE(complete) << answer << prometheus.output;
    const std::string board = "board \"a\" \\ b|";
    EXPECT_EQ(series[board + "Core 0|temperature|0"], "41");
    EXPECT_EQ(series[board + "Core 0|temperature|1"], "42");
    EXPECT_EQ(series[board + "Line\nFeed|clock|0"], "3600");
    EXPECT_EQ(series[board + "Hot|other|0"], "+Inf");
    EXPECT_EQ(series[board + "Cold|other|0"], "-Inf");
    EXPECT_EQ(series[board + "Nothing|other|0"], "NaN");
    const auto gpu = series.lower_bound("gpu|Caf");
    ASSERT_NE(gpu, series.end());
    EXPECT_TRUE(gpu->first.starts_with("gpu|Caf") && gpu->first.ends_with("|power|0")) << gpu->first;
    EXPECT_EQ(gpu->second, "1.5");
}

}  // namespace

// The serve mode as whole processes on the loopback interface: the built
// sensor-watch, the bridge with the simulated library, and a real Prometheus
// server. How a snapshot goes stale, natively and under Wine, is in
// platform_serve_test.cpp.
#include "watch/block_reader.h"
#include "watch/tests/block_writer.h"
#include "watch/tests/gunzip.h"
#include "watch/tests/http_client.h"
#include "testing/child_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <json/json.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// sensor-watch --serve with the port left to the system, once it has
// announced the port and made or opened the block.
struct ServingWatch : Running {
    ServingWatch() : Running({SENSOR_WATCH, "--serve", "0"}) { port = awaitServingPort(*this, 10s); }
    int port = 0;
};

// The samples of readings in a scrape, of every family: those that have a sensor.
std::size_t readingCount(const std::string &body)
{
    std::size_t count = 0;
    for (std::size_t at = body.find("{sensor=\""); at != std::string::npos;
         at = body.find("{sensor=\"", at + 1))
        ++count;
    return count;
}

// promtool's lint of a scrape: what it found, "" for nothing.
std::string lintOf(const std::string &scrape)
{
    ChildOptions options;
    options.keepInputOpen = true;
    options.mergeErrors = true;
    ChildProcess lint = startChild({PROMTOOL, "check", "metrics"}, options);
    EXPECT_EQ(write(lint.input, scrape.data(), scrape.size()), static_cast<ssize_t>(scrape.size()));
    closeInput(lint);
    const ChildOutcome linted = finishChild(lint, 60s);
    EXPECT_TRUE(linted.exited);
    return linted.exitCode == 0 ? linted.output
                                : "exit " + std::to_string(linted.exitCode) + ": " + linted.output;
}

// A real Prometheus server on a loopback port of its own, scraping
// sensor-watch every second.
struct PrometheusServer {
    explicit PrometheusServer(int target)
        : configuration("prometheus.yml", "global: {scrape_interval: 1s, scrape_timeout: 1s}\n"
                                          "scrape_configs: [{job_name: sensor-bridge, static_configs: "
                                          "[{targets: ['127.0.0.1:" +
                                              std::to_string(target) + "']}]}]\n"),
          process({PROMETHEUS, "--config.file=" + configuration.path,
                   "--storage.tsdb.path=" + (configuration.directory.path / "data").string(),
                   "--web.listen-address=127.0.0.1:" + std::to_string(port), "--log.level=warn"})
    {
    }
    int port = freePort();
    TextFile configuration;
    Running process;
};

// Every byte of a query argument, percent-encoded.
std::string encoded(std::string_view text)
{
    std::string out;
    for (const unsigned char c : text) {
        char escape[4];
        std::snprintf(escape, sizeof escape, "%%%02X", c);
        out += escape;
    }
    return out;
}

// The "data" of an answer from Prometheus' HTTP API.
Json::Value prometheusData(int port, const std::string &path)
{
    Json::Value document;
    std::istringstream stream(get(port, path));
    Json::parseFromStream(Json::CharReaderBuilder(), stream, &document, nullptr);
    return document["data"];
}

using ServeProcess = OwnBlockTest;

TEST_F(ServeProcess, AnswersOnlyGetAndHeadOfMetricsAndBoundsTheRequest)
{
    ServingWatch watcher;
    ASSERT_GT(watcher.port, 0) << watcher.output;
    const HttpAnswer got = request(watcher.port, "GET", "/metrics?ignored=1");
    EXPECT_EQ(got.status, 200);
    EXPECT_NE(got.head.find("Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n"), std::string::npos)
        << got.head;
    EXPECT_EQ(sample(got.body, "sensor_bridge_snapshot_fresh"), "0");
    const HttpAnswer head = request(watcher.port, "HEAD", "/metrics");
    EXPECT_EQ(head.status, 200);
    // The process metrics (resident memory, processor time) may gain or lose
    // a digit between the two requests; the rest is the same snapshot.
    const std::size_t length = head.head.find("Content-Length: ");
    ASSERT_NE(length, std::string::npos) << head.head;
    EXPECT_NEAR(std::atof(head.head.c_str() + length + 16), static_cast<double>(got.body.size()), 8)
        << head.head;
    EXPECT_EQ(head.body, "");

    // Every route and refusal is checked in-process (serving_test.cpp); here
    // only that the query and a refusal's headers cross the wire.
    EXPECT_EQ(request(watcher.port, "GET", "/api/history?points=x").status, 400);
    const HttpAnswer posted = request(watcher.port, "POST", "/metrics", "Content-Length: 2\r\n\r\n{}");
    EXPECT_EQ(posted.status, 405);
    EXPECT_NE(posted.head.find("Allow: GET, HEAD\r\n"), std::string::npos) << posted.head;
    // A request head larger than a connection may hold is refused, and the
    // server goes on.
    const HttpAnswer huge =
        request(watcher.port, "GET", "/metrics", "X-Padding: " + std::string(64 * 1024, 'x') + "\r\n");
    EXPECT_TRUE(huge.status == 0 || huge.status == 413 || huge.status == 431) << huge.status << huge.head;
    EXPECT_EQ(request(watcher.port, "GET", "/metrics").status, 200);
}

// The latency of each of `count` scrapes, in milliseconds, sorted; a scrape
// without all 2000 readings counts as a failure.
std::vector<double> scrapeLatencies(int port, int count, int &failures)
{
    std::vector<double> latencies;
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        const HttpAnswer answer = request(port, "GET", "/metrics", {}, 30s);
        latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (answer.status != 200 || readingCount(answer.body) != 2000)
            ++failures;
    }
    std::ranges::sort(latencies);
    return latencies;
}

TEST_F(ServeProcess, SlowClientsDoNotHoldUpScrapes)
{
    ServingWatch watcher;
    ASSERT_GT(watcher.port, 0) << watcher.output;
    // A large machine's worth of readings of every type, and one the tool
    // does not know, so that each scrape carries a realistic body (about
    // 200 kB), gzipped for those who ask, that promtool's lint passes.
    const char *types[] = {"temperature", "voltage", "fan",   "current", "power",
                           "clock",       "usage",   "other", "new"};
    std::string text = R"({"cpu":[)";
    for (int i = 0; i < 2000; ++i)
        text += std::string(i == 0 ? "" : ",") + R"({"Reading \")" + std::to_string(i) + R"(":{"type":")" +
                types[i % 9] + R"(","value":")" + std::to_string(i * 7.25) + R"("}})";
    publish("cpu\n", text + "]}");
    std::string body;
    ASSERT_TRUE(eventually(30s, [&] { return readingCount(body = get(watcher.port)) == 2000; })) << body;
    const HttpAnswer zipped = request(watcher.port, "GET", "/metrics", "Accept-Encoding: gzip\r\n");
    EXPECT_TRUE(zipped.head.find("Content-Encoding: gzip\r\n") != std::string::npos &&
                zipped.head.find("Vary: Accept-Encoding\r\n") != std::string::npos)
        << zipped.head;
    EXPECT_EQ(readingCount(gunzip(zipped.body)), 2000u);
    EXPECT_LT(zipped.body.size() * 4, body.size());
    EXPECT_EQ(std::string(PROMTOOL).empty() ? "" : lintOf(body), "");

    int failures = 0;
    const std::vector<double> alone = scrapeLatencies(watcher.port, 50, failures);
    EXPECT_EQ(failures, 0);

    // 300 connections that never send a byte, and 300 that stop in the
    // middle of a request's head.
    std::vector<Connection> slow;
    for (int i = 0; i < 600; ++i) {
        Connection &connection = slow.emplace_back(watcher.port);
        ASSERT_GE(connection.descriptor, 0) << "connection " << i;
        if (i % 2 == 1) {
            ASSERT_TRUE(connection.send("GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: "));
        }
    }
    const std::vector<double> beside = scrapeLatencies(watcher.port, 50, failures);
    EXPECT_EQ(failures, 0) << "scrapes went unanswered beside 600 slow clients";
    // The figures for the record; how fast is not for a test to judge.
    const auto figures = [](const std::vector<double> &latencies) {
        return "median " + std::to_string(latencies[latencies.size() / 2]) + " ms, worst " +
               std::to_string(latencies.back()) + " ms";
    };
    std::cout << "scrape latency alone: " << figures(alone)
              << "\nbeside 600 slow clients: " << figures(beside) << '\n';
}

TEST_F(ServeProcess, PrometheusScrapesTheReadingsAndItsLintFindsNothing)
{
    if (std::string(PROMETHEUS).empty())
        GTEST_SKIP() << "prometheus is not installed";
    ServingWatch watcher;
    ASSERT_GT(watcher.port, 0) << watcher.output;
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
    ChildOptions options;
    options.environment = {"HWINFO_SIM_SCENARIO=" + scenario.path};
    Running bridge({SENSOR_BRIDGE}, options);
    PrometheusServer prometheus(watcher.port);
    ASSERT_GT(prometheus.port, 0);

    // Each series as "sensor|label|name|index", with its value as Prometheus
    // gives it.
    std::map<std::string, std::string> series;
    Json::Value answer;
    const bool complete = eventually(30s, [&] {
        prometheus.process.drain();
        answer = prometheusData(prometheus.port, "/api/v1/query?query=" +
                                                     encoded(R"({__name__=~"sensor_bridge_.+",sensor!=""})"));
        series.clear();
        for (const Json::Value &result : answer["result"]) {
            const Json::Value &metric = result["metric"];
            series[metric["sensor"].asString() + '|' + metric["label"].asString() + '|' +
                   metric["__name__"].asString() + '|' + metric["index"].asString()] =
                result["value"][1].asString();
        }
        return series.size() == 7;
    });
    ASSERT_TRUE(complete) << answer << prometheus.process.output;
    const std::string board = "board \"a\" \\ b|";
    EXPECT_EQ(series[board + "Core 0|sensor_bridge_temperature_celsius|0"], "41");
    EXPECT_EQ(series[board + "Core 0|sensor_bridge_temperature_celsius|1"], "42");
    EXPECT_EQ(series[board + "Line\nFeed|sensor_bridge_clock_hertz|0"], "3600000000");
    EXPECT_EQ(series[board + "Hot|sensor_bridge_other|0"], "+Inf");
    EXPECT_EQ(series[board + "Cold|sensor_bridge_other|0"], "-Inf");
    EXPECT_EQ(series[board + "Nothing|sensor_bridge_other|0"], "NaN");
    const auto gpu = series.lower_bound("gpu|Caf");
    ASSERT_NE(gpu, series.end());
    EXPECT_TRUE(gpu->first.starts_with("gpu|Caf") && gpu->first.ends_with("|sensor_bridge_power_watts|0"))
        << gpu->first;
    EXPECT_EQ(gpu->second, "1.5");

    // Prometheus' own lint finds nothing in a scrape of these names.
    ASSERT_FALSE(std::string(PROMTOOL).empty()) << "prometheus is installed, promtool is not";
    const std::string scrape = get(watcher.port);
    ASSERT_EQ(readingCount(scrape), 7u) << scrape;
    EXPECT_EQ(lintOf(scrape), "");
}

// A panel without data from a real Prometheus, for every value of the sensor
// variable, is a broken panel.
TEST_F(ServeProcess, PrometheusAnswersEveryPanelOfTheGrafanaDashboard)
{
    if (std::string(PROMETHEUS).empty())
        GTEST_SKIP() << "prometheus is not installed";
    std::ifstream file(DASHBOARD);
    Json::Value dashboard;
    ASSERT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), file, &dashboard, nullptr));
    EXPECT_EQ(dashboard["__inputs"][0]["name"].asString(), "DS_PROMETHEUS");
    // Each variable's SELECTOR in label_values(SELECTOR, NAME).
    std::map<std::string, std::string> variables;
    for (const Json::Value &variable : dashboard["templating"]["list"]) {
        const std::string name = variable["name"].asString();
        const std::string definition = variable["definition"].asString();
        EXPECT_TRUE(definition.starts_with("label_values(") && definition.ends_with(", " + name + ")"));
        variables[name] = definition.substr(13, definition.size() - name.size() - 16);
    }
    ASSERT_TRUE(variables.size() == 2 && variables.contains("instance") && variables.contains("sensor"));

    // The default scenario has readings of every type.
    ServingWatch watcher;
    ASSERT_GT(watcher.port, 0) << watcher.output;
    Running bridge({SENSOR_BRIDGE});
    PrometheusServer prometheus(watcher.port);
    const std::string instance = "127.0.0.1:" + std::to_string(watcher.port);
    // A query as Grafana sends it: fixed durations for its macros, and a
    // sensor regex-escaped as a value of a multi-value variable.
    const auto filled = [&](std::string query, const std::string &sensor) {
        const std::string escaped =
            std::regex_replace(sensor, std::regex(R"([$^*{}\[\]'+?.()|])"), R"(\\$&)");
        query = std::regex_replace(query, std::regex(R"(\$__\w+)"), "1m");
        for (const auto &[name, value] :
             {std::pair<std::string, std::string>{"$instance", instance}, {"$sensor", escaped}})
            if (const std::size_t at = query.find(name); at != std::string::npos)
                query.replace(at, name.size(), value);
        return query;
    };
    // label_values, asked for as Grafana does: the label values API with match[].
    const auto valuesOf = [&](const std::string &name) {
        std::set<std::string> values;
        for (const Json::Value &value : prometheusData(
                 prometheus.port,
                 "/api/v1/label/" + name + "/values?match%5B%5D=" + encoded(filled(variables[name], ""))))
            values.insert(value.asString());
        return values;
    };
    // Each reading panel shows its family in the family's unit.
    const std::map<std::string, std::string> unitOf{
        {"temperature_celsius", "celsius"}, {"voltage_volts", "volt"}, {"fan_rpm", "rotrpm"},
        {"current_amperes", "amp"},         {"power_watts", "watt"},   {"clock_hertz", "hertz"},
        {"usage_ratio", "percentunit"},     {"other", "none"}};
    for (const Json::Value &panel : dashboard["panels"]) {
        const std::string expression = panel["targets"][0]["expr"].asString();
        const auto unit = unitOf.find(expression.substr(14, expression.find('{') - 14));
        EXPECT_TRUE(unit == unitOf.end() || panel["fieldConfig"]["defaults"]["unit"] == unit->second)
            << expression;
    }
    std::map<std::string, bool> answered;
    EXPECT_TRUE(eventually(60s, [&] {
        prometheus.process.drain();
        answered["the instance variable"] = valuesOf("instance").contains(instance);
        const std::set<std::string> sensors = valuesOf("sensor");
        for (const Json::Value &panel : dashboard["panels"]) {
            bool &found = answered[panel["title"].asString()];
            for (const Json::Value &target : panel["targets"])
                for (const std::string &sensor : sensors)
                    found = found ||
                            prometheusData(prometheus.port,
                                           "/api/v1/query?query=" +
                                               encoded(filled(target["expr"].asString(), sensor)))["result"]
                                    .size() > 0;
        }
        return std::ranges::all_of(answered, [](const auto &entry) { return entry.second; });
    })) << prometheus.process.output;
    EXPECT_EQ(answered.size(), 12u);
    for (const auto &[title, found] : answered)
        EXPECT_TRUE(found) << "no data for " << title;
}

}  // namespace

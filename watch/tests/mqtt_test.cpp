// sensor-watch --mqtt against a real broker (mosquitto on a free loopback
// port), beside the bridge and the simulated library: discovery, states and
// both availabilities, the restarts of everything involved, hostile names,
// credentials, TLS and removal. The default scenario is also published by the
// Windows build under Wine.
#include "watch/tests/strict_json.h"
#include "watch/tests/block_writer.h"
#include "watch/tests/mqtt_broker.h"
#include "testing/child_process.h"
#include "testing/native_or_wine.h"
#include "testing/scenarios.h"
#include "tools/simsensors/scenario.h"
#include "watch/block_reader.h"
#include "watch/mqtt_topics.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <fstream>
#include <memory>
#include <regex>

namespace {

using namespace std::chrono_literals;
using namespace watch;
using Messages = std::map<std::string, std::string>;

const Discovery discovery{.node = "test", .everySeconds = 1};

ChildOptions childOptions(std::vector<std::string> environment = {})
{
    ChildOptions options;
    options.environment = std::move(environment);
    options.mergeErrors = true;
    return options;
}

Messages configs(int port)
{
    return retained(port, {"homeassistant/sensor/test/+/config"});
}

std::string topicOf(int port, const std::string &topic)
{
    const Messages messages = retained(port, {topic});
    return messages.contains(topic) ? messages.at(topic) : std::string();
}

// Waits until the broker holds `count` configs, and returns them.
Messages awaitConfigs(int port, std::size_t count)
{
    Messages found;
    EXPECT_TRUE(eventually(120s, [&] { return (found = configs(port)).size() == count; })) << found.size();
    return found;
}

std::size_t defaultReadings()
{
    std::size_t count = 0;
    for (const simsensors::Sensor &sensor : simsensors::defaultScenario().sensors)
        for (const auto &readings : sensor.readings)
            count += std::ranges::count_if(readings, [](const auto &reading) { return reading.has_value(); });
    return count;
}

// The broker, and sensor-watch and the bridge on one platform.
struct Programs {
    const Platform &platform;
    Broker broker{};
    std::deque<Running> children{};
    Running &start(std::string_view program, std::vector<std::string> arguments = {},
                   std::vector<std::string> environment = {})
    {
        return children.emplace_back(platform.command(platform.program(program), std::move(arguments)),
                                     platform.options(std::move(environment)));
    }
    // sensor-watch once it says that it publishes, which it does once the
    // block is there for the bridge.
    Running &startWatch()
    {
        Running &watch = start("sensor-watch", {"--mqtt", "127.0.0.1:" + std::to_string(broker.port),
                                                "--mqtt-node", "test", "--mqtt-every", "1"});
        EXPECT_TRUE(eventually(120s, [&] {
            watch.drain();
            return watch.output.find(" as test") != std::string::npos;
        })) << watch.output;
        return watch;
    }
};

class Mqtt : public PlatformTest {
  protected:
    void SetUp() override
    {
        PlatformTest::SetUp();
        if (!brokerInstalled())
            GTEST_SKIP() << "mosquitto, mosquitto_passwd or openssl is not installed";
        forgetBlock();
    }
};

TEST_P(Mqtt, PublishesTheDefaultScenario)
{
    Programs programs{platform()};
    const int port = programs.broker.port;
    programs.startWatch();
    programs.start("sensor-bridge");
    const Messages found = awaitConfigs(port, defaultReadings());
    EXPECT_TRUE(eventually(120s, [&] { return topicOf(port, "sensor-bridge/test/bridge") == "online"; }));
    EXPECT_EQ(topicOf(port, "sensor-bridge/test/status"), "online");
    // Every config's reading gets a value in its sensor's state.
    EXPECT_TRUE(eventually(120s, [&] {
        const Messages states = retained(port, {"sensor-bridge/test/+/state"});
        return std::ranges::all_of(found, [&](const auto &entry) {
            const Json::Value config = parsed(entry.second);
            const auto state = states.find(config["state_topic"].asString());
            return state != states.end() &&
                   parsed(state->second).isMember(config["unique_id"].asString().substr(5));
        });
    }));
}

INSTANTIATE_TEST_SUITE_P(OnEachPlatform, Mqtt, testing::ValuesIn(platforms()), platformName);

// The rest runs natively, where the test reads the block itself.
struct MqttNative : OwnBlockTest {
    void SetUp() override
    {
        OwnBlockTest::SetUp();
        if (!brokerInstalled())
            GTEST_SKIP() << "mosquitto, mosquitto_passwd or openssl is not installed";
    }
    void TearDown() override
    {
        programs.children.clear();
        OwnBlockTest::TearDown();
    }
    Programs programs{nativePlatform()};
    const int port = programs.broker.port;
};

Snapshot blockSnapshot()
{
    const platform::MappedObject block = platform::openObject(objectName, platform::Access::readOnly);
    const ReadResult result = readBlock(block.bytes);
    platform::unmapObject(block.bytes);
    EXPECT_EQ(result.status, BlockStatus::valid) << block.error << result.error;
    return result.snapshot;
}

TEST_F(MqttNative, RidesOutRestartsOfTheBridgeTheBrokerAndItselfWithTheSameIds)
{
    Running *watch = &programs.startWatch();
    Running &bridge = programs.start("sensor-bridge");
    // The configs, unique ids among them, are what a restart must give again.
    const Messages first = awaitConfigs(port, defaultReadings());

    // The bridge stops: its availability goes offline once the snapshot is
    // stale, and the states hold the last snapshot's values.
    bridge.stop(SIGKILL);
    EXPECT_TRUE(eventually(120s, [&] { return topicOf(port, "sensor-bridge/test/bridge") == "offline"; }));
    const auto last = identify(blockSnapshot());
    EXPECT_TRUE(eventually(120s, [&] {
        const Messages states = retained(port, {"sensor-bridge/test/+/state"});
        return std::ranges::all_of(last, [&](const IdentifiedSensor &sensor) {
            const auto state = states.find(stateTopic("test", sensor.id));
            return state != states.end() && std::ranges::all_of(sensor.readings, [&](const auto &reading) {
                       return parsed(state->second)[reading.id] ==
                              parsed('[' + jsonValue(reading.value) + ']')[0];
                   });
        });
    }));
    for (const IdentifiedSensor &sensor : last)
        for (const IdentifiedReading &reading : sensor.readings) {
            const Json::Value config = parsed(first.at(configTopic(discovery, reading.id)));
            const auto known =
                std::ranges::find(homeAssistantClasses, reading.type, &HomeAssistantClass::type);
            const bool none = known == homeAssistantClasses.end();
            EXPECT_EQ(config["unit_of_measurement"].asString(), none ? "" : known->unit);
            EXPECT_EQ(config["device_class"].asString(), none ? "" : known->deviceClass);
        }

    // Home Assistant comes online: every config comes again.
    const std::string one = first.begin()->first;
    publishTo(port, one, "", true);
    publishTo(port, "homeassistant/status", "online", false);
    EXPECT_TRUE(eventually(120s, [&] { return configs(port).contains(one); }));

    // A broker that restarts has forgotten everything, and gets it all again.
    programs.broker.restart();
    EXPECT_EQ(awaitConfigs(port, defaultReadings()), first);
    EXPECT_TRUE(eventually(120s, [&] { return topicOf(port, "sensor-bridge/test/status") == "online"; }));
    watch->drain();
    EXPECT_NE(watch->output.find("connected\nbroker unreachable: connection lost, trying again in 1 s\n"),
              std::string::npos)
        << watch->output;

    // Killed, sensor-watch leaves its last will; started again with the
    // bridge, against a broker that forgot everything, it gives the same ids.
    watch->stop(SIGKILL);
    platform::removeObject(objectName);
    EXPECT_TRUE(eventually(120s, [&] { return topicOf(port, "sensor-bridge/test/status") == "offline"; }));
    programs.broker.restart();
    programs.startWatch();
    programs.start("sensor-bridge");
    EXPECT_EQ(awaitConfigs(port, defaultReadings()), first);

    // --mqtt-remove clears every retained topic of the node.
    programs.children.clear();
    const ChildOutcome removed = runChild(
        {SENSOR_WATCH, "--mqtt", "127.0.0.1:" + std::to_string(port), "--mqtt-node", "test", "--mqtt-remove"},
        {}, 120s);
    EXPECT_EQ(removed.exitCode, 0) << removed.output;
    EXPECT_EQ(retained(port, {"homeassistant/#", "sensor-bridge/test/#"}), Messages{});
}

TEST_F(MqttNative, HostileNamesGiveValidTopicsAndJson)
{
    const TextFile scenario("scenario", hostileScenario);
    programs.startWatch();
    programs.start("sensor-bridge", {}, {"HWINFO_SIM_SCENARIO=" + scenario.path});
    ASSERT_TRUE(eventually(120s, [&] { return topicOf(port, "sensor-bridge/test/bridge") == "online"; }));
    std::size_t readings = 0;
    for (const IdentifiedSensor &sensor : identify(blockSnapshot()))
        readings += sensor.readings.size();
    awaitConfigs(port, readings);
    for (const auto &[topic, text] : retained(port, {"homeassistant/#", "sensor-bridge/#"})) {
        EXPECT_TRUE(std::regex_match(topic, std::regex("[a-z0-9_-]+(/[a-z0-9_-]+)+"))) << topic;
        if (text != "online" && text != "offline")
            parsed(text);
    }
}

// sensor-watch with the arguments until it says that it connected or ends.
ChildOutcome connecting(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), SENSOR_WATCH);
    Running watch(arguments, childOptions());
    eventually(120s, [&] {
        watch.drain();
        return watch.output.find("\nconnected") != std::string::npos ||
               watch.output.find("sensor-watch: ") != std::string::npos;
    });
    return watch.stop(SIGTERM);
}

// One broker asks for a password over TLS, with a server certificate from a
// throwaway CA; another CA, or another password, ends the run with one line.
TEST_F(MqttNative, ChecksThePasswordAndTheBrokersCertificate)
{
    const ScratchDirectory files;
    const auto file = [&](const std::string &name, std::string_view text = {}) {
        const std::string path = (files.path / name).string();
        if (!text.empty())
            std::ofstream(path) << text;
        return path;
    };
    // Makes STEM.key and STEM.pem, the stem given last.
    const auto run = [](std::vector<std::string> command) {
        const std::string stem = command.back();
        command.back() = "-keyout";
        command.insert(command.end(), {stem + ".key", "-out", stem + ".pem", "-days", "2"});
        const ChildOutcome outcome = runChild(command, childOptions(), 120s);
        ASSERT_EQ(outcome.exitCode, 0) << outcome.output;
    };
    for (const std::string ca : {"ca", "other"})
        run({OPENSSL, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + ca, file(ca)});
    run({OPENSSL, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-addext",
         "subjectAltName=IP:127.0.0.1", "-CA", file("ca.pem"), "-CAkey", file("ca.key"), file("server")});
    ASSERT_EQ(
        runChild({MOSQUITTO_PASSWD, "-c", "-b", file("passwords"), "watcher", "right"}, {}, 120s).exitCode,
        0);
    const Broker broker("allow_anonymous false\npassword_file " + file("passwords") + "\ncafile " +
                        file("ca.pem") + "\ncertfile " + file("server.pem") + "\nkeyfile " +
                        file("server.key") + "\n");
    const auto arguments = [&](const std::string &ca, std::string_view password) {
        return std::vector<std::string>{"--mqtt",
                                        "127.0.0.1:" + std::to_string(broker.port),
                                        "--mqtt-ca",
                                        file(ca),
                                        "--mqtt-user",
                                        "watcher",
                                        "--mqtt-password-file",
                                        file(std::string(password), std::string(password) + "\n")};
    };
    EXPECT_NE(connecting(arguments("ca.pem", "right")).output.find("\nconnected"), std::string::npos);
    const ChildOutcome refused = connecting(arguments("ca.pem", "wrong"));
    EXPECT_TRUE(refused.exited && refused.exitCode == 1) << refused.output;
    EXPECT_NE(refused.output.find("sensor-watch: the broker refused the connection: "), std::string::npos)
        << refused.output;
    const ChildOutcome unverified = connecting(arguments("other.pem", "right"));
    EXPECT_TRUE(unverified.exited && unverified.exitCode == 1) << unverified.output;
    EXPECT_NE(unverified.output.find("sensor-watch: TLS failed"), std::string::npos) << unverified.output;
}

}  // namespace

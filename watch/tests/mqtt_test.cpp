// sensor-watch --mqtt against a real broker (mosquitto on a free loopback
// port), beside the bridge and the simulated library: discovery, states and
// both availabilities, the restarts of everything involved, hostile names,
// credentials, TLS and removal. The default scenario is also published by the
// Windows build under Wine.
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
#include <set>

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

Json::Value parsed(const std::string &text)
{
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string error;
    EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &root, &error)) << error << text;
    return root;
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

std::set<std::string> uniqueIds(const Messages &configs)
{
    std::set<std::string> ids;
    for (const auto &[topic, config] : configs)
        ids.insert(parsed(config)["unique_id"].asString());
    return ids;
}

// Waits until sensor-watch says that it publishes, which it does once the
// block is there for the bridge.
Running &announced(Running &watch)
{
    EXPECT_TRUE(eventually(120s, [&] {
        watch.drain();
        return watch.output.find(" as test") != std::string::npos;
    })) << watch.output;
    return watch;
}

std::size_t defaultReadings()
{
    std::size_t count = 0;
    for (const simsensors::Sensor &sensor : simsensors::defaultScenario().sensors)
        for (const auto &readings : sensor.readings)
            count += std::ranges::count_if(readings, [](const auto &reading) { return reading.has_value(); });
    return count;
}

class Mqtt : public PlatformTest {
  protected:
    void SetUp() override
    {
        PlatformTest::SetUp();
        if (!brokerInstalled())
            GTEST_SKIP() << "mosquitto, mosquitto_passwd or openssl is not installed";
        forgetBlock();
    }
    Running &start(std::string_view program, std::vector<std::string> arguments = {},
                   std::vector<std::string> environment = {})
    {
        return children.emplace_back(platform().command(platform().program(program), std::move(arguments)),
                                     platform().options(std::move(environment)));
    }
    Running &startWatch(std::vector<std::string> arguments = {})
    {
        arguments.insert(arguments.begin(), {"--mqtt", "127.0.0.1:" + std::to_string(broker.port),
                                             "--mqtt-node", "test", "--mqtt-every", "1"});
        return announced(start("sensor-watch", std::move(arguments)));
    }
    Broker broker;
    std::deque<Running> children;
};

TEST_P(Mqtt, PublishesTheDefaultScenario)
{
    Running &watch = startWatch();
    start("sensor-bridge");
    const Messages found = awaitConfigs(broker.port, defaultReadings());
    EXPECT_TRUE(
        eventually(120s, [&] { return topicOf(broker.port, "sensor-bridge/test/bridge") == "online"; }));
    EXPECT_EQ(topicOf(broker.port, "sensor-bridge/test/status"), "online");
    // Every config's reading gets a value in its sensor's state.
    EXPECT_TRUE(eventually(120s, [&] {
        const Messages states = retained(broker.port, {"sensor-bridge/test/+/state"});
        return std::ranges::all_of(found, [&](const auto &entry) {
            const Json::Value config = parsed(entry.second);
            const std::string id = config["unique_id"].asString().substr(5);
            const auto state = states.find(config["state_topic"].asString());
            return state != states.end() && parsed(state->second).isMember(id);
        });
    }));
    watch.drain();
    EXPECT_NE(watch.output.find("publishing to 127.0.0.1:" + std::to_string(broker.port) + " as test"),
              std::string::npos);
    EXPECT_NE(watch.output.find("connected"), std::string::npos) << watch.output;
}

INSTANTIATE_TEST_SUITE_P(OnEachPlatform, Mqtt, testing::ValuesIn(platforms()), platformName);

// A suite that needs the broker and starts sensor-watch natively.
struct BrokerTest : OwnBlockTest {
    void SetUp() override
    {
        OwnBlockTest::SetUp();
        if (!brokerInstalled())
            GTEST_SKIP() << "mosquitto, mosquitto_passwd or openssl is not installed";
    }
};

// The rest runs natively, where the test reads the block itself.
struct MqttNative : BrokerTest {
    Running &start(std::vector<std::string> command, std::vector<std::string> environment = {})
    {
        return children.emplace_back(std::move(command), childOptions(std::move(environment)));
    }
    Running &startWatch(std::vector<std::string> arguments = {})
    {
        arguments.insert(arguments.begin(),
                         {SENSOR_WATCH, "--mqtt", "127.0.0.1:" + std::to_string(broker.port), "--mqtt-node",
                          "test", "--mqtt-every", "1"});
        return announced(start(std::move(arguments)));
    }
    void TearDown() override
    {
        children.clear();
        BrokerTest::TearDown();
    }
    Broker broker;
    std::deque<Running> children;
};

Snapshot blockSnapshot()
{
    const platform::MappedObject block = platform::openObject(objectName, platform::Access::readOnly);
    EXPECT_EQ(block.error, "");
    const ReadResult result = readBlock(block.bytes);
    platform::unmapObject(block.bytes);
    EXPECT_EQ(result.status, BlockStatus::valid) << result.error;
    return result.snapshot;
}

TEST_F(MqttNative, RidesOutRestartsOfTheBridgeTheBrokerAndItselfWithTheSameIds)
{
    Running *watch = &startWatch();
    Running *bridge = &start({SENSOR_BRIDGE});
    const std::set<std::string> ids = uniqueIds(awaitConfigs(broker.port, defaultReadings()));

    // The bridge stops: its availability goes offline once the snapshot is
    // stale, and the states hold the last snapshot's values.
    bridge->stop(SIGKILL);
    EXPECT_TRUE(
        eventually(120s, [&] { return topicOf(broker.port, "sensor-bridge/test/bridge") == "offline"; }));
    const Snapshot last = blockSnapshot();
    const Messages found = configs(broker.port);
    EXPECT_TRUE(eventually(120s, [&] {
        const Messages states = retained(broker.port, {"sensor-bridge/test/+/state"});
        for (const IdentifiedSensor &sensor : identify(last))
            for (const IdentifiedReading &reading : sensor.readings) {
                const std::string topic = stateTopic("test", sensor.id);
                if (!states.contains(topic) ||
                    parsed(states.at(topic))[reading.id] != parsed('[' + jsonValue(reading.value) + ']')[0])
                    return false;
            }
        return true;
    }));
    for (const IdentifiedSensor &sensor : identify(last))
        for (const IdentifiedReading &reading : sensor.readings) {
            const Json::Value config = parsed(found.at(configTopic(discovery, reading.id)));
            const auto known =
                std::ranges::find(homeAssistantClasses, reading.type, &HomeAssistantClass::type);
            EXPECT_EQ(config["unit_of_measurement"].asString(),
                      known == homeAssistantClasses.end() ? "" : std::string(known->unit));
            EXPECT_EQ(config["device_class"].asString(),
                      known == homeAssistantClasses.end() ? "" : std::string(known->deviceClass));
        }

    // Home Assistant comes online: every config comes again.
    const std::string one = found.begin()->first;
    publishTo(broker.port, one, "", true);
    publishTo(broker.port, "homeassistant/status", "online", false);
    EXPECT_TRUE(eventually(120s, [&] { return configs(broker.port).contains(one); }));

    // A broker that restarts has forgotten everything, and gets it all again.
    broker.restart();
    EXPECT_EQ(uniqueIds(awaitConfigs(broker.port, defaultReadings())), ids);
    EXPECT_TRUE(
        eventually(120s, [&] { return topicOf(broker.port, "sensor-bridge/test/status") == "online"; }));
    watch->drain();
    EXPECT_NE(watch->output.find("connected\nbroker unreachable: connection lost, trying again in 1 s\n"),
              std::string::npos)
        << watch->output;

    // Killed, sensor-watch leaves its last will; started again with the
    // bridge, against a broker that forgot everything, it gives the same ids.
    watch->stop(SIGKILL);
    platform::removeObject(objectName);
    EXPECT_TRUE(
        eventually(120s, [&] { return topicOf(broker.port, "sensor-bridge/test/status") == "offline"; }));
    broker.restart();
    watch = &startWatch();
    start({SENSOR_BRIDGE});
    EXPECT_EQ(uniqueIds(awaitConfigs(broker.port, defaultReadings())), ids);

    // --mqtt-remove clears every retained topic of the node.
    children.clear();
    const ChildOutcome removed = runChild({SENSOR_WATCH, "--mqtt", "127.0.0.1:" + std::to_string(broker.port),
                                           "--mqtt-node", "test", "--mqtt-remove"},
                                          {}, 120s);
    EXPECT_EQ(removed.exitCode, 0) << removed.output;
    EXPECT_EQ(retained(broker.port, {"homeassistant/#", "sensor-bridge/test/#"}), Messages{});
}

TEST_F(MqttNative, HostileNamesGiveValidTopicsAndJson)
{
    const TextFile scenario("scenario", hostileScenario);
    startWatch();
    start({SENSOR_BRIDGE}, {"HWINFO_SIM_SCENARIO=" + scenario.path});
    ASSERT_TRUE(
        eventually(120s, [&] { return topicOf(broker.port, "sensor-bridge/test/bridge") == "online"; }));
    std::size_t readings = 0;
    for (const IdentifiedSensor &sensor : identify(blockSnapshot()))
        readings += sensor.readings.size();
    awaitConfigs(broker.port, readings);
    for (const auto &[topic, text] : retained(broker.port, {"homeassistant/#", "sensor-bridge/#"})) {
        EXPECT_TRUE(std::regex_match(topic, std::regex("[a-z0-9_-]+(/[a-z0-9_-]+)+"))) << topic;
        if (text != "online" && text != "offline")
            parsed(text);
    }
}

// A password file, or a throwaway CA, for the broker and for sensor-watch.
struct Credentials {
    ScratchDirectory directory;
    std::string file(const std::string &name, std::string_view text = {}) const
    {
        const std::string path = (directory.path / name).string();
        if (!text.empty())
            std::ofstream(path) << text;
        return path;
    }
};

void run(const std::vector<std::string> &command)
{
    const ChildOutcome outcome = runChild(command, childOptions(), 120s);
    ASSERT_EQ(outcome.exitCode, 0) << outcome.output;
}

struct MqttAccess : BrokerTest {
    // sensor-watch with the arguments until it says `expected` or ends.
    static ChildOutcome watchUntil(std::vector<std::string> arguments, const std::string &expected)
    {
        arguments.insert(arguments.begin(), SENSOR_WATCH);
        Running watch(arguments, childOptions());
        eventually(120s, [&] {
            watch.drain();
            return watch.output.find(expected) != std::string::npos ||
                   watch.output.find("sensor-watch: ") != std::string::npos;
        });
        return watch.stop(SIGTERM);
    }
    Credentials credentials;
};

TEST_F(MqttAccess, ARightPasswordConnectsAndAWrongOneEndsTheRun)
{
    const std::string passwords = credentials.file("passwords");
    run({MOSQUITTO_PASSWD, "-c", "-b", passwords, "watcher", "right"});
    const Broker broker("allow_anonymous false\npassword_file " + passwords + "\n");
    const std::vector<std::string> arguments = {"--mqtt", "127.0.0.1:" + std::to_string(broker.port),
                                                "--mqtt-user", "watcher", "--mqtt-password-file"};
    std::vector<std::string> right = arguments;
    right.push_back(credentials.file("right", "right\n"));
    EXPECT_NE(watchUntil(right, "\nconnected").output.find("\nconnected"), std::string::npos);
    std::vector<std::string> wrong = arguments;
    wrong.push_back(credentials.file("wrong", "wrong\n"));
    const ChildOutcome refused = watchUntil(wrong, "\nconnected");
    EXPECT_TRUE(refused.exited);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.output.find("sensor-watch: the broker refused the connection: "), std::string::npos)
        << refused.output;
}

TEST_F(MqttAccess, TlsConnectsWithTheRightCaAndFailsClearlyWithAnother)
{
    const std::string ca = credentials.file("ca.pem"), caKey = credentials.file("ca.key");
    const std::string other = credentials.file("other.pem"), otherKey = credentials.file("other.key");
    const std::string cert = credentials.file("server.pem"), key = credentials.file("server.key");
    const std::string request = credentials.file("server.csr");
    const std::string extensions = credentials.file("extensions", "subjectAltName=IP:127.0.0.1\n");
    for (const auto &[pem, pemKey] : {std::pair{ca, caKey}, std::pair{other, otherKey}})
        run({OPENSSL, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=test CA",
             "-keyout", pemKey, "-out", pem});
    run({OPENSSL, "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-keyout", key, "-out",
         request});
    run({OPENSSL, "x509", "-req", "-in", request, "-CA", ca, "-CAkey", caKey, "-CAcreateserial", "-days", "2",
         "-extfile", extensions, "-out", cert});
    const Broker broker("allow_anonymous true\ncafile " + ca + "\ncertfile " + cert + "\nkeyfile " + key +
                        "\n");
    const std::string address = "127.0.0.1:" + std::to_string(broker.port);
    EXPECT_NE(watchUntil({"--mqtt", address, "--mqtt-ca", ca}, "\nconnected").output.find("\nconnected"),
              std::string::npos);
    const ChildOutcome refused = watchUntil({"--mqtt", address, "--mqtt-ca", other}, "\nconnected");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.output.find("sensor-watch: TLS failed"), std::string::npos) << refused.output;
}

}  // namespace

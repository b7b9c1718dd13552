#include "watch/mqtt_topics.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <memory>
#include <regex>
#include <set>
#include <string>

namespace {

using namespace watch;

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

bool topicSafe(const std::string &id)
{
    return std::regex_match(id, std::regex("[a-z0-9_-]+")) && id.size() <= slugLength + 12;
}

const std::string hostile = "CPU \"0\"\\ +#/\xff\xfe caf\xc3\xa9 " + std::string(200, 'x');

TEST(MqttIds, StayTheSameWhateverElseComesAndGoAndKeepLookalikesApart)
{
    Snapshot before;
    before.sensors = {{"cpu", false, {{"Core 0", "temperature", "1"}, {"Core 0", "temperature", "2"}}}};
    Snapshot after;
    after.sensors = {
        {"aaa", false, {{"x", "other", "1"}}},
        {"cpu",
         false,
         {{"new", "clock", "1"}, {"Core 0", "temperature", "3"}, {"Core 0", "temperature", "4"}}}};
    const auto first = identify(before);
    const auto second = identify(after);
    EXPECT_EQ(first[0].id, second[1].id);
    EXPECT_EQ(first[0].readings[0].id, second[1].readings[1].id);
    EXPECT_EQ(first[0].readings[1].id, second[1].readings[2].id);
    EXPECT_NE(first[0].readings[0].id, first[0].readings[1].id);
    EXPECT_TRUE(first[0].readings[0].id.starts_with("cpu_core_0_temperature_")) << first[0].readings[0].id;

    // Names that differ only in bytes outside the slug, or past its length,
    // get ids of their own, all topic-safe and bounded.
    std::set<std::string> ids;
    for (const std::string &name : {hostile, hostile + "y", std::string("a+b"), std::string("a#b"),
                                    std::string("a/b"), std::string(), std::string("\xff")}) {
        const std::string sensor = sensorId(name);
        const std::string reading = readingId(name, name, name, 0);
        EXPECT_TRUE(topicSafe(sensor) && topicSafe(reading)) << sensor << ' ' << reading;
        EXPECT_TRUE(ids.insert(sensor).second && ids.insert(reading).second) << name;
    }
    // Fields are hashed with their lengths, so moving bytes between them
    // makes another id.
    EXPECT_NE(readingId("ab", "c", "t", 0), readingId("a", "bc", "t", 0));
    EXPECT_EQ(nodeName("My PC.local"), "my_pc_local");
    EXPECT_EQ(nodeName("+/#"), "sensor-watch");
    EXPECT_EQ(nodeName(std::string(100, 'n')).size(), nodeLength);
    EXPECT_TRUE(validPrefix("homeassistant") && validPrefix("ha/discovery"));
    EXPECT_FALSE(validPrefix("") || validPrefix("ha/#") || validPrefix("a+") || validPrefix("a//b") ||
                 validPrefix("/ha") || validPrefix(std::string_view("a\0b", 3)));
}

TEST(MqttConfig, NamesTheReadingItsDeviceAndBothAvailabilitiesInValidJson)
{
    Snapshot snapshot;
    snapshot.sensors = {{hostile,
                         false,
                         {{hostile, "temperature", "41.000000"},
                          {"fan 1", "fan", "900"},
                          {"load", "usage", "5"},
                          {"", "mystery", "1"}}}};
    const auto sensors = identify(snapshot);
    const Discovery discovery{.prefix = "ha", .node = "pc", .everySeconds = 10};
    const Json::Value config = parsed(readingConfig(discovery, sensors[0], sensors[0].readings[0]));
    const std::string id = sensors[0].readings[0].id;
    EXPECT_EQ(config["name"].asString(),
              "CPU \"0\"\\ +#/\xef\xbf\xbd\xef\xbf\xbd caf\xc3\xa9 " + std::string(200, 'x'));
    EXPECT_EQ(config["unique_id"].asString(), "pc_" + id);
    EXPECT_EQ(config["state_topic"].asString(), "sensor-bridge/pc/" + sensors[0].id + "/state");
    EXPECT_EQ(config["value_template"].asString(), "{{ value_json['" + id + "'] }}");
    EXPECT_EQ(config["availability"][0]["topic"].asString(), "sensor-bridge/pc/status");
    EXPECT_EQ(config["availability"][1]["topic"].asString(), "sensor-bridge/pc/bridge");
    EXPECT_EQ(config["availability_mode"].asString(), "all");
    EXPECT_EQ(config["state_class"].asString(), "measurement");
    EXPECT_EQ(config["device_class"].asString(), "temperature");
    EXPECT_EQ(config["unit_of_measurement"].asString(), "\u00b0C");
    EXPECT_EQ(config["expire_after"].asInt(), 30);
    EXPECT_EQ(config["device"]["identifiers"][0].asString(), "pc_" + sensors[0].id);
    EXPECT_EQ(config["device"]["name"].asString(), config["name"].asString());
    EXPECT_EQ(config["device"]["via_device"].asString(), "pc");
    EXPECT_EQ(config["origin"]["name"].asString(), "sensor-watch");
    EXPECT_EQ(configTopic(discovery, id), "ha/sensor/pc/" + id + "/config");

    const Json::Value fan = parsed(readingConfig(discovery, sensors[0], sensors[0].readings[1]));
    EXPECT_TRUE(!fan.isMember("device_class") && fan["unit_of_measurement"] == "rpm");
    EXPECT_EQ(parsed(readingConfig(discovery, sensors[0], sensors[0].readings[2]))["unit_of_measurement"],
              "%");
    const Json::Value unknown = parsed(readingConfig(discovery, sensors[0], sensors[0].readings[3]));
    EXPECT_TRUE(!unknown.isMember("device_class") && !unknown.isMember("unit_of_measurement"));
    EXPECT_EQ(unknown["name"].asString(), "mystery");
    Discovery bare = discovery;
    bare.units = false;
    const Json::Value withoutUnits = parsed(readingConfig(bare, sensors[0], sensors[0].readings[0]));
    EXPECT_TRUE(!withoutUnits.isMember("device_class") && !withoutUnits.isMember("unit_of_measurement"));

    const Json::Value machine = parsed(machineConfig(discovery));
    EXPECT_EQ(machine["device"]["identifiers"][0].asString(), "pc");
    EXPECT_EQ(machine["state_topic"].asString(), "sensor-bridge/pc/bridge");
    EXPECT_EQ(machineConfigTopic(discovery), "ha/binary_sensor/pc/bridge/config");
}

TEST(MqttState, HoldsNumbersAsPublishedNullsForTheRestAndRidesOutAMissedSnapshot)
{
    EXPECT_EQ(jsonValue("41.000000"), "41.000000");
    EXPECT_EQ(jsonValue("-1e-9"), "-1e-9");
    EXPECT_EQ(jsonValue(".5"), "0.5");
    EXPECT_EQ(jsonValue("05"), "5");
    for (const char *text : {"+5", "inf", "-inf", "nan", "-nan(ind)", "1e400", "text", "", "\xff"})
        EXPECT_EQ(jsonValue(text), "null") << text;

    Snapshot full;
    full.sensors = {{"cpu", false, {{"a", "clock", "1.5"}, {"b", "other", "nan"}}},
                    {"gpu", false, {{"c", "fan", "3"}}}};
    Snapshot partial;
    partial.sensors = {{"cpu", false, {{"a", "clock", "2.5"}}}};
    const auto sensors = identify(full);
    Remembered remembered;
    remember(remembered, sensors, 0);
    remember(remembered, identify(partial), 20);
    // Within the keep time the readings that missed the snapshot keep their
    // last value; past it they are left out, and a sensor with none left
    // gets no message, so that its entities expire.
    auto messages = stateMessages(remembered, "pc", 25, 30);
    ASSERT_EQ(messages.size(), 2u);
    const auto &cpu = messages[0].first.find(sensors[0].id) != std::string::npos ? messages[0] : messages[1];
    EXPECT_EQ(cpu.first, "sensor-bridge/pc/" + sensors[0].id + "/state");
    const Json::Value state = parsed(cpu.second);
    EXPECT_EQ(state[sensors[0].readings[0].id].asDouble(), 2.5);
    EXPECT_TRUE(state[sensors[0].readings[1].id].isNull() && state.size() == 2);
    messages = stateMessages(remembered, "pc", 40, 30);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(parsed(messages[0].second).size(), 1u);
}

}  // namespace

#include "watch/tests/strict_json.h"
#include "watch/mqtt_topics.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <memory>
#include <regex>
#include <set>
#include <string>

namespace {

using namespace watch;

const std::string hostile = "CPU \"0\"\\ +#/\xff caf\xc3\xa9 " + std::string(200, 'x');

TEST(MqttIds, StayTheSameWhateverElseComesAndGoAndKeepLookalikesApart)
{
    Snapshot before;
    before.sensors = {{"cpu", false, {{"Core 0", "temperature", "1"}, {"Core 0", "temperature", "2"}}}};
    Snapshot after;
    after.sensors = {{"aaa", false, {}},
                     {"cpu", false, {{"new", "clock", "1"}, {"Core 0", "temperature", "3"}}}};
    const auto first = identify(before);
    const auto second = identify(after);
    EXPECT_TRUE(first[0].id == second[1].id && first[0].readings[0].id == second[1].readings[1].id);
    EXPECT_NE(first[0].readings[0].id, first[0].readings[1].id);
    // Taken again, a snapshot of the same readings keeps the ids and brings
    // its values; one whose readings changed is identified afresh.
    auto again = first;
    before.sensors[0].readings[1].value = "5";
    identifyAgain(again, before);
    EXPECT_TRUE(again[0].readings[1].id == first[0].readings[1].id && again[0].readings[1].value == "5");
    identifyAgain(again, after);
    EXPECT_EQ(again[1].readings[0].id, second[1].readings[0].id);
    EXPECT_TRUE(first[0].readings[0].id.starts_with("cpu_core_0_temperature_")) << first[0].readings[0].id;
    // Names that differ only outside the slug or past its length, and bytes
    // moved between fields, give ids of their own, topic-safe and bounded.
    std::set<std::string> ids = {readingId("ab", "c", "t", 0), readingId("a", "bc", "t", 0)};
    for (const std::string &name :
         {hostile, hostile + "y", std::string("a+b"), std::string("a#b"), std::string()})
        for (const std::string &id : {sensorId(name), readingId(name, name, name, 0)}) {
            EXPECT_TRUE(std::regex_match(id, std::regex("[a-z0-9_-]{9,}")) && id.size() <= slugLength + 9)
                << id;
            EXPECT_TRUE(ids.insert(id).second) << id;
        }
    EXPECT_TRUE(nodeName("My PC.local") == "my_pc_local" && nodeName("+/#") == "sensor-watch");
    EXPECT_TRUE(validPrefix("ha/discovery") && !validPrefix("ha/#") && !validPrefix("a//b") &&
                !validPrefix(""));
}

TEST(MqttConfig, IsValidJsonWithTheTablesClassAndUnitUnlessUnitsAreOff)
{
    Snapshot snapshot;
    snapshot.sensors = {
        {hostile, false, {{hostile, "temperature", "41"}, {"f", "fan", "9"}, {"", "odd", "1"}}}};
    const auto sensor = identify(snapshot)[0];
    Discovery discovery{.prefix = "ha", .node = "pc", .everySeconds = 10};
    const Json::Value config = parsed(readingConfig(discovery, sensor, sensor.readings[0]));
    EXPECT_EQ(config["name"].asString(), "CPU \"0\"\\ +#/\xef\xbf\xbd caf\xc3\xa9 " + std::string(200, 'x'));
    EXPECT_EQ(config["device"]["name"], config["name"]);
    EXPECT_EQ(config["unique_id"].asString(), "pc_" + sensor.readings[0].id);
    EXPECT_TRUE(config["device_class"] == "temperature" && config["unit_of_measurement"] == "\u00b0C");
    const Json::Value fan = parsed(readingConfig(discovery, sensor, sensor.readings[1]));
    EXPECT_TRUE(!fan.isMember("device_class") && fan["unit_of_measurement"] == "rpm");
    const Json::Value odd = parsed(readingConfig(discovery, sensor, sensor.readings[2]));
    EXPECT_TRUE(!odd.isMember("unit_of_measurement") && odd["name"] == "odd");
    discovery.units = false;
    EXPECT_FALSE(
        parsed(readingConfig(discovery, sensor, sensor.readings[0])).isMember("unit_of_measurement"));
    EXPECT_EQ(parsed(machineConfig(discovery))["device"]["identifiers"][0], "pc");
}

TEST(MqttState, HoldsNumbersAsPublishedNullsForTheRestAndRidesOutAMissedSnapshot)
{
    EXPECT_TRUE(jsonValue("41.000000") == "41.000000" && jsonValue("-1e-9") == "-1e-9");
    EXPECT_TRUE(jsonValue(".5") == "0.5" && jsonValue("05") == "5");
    for (const char *text : {"+5", "inf", "-nan(ind)", "1e400", "text", "", "\xff"})
        EXPECT_EQ(jsonValue(text), "null") << text;

    Snapshot full;
    full.sensors = {{"cpu", false, {{"a", "clock", "1.5"}, {"b", "other", "nan"}}},
                    {"gpu", false, {{"c", "fan", "3"}}}};
    Snapshot partial;
    partial.sensors = {{"cpu", false, {{"a", "clock", "2.5"}}}};
    const auto cpu = identify(full)[0];
    Remembered remembered;
    remember(remembered, identify(full), 0);
    remember(remembered, identify(partial), 20);
    // Within the keep time a reading that missed the snapshot keeps its last
    // value; past it, it is left out, and a sensor with none left gets no
    // message, so that its entities expire.
    auto messages = stateMessages(remembered, "pc", 25, 30);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].first, "sensor-bridge/pc/" + cpu.id + "/state");
    EXPECT_EQ(messages[0].second, "{\"" + cpu.readings[0].id + "\":2.5,\"" + cpu.readings[1].id + "\":null}");
    messages = stateMessages(remembered, "pc", 40, 30);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].second, "{\"" + cpu.readings[0].id + "\":2.5}");
}

}  // namespace

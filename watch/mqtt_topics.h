// What sensor-watch publishes to an MQTT broker for Home Assistant's
// discovery: the stable ids of sensors and readings, the topics, the
// discovery configs and the state objects. Pure text handling, so the tests
// check every payload without a broker; mqtt_client sends them.
//
//   sensor-bridge/NODE/status                  online / offline (last will)
//   sensor-bridge/NODE/bridge                  online while the snapshot is fresh
//   sensor-bridge/NODE/SENSOR_ID/state         {"READING_ID": 41.5, ...}
//   PREFIX/sensor/NODE/READING_ID/config       one per reading
//   PREFIX/binary_sensor/NODE/bridge/config    the machine's device
#pragma once

#include "watch/block_reader.h"
#include "watch/units.h"

#include <array>
#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace watch {

// The device class and unit that Home Assistant gets for a type, in its own
// spellings; a unit that does not match the class makes it warn. Types not
// here ("other" and unknown ones) get neither.
struct HomeAssistantClass {
    std::string_view type;
    std::string_view deviceClass;
    std::string_view unit;
};

constexpr std::string_view unitSymbol(std::string_view type)
{
    for (const Unit &unit : units)
        if (unit.type == type)
            return unit.symbol;
    return {};
}

inline constexpr std::array<HomeAssistantClass, 7> homeAssistantClasses{{
    {"temperature", "temperature", unitSymbol("temperature")},
    {"voltage", "voltage", unitSymbol("voltage")},
    {"current", "current", unitSymbol("current")},
    {"power", "power", unitSymbol("power")},
    {"clock", "frequency", unitSymbol("clock")},
    // Home Assistant spells revolutions per minute in lower case, and has no
    // device class for them nor for a share.
    {"fan", "", "rpm"},
    {"usage", "", unitSymbol("usage")},
}};

// The longest readable part of an id: a reading's is its sensor's slug (up
// to 12 bytes), its label's (24) and its type's (12); a hash of eight hex
// digits follows it.
inline constexpr std::size_t slugLength = 50;
inline constexpr std::size_t nodeLength = 64;

// The text in lower case with every run of bytes other than [a-z0-9_-]
// made one '_', cut to `limit` bytes.
std::string slug(std::string_view text, std::size_t limit);

// A node name for topics: the slug of the name, or "sensor-watch" for a
// name that has nothing left.
std::string nodeName(std::string_view name);

// A discovery prefix is taken as given unless it is empty or holds bytes that
// a topic must not ('+', '#', NUL) or empty levels.
bool validPrefix(std::string_view prefix);

// One reading of a snapshot with the ids it is published under. Ids are
// derived from what identifies a reading, never from its place, so that they
// stay the same across restarts and whatever other readings come and go: the
// sensor's name, and the label, type and occurrence of that pair within the
// sensor. Each is a readable slug and a hash of the raw bytes, so that names
// that differ only outside the slug do not collide.
struct IdentifiedReading {
    std::string id;
    std::string label;
    std::string type;
    std::string value;
};

struct IdentifiedSensor {
    std::string id;
    std::string name;
    std::vector<IdentifiedReading> readings;
};

std::string sensorId(std::string_view name);
std::string readingId(std::string_view sensor, std::string_view label, std::string_view type,
                      std::size_t occurrence);
std::vector<IdentifiedSensor> identify(const Snapshot &snapshot);
// identify for each new snapshot: when it holds the same readings in the
// same places as `sensors`, as all do but those where readings come or go,
// the ids are kept and only the values taken.
void identifyAgain(std::vector<IdentifiedSensor> &sensors, const Snapshot &snapshot);

// What a discovery config says besides the reading.
struct Discovery {
    std::string prefix = "homeassistant";
    std::string node;
    // Seconds between state messages; entities expire after three of them.
    int everySeconds = 10;
    // Without units no reading gets a device class or a unit (--no-units).
    bool units = true;
};

std::string statusTopic(std::string_view node);
std::string bridgeTopic(std::string_view node);
std::string stateTopic(std::string_view node, std::string_view sensorId);
std::string configTopic(const Discovery &discovery, std::string_view readingId);
std::string machineConfigTopic(const Discovery &discovery);
// Subscriptions that find every retained topic of this node, for removal.
std::vector<std::string> nodeTopicFilters(const Discovery &discovery);

int expireAfter(const Discovery &discovery);

// The retained config of one reading, and of the machine's own device that
// every sensor's device is reached through, which shows whether the bridge
// publishes. Names become well-formed UTF-8 and are escaped by the JSON writer.
std::string readingConfig(const Discovery &discovery, const IdentifiedSensor &sensor,
                          const IdentifiedReading &reading);
std::string machineConfig(const Discovery &discovery);

// A published value text as a JSON value: the text itself when it is a
// finite JSON number, a finite number in another form (".5", "05") in its
// shortest form, and null for anything else (see numberOf).
std::string jsonValue(std::string_view text);

// The readings seen lately, by reading id, so that a state message holds a
// reading that missed the last snapshot and nothing flaps; one that has not
// been seen for the expiry time is left out and shows as unknown.
struct RememberedReading {
    std::string sensorId;
    std::string value;  // as jsonValue
    double seenAt = 0;  // steady seconds
};
using Remembered = std::map<std::string, RememberedReading>;

void remember(Remembered &remembered, const std::vector<IdentifiedSensor> &sensors, double now);

// One retained state message per sensor with a reading seen at most
// `keepSeconds` ago, as (topic, payload); forgets the older readings.
std::vector<std::pair<std::string, std::string>> stateMessages(Remembered &remembered, std::string_view node,
                                                               double now, double keepSeconds);

}  // namespace watch

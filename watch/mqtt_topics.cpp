#include "watch/mqtt_topics.h"

#include "watch/readings.h"
#include "watch/utf8.h"

#include <json/json.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <memory>
#include <sstream>

namespace watch {
namespace {

constexpr std::string_view topicRoot = "sensor-bridge/";

// FNV-1a over each field with its length in front, so that no bytes in one
// field can make two lists of fields alike; eight hex digits of it.
std::string hashOf(std::initializer_list<std::string_view> fields)
{
    std::uint64_t hash = 14695981039346656037u;
    const auto add = [&](std::string_view bytes) {
        for (const char byte : bytes)
            hash = (hash ^ static_cast<unsigned char>(byte)) * 1099511628211u;
    };
    for (const std::string_view field : fields) {
        add(std::to_string(field.size()) + ':');
        add(field);
    }
    char text[9];
    const auto folded = static_cast<std::uint32_t>(hash ^ (hash >> 32));
    const char *end = std::to_chars(text, text + sizeof text, folded, 16).ptr;
    const std::string_view digits(text, static_cast<std::size_t>(end - text));
    return std::string(8 - digits.size(), '0') + std::string(digits);
}

std::string write(const Json::Value &document)
{
    thread_local const std::unique_ptr<Json::StreamWriter> writer = [] {
        Json::StreamWriterBuilder builder;
        builder["indentation"] = "";
        builder["emitUTF8"] = true;
        return std::unique_ptr<Json::StreamWriter>(builder.newStreamWriter());
    }();
    std::ostringstream out;
    writer->write(document, &out);
    return out.str();
}

Json::Value origin()
{
    Json::Value origin(Json::objectValue);
    origin["name"] = "sensor-watch";
    origin["sw_version"] = SENSOR_BRIDGE_VERSION;
    return origin;
}

// Whether the text is a number as JSON writes one.
bool isJsonNumber(std::string_view text)
{
    std::size_t at = 0;
    const auto digits = [&] {
        const std::size_t start = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9')
            ++at;
        return at - start;
    };
    if (at < text.size() && text[at] == '-')
        ++at;
    if (at < text.size() && text[at] == '0')
        ++at;
    else if (digits() == 0)
        return false;
    if (at < text.size() && text[at] == '.') {
        ++at;
        if (digits() == 0)
            return false;
    }
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        if (at < text.size() && (text[at] == '+' || text[at] == '-'))
            ++at;
        if (digits() == 0)
            return false;
    }
    return at == text.size();
}

}  // namespace

std::string slug(std::string_view text, std::size_t limit)
{
    std::string out;
    for (const char byte : text) {
        const char lower = byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte - 'A' + 'a') : byte;
        const bool kept =
            (lower >= 'a' && lower <= 'z') || (lower >= '0' && lower <= '9') || lower == '-' || lower == '_';
        if (kept)
            out += lower;
        else if (!out.ends_with('_'))
            out += '_';
        if (out.size() >= limit)
            break;
    }
    out.resize(std::min(out.size(), limit));
    return out;
}

std::string nodeName(std::string_view name)
{
    std::string node = slug(name, nodeLength);
    return node.find_first_not_of('_') == std::string::npos ? "sensor-watch" : node;
}

bool validPrefix(std::string_view prefix)
{
    return !prefix.empty() && prefix.find_first_of(std::string_view("+#\0", 3)) == std::string_view::npos &&
           !prefix.starts_with('/') && !prefix.ends_with('/') && prefix.find("//") == std::string_view::npos;
}

std::string sensorId(std::string_view name)
{
    return slug(name, 24) + '_' + hashOf({name});
}

std::string readingId(std::string_view sensor, std::string_view label, std::string_view type,
                      std::size_t occurrence)
{
    const std::string readable = slug(sensor, 12) + '_' + slug(label, 24) + '_' + slug(type, 12);
    return readable + '_' + hashOf({sensor, label, type, std::to_string(occurrence)});
}

std::vector<IdentifiedSensor> identify(const Snapshot &snapshot)
{
    std::vector<IdentifiedSensor> sensors;
    sensors.reserve(snapshot.sensors.size());
    for (const Sensor &sensor : snapshot.sensors) {
        IdentifiedSensor &identified = sensors.emplace_back();
        identified.id = sensorId(sensor.name);
        identified.name = sensor.name;
        std::map<std::pair<std::string_view, std::string_view>, std::size_t> seen;
        for (const Reading &reading : sensor.readings) {
            const std::size_t occurrence = seen[{reading.label, reading.type}]++;
            identified.readings.push_back({readingId(sensor.name, reading.label, reading.type, occurrence),
                                           reading.label, reading.type, reading.value});
        }
    }
    return sensors;
}

void identifyAgain(std::vector<IdentifiedSensor> &sensors, const Snapshot &snapshot)
{
    const auto same = [&] {
        if (sensors.size() != snapshot.sensors.size())
            return false;
        for (std::size_t s = 0; s < sensors.size(); ++s) {
            const std::vector<IdentifiedReading> &known = sensors[s].readings;
            const std::vector<Reading> &now = snapshot.sensors[s].readings;
            if (sensors[s].name != snapshot.sensors[s].name || known.size() != now.size())
                return false;
            for (std::size_t r = 0; r < known.size(); ++r)
                if (known[r].label != now[r].label || known[r].type != now[r].type)
                    return false;
        }
        return true;
    };
    if (!same()) {
        sensors = identify(snapshot);
        return;
    }
    for (std::size_t s = 0; s < sensors.size(); ++s)
        for (std::size_t r = 0; r < sensors[s].readings.size(); ++r)
            sensors[s].readings[r].value = snapshot.sensors[s].readings[r].value;
}

std::string statusTopic(std::string_view node)
{
    return std::string(topicRoot) + std::string(node) + "/status";
}

std::string bridgeTopic(std::string_view node)
{
    return std::string(topicRoot) + std::string(node) + "/bridge";
}

std::string stateTopic(std::string_view node, std::string_view sensorId)
{
    return std::string(topicRoot) + std::string(node) + '/' + std::string(sensorId) + "/state";
}

std::string configTopic(const Discovery &discovery, std::string_view readingId)
{
    return discovery.prefix + "/sensor/" + discovery.node + '/' + std::string(readingId) + "/config";
}

std::string machineConfigTopic(const Discovery &discovery)
{
    return discovery.prefix + "/binary_sensor/" + discovery.node + "/bridge/config";
}

std::vector<std::string> nodeTopicFilters(const Discovery &discovery)
{
    return {discovery.prefix + "/+/" + discovery.node + "/+/config",
            std::string(topicRoot) + discovery.node + "/#"};
}

int expireAfter(const Discovery &discovery)
{
    return 3 * discovery.everySeconds;
}

std::string readingConfig(const Discovery &discovery, const IdentifiedSensor &sensor,
                          const IdentifiedReading &reading)
{
    Json::Value config(Json::objectValue);
    // An empty label would leave the entity named after its device alone.
    config["name"] = wellFormedUtf8(reading.label.empty() ? reading.type : reading.label);
    config["unique_id"] = discovery.node + '_' + reading.id;
    config["state_topic"] = stateTopic(discovery.node, sensor.id);
    // Ids hold only [a-z0-9_-], so they need no escaping in the template.
    config["value_template"] = "{{ value_json['" + reading.id + "'] }}";
    Json::Value &availability = config["availability"] = Json::Value(Json::arrayValue);
    availability.append(Json::Value(Json::objectValue))["topic"] = statusTopic(discovery.node);
    availability.append(Json::Value(Json::objectValue))["topic"] = bridgeTopic(discovery.node);
    config["availability_mode"] = "all";
    config["state_class"] = "measurement";
    const auto known = std::ranges::find(homeAssistantClasses, reading.type, &HomeAssistantClass::type);
    if (discovery.units && known != homeAssistantClasses.end()) {
        if (!known->deviceClass.empty())
            config["device_class"] = std::string(known->deviceClass);
        config["unit_of_measurement"] = std::string(known->unit);
    }
    config["expire_after"] = expireAfter(discovery);
    Json::Value &device = config["device"] = Json::Value(Json::objectValue);
    device["identifiers"].append(discovery.node + '_' + sensor.id);
    device["name"] = sensor.name.empty() ? sensor.id : wellFormedUtf8(sensor.name);
    device["via_device"] = discovery.node;
    config["origin"] = origin();
    return write(config);
}

std::string machineConfig(const Discovery &discovery)
{
    Json::Value config(Json::objectValue);
    config["name"] = "Bridge publishing";
    config["unique_id"] = discovery.node + "_bridge";
    config["state_topic"] = bridgeTopic(discovery.node);
    config["payload_on"] = "online";
    config["payload_off"] = "offline";
    config["device_class"] = "connectivity";
    config["availability_topic"] = statusTopic(discovery.node);
    Json::Value &device = config["device"] = Json::Value(Json::objectValue);
    device["identifiers"].append(discovery.node);
    device["name"] = discovery.node;
    config["origin"] = origin();
    return write(config);
}

std::string jsonValue(std::string_view text)
{
    const double number = numberOf(text);
    if (!std::isfinite(number))
        return "null";
    if (isJsonNumber(text))
        return std::string(text);
    char buffer[32];
    const char *end = std::to_chars(buffer, buffer + sizeof buffer, number).ptr;
    return std::string(buffer, static_cast<std::size_t>(end - buffer));
}

void remember(Remembered &remembered, const std::vector<IdentifiedSensor> &sensors, double now)
{
    for (const IdentifiedSensor &sensor : sensors)
        for (const IdentifiedReading &reading : sensor.readings)
            remembered[reading.id] = {sensor.id, jsonValue(reading.value), now};
}

std::vector<std::pair<std::string, std::string>> stateMessages(Remembered &remembered, std::string_view node,
                                                               double now, double keepSeconds)
{
    std::erase_if(remembered, [&](const auto &entry) { return now - entry.second.seenAt > keepSeconds; });
    std::map<std::string_view, std::string> states;
    for (const auto &[id, reading] : remembered) {
        std::string &state = states[reading.sensorId];
        state += (state.empty() ? "{\"" : ",\"") + id + "\":" + reading.value;
    }
    std::vector<std::pair<std::string, std::string>> messages;
    for (auto &[sensor, state] : states)
        messages.emplace_back(stateTopic(node, sensor), std::move(state) + '}');
    return messages;
}

}  // namespace watch

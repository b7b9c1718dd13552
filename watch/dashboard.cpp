#include "dashboard.h"

#include "utf8.h"

#include <json/json.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>
#include <sstream>
#include <unordered_set>

namespace watch {
namespace {

// Compact, with UTF-8 left as it is (it is valid by then), and 15 significant
// digits: enough for a Unix time to the millisecond, and few enough that a
// float's shortest decimal form comes out as it is. A writer keeps the
// stream it writes to while it writes, so each thread has its own: the
// server's thread renders status and history while the watching thread
// renders snapshots.
std::string write(const Json::Value &document)
{
    thread_local const std::unique_ptr<Json::StreamWriter> writer = [] {
        Json::StreamWriterBuilder builder;
        builder["indentation"] = "";
        builder["emitUTF8"] = true;
        builder["precision"] = 15;
        return std::unique_ptr<Json::StreamWriter>(builder.newStreamWriter());
    }();
    std::ostringstream out;
    writer->write(document, &out);
    return out.str();
}

Json::Value text(std::string_view bytes)
{
    return wellFormedUtf8(bytes);
}

Json::Value number(std::optional<double> value)
{
    return value ? Json::Value(*value) : Json::Value();
}

// A float as the double of its shortest decimal form, so that 41.3f is
// written as 41.3 rather than 41.2999992370605.
Json::Value sample(float value)
{
    if (!std::isfinite(value))
        return {};
    char buffer[32];
    const char *end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    double widened = 0;
    std::from_chars(buffer, end, widened);
    return widened;
}

double milliseconds(double unixTime)
{
    return std::round(unixTime * 1000) / 1000;
}

}  // namespace

std::string renderSnapshotJson(const Snapshot &snapshot, const History &history, double unixTime, bool old)
{
    Json::Value document(Json::objectValue);
    document["sequence"] = Json::UInt64(history.sequence);
    document["time"] = milliseconds(unixTime);
    document["old"] = old;
    Json::Value &sensors = document["sensors"] = Json::Value(Json::arrayValue);
    for (const Sensor &sensor : snapshot.sensors) {
        Json::Value &entry = sensors.append(Json::Value(Json::objectValue));
        entry["name"] = text(sensor.name);
        entry["noReading"] = sensor.noReading;
        entry["readings"] = Json::Value(Json::arrayValue);
    }
    forEachReading(snapshot, [&](std::size_t sensor, const Reading &reading, const std::string &key) {
        Json::Value entry(Json::objectValue);
        const auto found = history.readings.find(key);
        const bool known = found != history.readings.end();
        const ReadingStatistics statistics = known ? found->second.statistics : ReadingStatistics{};
        const bool any = statistics.count > 0;
        entry["id"] = Json::UInt64(known ? found->second.id : 0);
        entry["label"] = text(reading.label);
        entry["type"] = text(reading.type);
        entry["value"] = text(reading.value);
        entry["number"] = number(finiteValue(reading.value));
        entry["min"] = number(any ? std::optional(statistics.minimum) : std::nullopt);
        entry["max"] = number(any ? std::optional(statistics.maximum) : std::nullopt);
        entry["average"] = number(any ? std::optional(statistics.sum / static_cast<double>(statistics.count))
                                      : std::nullopt);
        sensors[static_cast<Json::ArrayIndex>(sensor)]["readings"].append(std::move(entry));
    });
    return write(document);
}

std::string renderStatusJson(std::uint64_t sequence, const std::optional<SnapshotAge> &age)
{
    Json::Value document(Json::objectValue);
    document["sequence"] = Json::UInt64(sequence);
    document["fresh"] = isFresh(age);
    if (age) {
        document["age"] = std::round(age->seconds * 10) / 10;
        document["old"] = age->old;
    }
    return write(document);
}

HistoryExtract extractHistory(const History &history, std::span<const std::uint64_t> ids, std::size_t points)
{
    const std::unordered_set<std::uint64_t> wanted(ids.begin(), ids.end());
    std::vector<const ReadingHistory *> chosen;
    for (const auto &[key, reading] : history.readings)
        if (wanted.empty() || wanted.contains(reading.id))
            chosen.push_back(&reading);
    points = std::min(points, extractLimit / std::max<std::size_t>(chosen.size(), 1));
    HistoryExtract extract{history.sequence, latest(history.times, points), {}};
    for (const ReadingHistory *reading : chosen)
        extract.readings.emplace_back(reading->id, latest(reading->values, points));
    std::ranges::sort(extract.readings, {}, &std::pair<std::uint64_t, std::vector<float>>::first);
    return extract;
}

std::string renderHistoryJson(const HistoryExtract &extract)
{
    Json::Value document(Json::objectValue);
    document["sequence"] = Json::UInt64(extract.sequence);
    Json::Value &times = document["times"] = Json::Value(Json::arrayValue);
    for (const double time : extract.times)
        times.append(milliseconds(time));
    Json::Value &readings = document["readings"] = Json::Value(Json::arrayValue);
    for (const auto &[id, values] : extract.readings) {
        Json::Value &entry = readings.append(Json::Value(Json::objectValue));
        entry["id"] = Json::UInt64(id);
        Json::Value &list = entry["values"] = Json::Value(Json::arrayValue);
        for (const float value : values)
            list.append(sample(value));
    }
    return write(document);
}

std::string renderErrorJson(std::string_view message)
{
    Json::Value document(Json::objectValue);
    document["error"] = text(message);
    return write(document);
}

}  // namespace watch

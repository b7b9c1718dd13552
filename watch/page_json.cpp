#include "watch/page_json.h"

#include "watch/units.h"
#include "watch/utf8.h"

#include <json/json.h>

#include <charconv>
#include <cmath>
#include <memory>
#include <sstream>

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

std::string renderSnapshotJson(const Readings &readings, bool withUnits)
{
    Json::Value document(Json::objectValue);
    document["sequence"] = Json::UInt64(readings.sequence);
    document["time"] = milliseconds(readings.recordedAt.unixTime);
    document["old"] = readings.old;
    if (withUnits) {
        Json::Value &symbols = document["units"] = Json::Value(Json::objectValue);
        for (const Unit &unit : units)
            symbols[std::string(unit.type)] = std::string(unit.symbol);
    }
    Json::Value &sensors = document["sensors"] = Json::Value(Json::arrayValue);
    for (const Sensor &sensor : readings.snapshot.sensors) {
        Json::Value &entry = sensors.append(Json::Value(Json::objectValue));
        entry["name"] = wellFormedUtf8(sensor.name);
        entry["noReading"] = sensor.noReading;
        entry["readings"] = Json::Value(Json::arrayValue);
    }
    for (const TrackedReading &tracked : readings.readings) {
        const ReadingStatistics &statistics = tracked.statistics;
        const bool any = statistics.count > 0;
        Json::Value entry(Json::objectValue);
        entry["id"] = Json::UInt64(tracked.id);
        entry["label"] = tracked.served.label;
        entry["type"] = tracked.served.type;
        entry["value"] = wellFormedUtf8(readingOf(readings, tracked).value);
        entry["number"] =
            number(std::isfinite(tracked.number) ? std::optional(tracked.number) : std::nullopt);
        entry["min"] = number(any ? std::optional(statistics.minimum) : std::nullopt);
        entry["max"] = number(any ? std::optional(statistics.maximum) : std::nullopt);
        entry["average"] = number(average(statistics));
        if (withUnits) {
            const std::string_view type = readingOf(readings, tracked).type;
            const auto shown = [&](std::optional<double> value) {
                return value ? Json::Value(shownNumber(type, *value)) : Json::Value();
            };
            Json::Value &texts = entry["shown"] = Json::Value(Json::objectValue);
            texts["value"] = wellFormedUtf8(shownValue(type, readingOf(readings, tracked).value));
            texts["min"] = shown(any ? std::optional(statistics.minimum) : std::nullopt);
            texts["max"] = shown(any ? std::optional(statistics.maximum) : std::nullopt);
            texts["average"] = shown(average(statistics));
        }
        sensors[static_cast<Json::ArrayIndex>(tracked.sensor)]["readings"].append(std::move(entry));
    }
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
    document["error"] = wellFormedUtf8(message);
    return write(document);
}

}  // namespace watch

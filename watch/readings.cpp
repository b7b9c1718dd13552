#include "watch/readings.h"

#include "watch/utf8.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

namespace watch {
namespace {

// The parts, each behind its length, so that no bytes in one part can make
// two keys alike.
std::string keyOf(std::initializer_list<std::string_view> parts)
{
    std::string key;
    for (const std::string_view part : parts)
        key += std::to_string(part.size()) + ':' + std::string(part);
    return key;
}

void addValue(ReadingStatistics &statistics, double value)
{
    statistics.minimum = statistics.count == 0 ? value : std::min(statistics.minimum, value);
    statistics.maximum = statistics.count == 0 ? value : std::max(statistics.maximum, value);
    statistics.sum += value;
    ++statistics.count;
}

template <typename Value> void push(Ring<Value> &ring, Value value)
{
    if (ring.values.size() < historyLength) {
        // The whole ring at once, so that it never holds spare capacity
        // beyond its length.
        ring.values.reserve(historyLength);
        ring.values.push_back(value);
        return;
    }
    ring.values[ring.start] = value;
    ring.start = (ring.start + 1) % historyLength;
}

// The last `count` entries of a ring (all when it holds fewer), oldest first.
template <typename Value> std::vector<Value> latest(const Ring<Value> &ring, std::size_t count)
{
    const std::size_t size = ring.values.size();
    const std::size_t taken = std::min(count, size);
    std::vector<Value> out;
    out.reserve(taken);
    for (std::size_t i = size - taken; i < size; ++i)
        out.push_back(ring.values[(ring.start + i) % size]);
    return out;
}

}  // namespace

// from_chars reads the "%f" form and every non-finite form the bridge writes
// ("-nan(ind)" and "nan(snan)" included).
double numberOf(std::string_view text)
{
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size())
        return std::numeric_limits<double>::quiet_NaN();
    return value;
}

Moment momentNow()
{
    const auto seconds = [](auto time) {
        return std::chrono::duration<double>(time.time_since_epoch()).count();
    };
    return {seconds(std::chrono::system_clock::now()), seconds(std::chrono::steady_clock::now())};
}

void recordSnapshot(Readings &readings, Snapshot snapshot, Moment at, bool old)
{
    std::unordered_map<std::string_view, TrackedReading *> previous;
    for (TrackedReading &tracked : readings.readings)
        previous.emplace(tracked.key, &tracked);
    std::vector<TrackedReading> current;
    std::unordered_map<std::string, std::size_t> keysSeen;
    std::unordered_map<std::string, std::size_t> namesSeen;
    for (std::size_t sensorIndex = 0; sensorIndex < snapshot.sensors.size(); ++sensorIndex) {
        const Sensor &sensor = snapshot.sensors[sensorIndex];
        const std::string sensorName = wellFormedUtf8(sensor.name);
        for (std::size_t readingIndex = 0; readingIndex < sensor.readings.size(); ++readingIndex) {
            const Reading &reading = sensor.readings[readingIndex];
            TrackedReading &tracked = current.emplace_back();
            tracked.sensor = sensorIndex;
            tracked.reading = readingIndex;
            tracked.key = keyOf({sensor.name, reading.label, reading.type});
            tracked.key += '#' + std::to_string(keysSeen[tracked.key]++);
            ServedName &served = tracked.served;
            served = {sensorName, wellFormedUtf8(reading.label), wellFormedUtf8(reading.type)};
            served.index = namesSeen[keyOf({served.sensor, served.label, served.type})]++;
            tracked.number = numberOf(reading.value);
            if (const auto found = previous.find(tracked.key); found != previous.end()) {
                tracked.id = found->second->id;
                tracked.statistics = found->second->statistics;
                tracked.values = std::move(found->second->values);
            } else {
                tracked.id = readings.nextId++;
            }
            const bool finite = std::isfinite(tracked.number);
            if (finite)
                addValue(tracked.statistics, tracked.number);
            if (readings.keepHistory)
                push(tracked.values,
                     finite ? static_cast<float>(tracked.number) : std::numeric_limits<float>::quiet_NaN());
        }
    }
    ++readings.sequence;
    if (readings.keepHistory)
        push(readings.times, at.unixTime);
    readings.readings = std::move(current);
    readings.snapshot = std::move(snapshot);
    readings.recordedAt = at;
    readings.old = old;
}

std::optional<double> average(const ReadingStatistics &statistics)
{
    if (statistics.count == 0)
        return std::nullopt;
    return statistics.sum / static_cast<double>(statistics.count);
}

HistoryExtract extractHistory(const Readings &readings, std::span<const std::uint64_t> ids,
                              std::size_t points)
{
    const std::unordered_set<std::uint64_t> wanted(ids.begin(), ids.end());
    std::vector<const TrackedReading *> chosen;
    for (const TrackedReading &reading : readings.readings)
        if (wanted.empty() || wanted.contains(reading.id))
            chosen.push_back(&reading);
    points = std::min(points, extractLimit / std::max<std::size_t>(chosen.size(), 1));
    HistoryExtract extract{readings.sequence, latest(readings.times, points), {}};
    for (const TrackedReading *reading : chosen)
        extract.readings.emplace_back(reading->id, latest(reading->values, points));
    std::ranges::sort(extract.readings, {}, &std::pair<std::uint64_t, std::vector<float>>::first);
    return extract;
}

std::optional<SnapshotAge> snapshotAge(const Readings &readings, Moment now)
{
    if (readings.sequence == 0)
        return std::nullopt;
    return SnapshotAge{readings.recordedAt.unixTime, now.steadySeconds - readings.recordedAt.steadySeconds,
                       readings.old};
}

bool isFresh(const std::optional<SnapshotAge> &age)
{
    return age && !age->old && age->seconds <= freshSeconds;
}

}  // namespace watch

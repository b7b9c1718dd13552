#include "history.h"

#include <limits>
#include <optional>
#include <utility>

namespace watch {
namespace {

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

}  // namespace

void recordSnapshot(History &history, const Snapshot &snapshot, double unixTime)
{
    ++history.sequence;
    push(history.times, unixTime);
    std::map<std::string, ReadingHistory> updated;
    forEachReading(snapshot, [&](std::size_t, const Reading &reading, const std::string &key) {
        ReadingHistory &entry = updated[key];
        if (const auto found = history.readings.find(key); found != history.readings.end())
            entry = std::move(found->second);
        else
            entry.id = history.nextId++;
        const std::optional<double> value = finiteValue(reading.value);
        if (value)
            addValue(entry.statistics, *value);
        push(entry.values, value ? static_cast<float>(*value) : std::numeric_limits<float>::quiet_NaN());
    });
    history.readings = std::move(updated);
}

}  // namespace watch

// What sensor-watch spends on each snapshot at the large scenario (64
// sensors, 2000 readings), over the block the bridge writes for it: reading
// the block, recording it and rendering what --serve keeps (the metrics and
// the page's snapshot); rendering and deflating the metrics alone; taking it
// into the full-screen view and drawing a screen of 50 by 200; what --mqtt
// does with it; and the history answer that a page asks for when it opens
// (120 points) or for a chart (1000), over a full history. Counters: the milliseconds of each part,
// sizes in bytes, and the heap an answer takes at its peak.
//
//   watch_benchmark [--benchmark_filter=REGEX] [--benchmark_repetitions=N]
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "publish/bench/heap_meter.h"
#include "publish/snapshot_block.h"
#include "publish/tests/fake_library.h"
#include "tools/simsensors/scenario.h"
#include "watch/block_reader.h"
#include "watch/gzip.h"
#include "watch/metrics.h"
#include "watch/mqtt_topics.h"
#include "watch/screen_layout.h"
#include "watch/serving.h"

namespace {

using namespace watch;
using Clock = std::chrono::steady_clock;

// The block the bridge writes for the generated scenario after `polls` polls.
std::vector<std::byte> largeBlock(std::uint64_t polls)
{
    simsensors::Scenario scenario;
    simsensors::generate(scenario, 64, 2000);
    std::vector<FakeSensor> sensors;
    for (std::int32_t sensor = 0; sensor < simsensors::sensorCount(scenario); ++sensor) {
        FakeSensor &fakeSensor = sensors.emplace_back();
        fakeSensor.name = scenario.sensors[static_cast<std::size_t>(sensor)].name;
        for (std::int32_t index = 0; index < readingsPerType; ++index)
            for (std::int32_t type = firstReadingType; type <= lastReadingType; ++type)
                if (const simsensors::Reading *found = simsensors::findReading(scenario, type, sensor, index))
                    fakeSensor.readings.push_back({type, index, found->label,
                                                   simsensors::valueAt(*found, sensor, type, index, polls),
                                                   found->valid});
    }
    useSensors(std::move(sensors));
    std::vector<std::byte> block(watch::blockSize);
    refreshBlock(fakeLibrary(), block, fakeYield);
    return block;
}

const std::vector<std::byte> &blockAt(std::uint64_t polls)
{
    static const std::vector<std::byte> blocks[] = {largeBlock(1), largeBlock(2)};
    return blocks[polls % 2];
}

double milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

void snapshot(benchmark::State &state)
{
    Serving serving{.page = ""};
    std::uint64_t polls = 0;
    Clock::duration reading{};
    Clock::duration publishing{};
    for (auto _ : state) {
        const auto start = Clock::now();
        ReadResult result = readBlock(blockAt(++polls));
        const auto middle = Clock::now();
        publish(serving, std::move(result.snapshot), false, momentNow());
        const auto end = Clock::now();
        reading += middle - start;
        publishing += end - middle;
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["read_ms"] = milliseconds(reading) / iterations;
    state.counters["publish_ms"] = milliseconds(publishing) / iterations;
    state.counters["readings"] = static_cast<double>(serving.readings.readings.size());
}

// A server whose history is full: the recording alone fills it quickly.
Serving &fullServing()
{
    static Serving serving{.page = ""};
    if (serving.readings.sequence == 0) {
        for (std::uint64_t polls = 1; polls < historyLength; ++polls)
            recordSnapshot(serving.readings, readBlock(blockAt(polls)).snapshot,
                           {1.7e9 + static_cast<double>(polls), static_cast<double>(polls)}, false);
        publish(serving, readBlock(blockAt(0)).snapshot, false, momentNow());
    }
    return serving;
}

void history(benchmark::State &state)
{
    Serving &serving = fullServing();
    const Request request{"GET", "/api/history", {{"points", std::to_string(state.range(0))}}, {}};
    std::size_t bytes = 0;
    for (auto _ : state) {
        const Response response = answer(serving, request, momentNow());
        bytes = response.body.size();
        benchmark::DoNotOptimize(response.body.data());
    }
    startHeapMeter();
    benchmark::DoNotOptimize(answer(serving, request, momentNow()).body.data());
    const HeapFigures heap = stopHeapMeter();
    state.counters["answer_KiB"] = static_cast<double>(bytes) / 1024;
    state.counters["peak_heap_KiB"] = static_cast<double>(heap.peakBytes) / 1024;
    state.counters["allocations"] = static_cast<double>(heap.allocations);
}

// Rendering the readings' text alone, and rendering and deflating it for gzip
// scrapes, as each snapshot does.
void metrics(benchmark::State &state, bool deflate)
{
    Readings readings;
    recordSnapshot(readings, readBlock(blockAt(1)).snapshot, momentNow(), false);
    std::string text;
    std::size_t compressed = 0;
    for (auto _ : state) {
        text = renderReadings(readings, true);
        if (deflate)
            compressed = deflatePart(text, true)->bytes.size();
    }
    state.counters["plain_kB"] = static_cast<double>(text.size()) / 1000;
    state.counters["ratio"] = static_cast<double>(compressed) / static_cast<double>(text.size());
}

// The full-screen view: taking each new snapshot into its rows, laying out a
// screen and drawing it. Recording into the model is left out; the plain
// table pays it too.
void view(benchmark::State &state)
{
    Readings readings;
    ViewState view;
    const Snapshot snapshots[2] = {readBlock(blockAt(1)).snapshot, readBlock(blockAt(2)).snapshot};
    std::size_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        recordSnapshot(readings, snapshots[readings.sequence % 2], momentNow(), false);
        state.ResumeTiming();
        takeSnapshot(view, readings, true);
        bytes = drawScreen(layoutScreen(view, readings, momentNow(), "12:00:05", {50, 200})).size();
    }
    state.counters["readings"] = static_cast<double>(view.rows.size());
    state.counters["frame_bytes"] = static_cast<double>(bytes);
}

// What --mqtt does with each new snapshot: telling its readings' ids, and
// the state messages of one interval (one per sensor).
void mqtt(benchmark::State &state)
{
    const Snapshot snapshots[2] = {readBlock(blockAt(1)).snapshot, readBlock(blockAt(2)).snapshot};
    std::vector<IdentifiedSensor> sensors;
    Remembered remembered;
    std::size_t bytes = 0;
    double now = 0;
    for (auto _ : state) {
        identifyAgain(sensors, snapshots[static_cast<std::size_t>(now) % 2]);
        remember(remembered, sensors, ++now);
        bytes = 0;
        for (const auto &[topic, payload] : stateMessages(remembered, "node", now, 30))
            bytes += topic.size() + payload.size();
    }
    state.counters["state_bytes"] = static_cast<double>(bytes);
}

BENCHMARK(snapshot)->Unit(benchmark::kMillisecond);
BENCHMARK(history)->Arg(120)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(metrics, render, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(metrics, render_and_deflate, true)->Unit(benchmark::kMillisecond);
BENCHMARK(view)->Unit(benchmark::kMillisecond);
BENCHMARK(mqtt)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

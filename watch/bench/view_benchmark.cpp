// What the full-screen view costs for each new snapshot of 64 sensors and
// 2000 readings: taking the snapshot into the view's rows, laying out a
// screen of 50 by 200 and drawing it. Recording the snapshot into the model
// is left out; the plain table pays it too.
//
//   view_benchmark [--benchmark_repetitions=N]
#include "readings.h"
#include "screen_layout.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

using namespace watch;

// 64 sensors of 31 or 32 readings, with names as long as real ones, and
// values that change from snapshot to snapshot.
Snapshot large(int step)
{
    static constexpr const char *types[] = {"temperature", "voltage", "fan", "clock", "usage", "power"};
    Snapshot snapshot;
    for (int sensor = 0, made = 0; sensor < 64; ++sensor) {
        Sensor &added = snapshot.sensors.emplace_back();
        added.name = "CPU [#" + std::to_string(sensor) + "]: AMD Ryzen 9 7950X: Enhanced";
        for (int reading = 0; reading < (sensor < 16 ? 32 : 31) && made < 2000; ++reading, ++made)
            added.readings.push_back({"Core " + std::to_string(reading) + " (CCD1) Effective Clock",
                                      types[reading % 6],
                                      std::to_string(40 + (made + step) % 17) + ".250000"});
    }
    return snapshot;
}

void viewPerSnapshot(benchmark::State &state)
{
    Readings readings;
    ViewState view;
    const Snapshot snapshots[2] = {large(0), large(1)};
    std::size_t bytes = 0;
    int step = 0;
    for (auto _ : state) {
        state.PauseTiming();
        recordSnapshot(readings, snapshots[++step % 2], momentNow(), false);
        state.ResumeTiming();
        takeSnapshot(view, readings, true);
        const std::string frame =
            drawScreen(layoutScreen(view, readings, momentNow(), "12:00:05", {50, 200}));
        bytes = frame.size();
        benchmark::DoNotOptimize(frame.data());
    }
    state.counters["readings"] = static_cast<double>(view.rows.size());
    state.counters["frame_bytes"] = static_cast<double>(bytes);
}

BENCHMARK(viewPerSnapshot)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

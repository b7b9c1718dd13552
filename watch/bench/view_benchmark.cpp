// What the full-screen view costs for each new snapshot of 64 sensors and
// 2000 readings: taking the snapshot into the view's rows, laying out a
// screen of 50 rows and 200 columns and drawing it. Recording the snapshot
// into the model is left out; the plain table pays it too.
#include "watch/readings.h"
#include "watch/screen_layout.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

using namespace watch;

// Names as long as real ones, and values that change with the step.
Snapshot large(int step)
{
    static constexpr const char *types[] = {"temperature", "voltage", "fan", "clock", "usage", "power"};
    Snapshot snapshot;
    for (int made = 0; made < 2000; ++made) {
        if (made % 32 == 0)
            snapshot.sensors.push_back(
                {"CPU [#" + std::to_string(made / 32) + "]: AMD Ryzen 9 7950X", false, {}});
        snapshot.sensors.back().readings.push_back({"Core " + std::to_string(made % 32) + " Effective Clock",
                                                    types[made % 6],
                                                    std::to_string(40 + (made + step) % 17)});
    }
    return snapshot;
}

void viewPerSnapshot(benchmark::State &state)
{
    Readings readings;
    ViewState view;
    const Snapshot snapshots[2] = {large(0), large(1)};
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

BENCHMARK(viewPerSnapshot)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// What the metrics cost sensor-watch per snapshot at 64 sensors and 2000
// readings, laid out as the simulated library's large scenario: rendering the
// readings' text, and deflating it for gzip scrapes. Counters: the plain
// text's size, and the ratio of compressed to plain bytes.
//
//   metrics_benchmark [--benchmark_filter=REGEX] [--benchmark_repetitions=N]
#include <array>
#include <cmath>
#include <cstdio>
#include <string>

#include <benchmark/benchmark.h>

#include "watch/gzip.h"
#include "watch/metrics.h"

namespace {

const watch::Readings &largeReadings()
{
    static const watch::Readings readings = [] {
        constexpr std::array<const char *, 8> types{"temperature", "voltage", "fan",   "current",
                                                    "power",       "clock",   "usage", "other"};
        constexpr std::array<double, 8> typical{45, 1.2, 1200, 10, 60, 3600, 40, 1000};
        watch::Snapshot snapshot;
        for (int s = 0; s < 64; ++s)
            snapshot.sensors.push_back({"Generated Sensor #" + std::to_string(s), false, {}});
        for (int i = 0; i < 2000; ++i) {
            const int nth = i / 64;
            char value[64];
            std::snprintf(value, sizeof value, "%f", typical[nth % 8] * (1 + 0.05 * std::sin(i)));
            snapshot.sensors[i % 64].readings.push_back(
                {"Generated " + std::string(types[nth % 8]) + " " + std::to_string(nth / 8), types[nth % 8],
                 value});
        }
        watch::Readings recorded;
        watch::recordSnapshot(recorded, std::move(snapshot), {}, false);
        return recorded;
    }();
    return readings;
}

// Rendering alone, and rendering and deflating as each snapshot does.
void metrics(benchmark::State &state, bool deflate)
{
    std::string text;
    std::size_t compressed = 0;
    for (auto _ : state) {
        text = watch::renderReadings(largeReadings(), true);
        if (deflate)
            compressed = watch::deflatePart(text, true)->bytes.size();
    }
    state.counters["plain_kB"] = static_cast<double>(text.size()) / 1000;
    state.counters["ratio"] = static_cast<double>(compressed) / static_cast<double>(text.size());
}

BENCHMARK_CAPTURE(metrics, render, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(metrics, render_and_deflate, true)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

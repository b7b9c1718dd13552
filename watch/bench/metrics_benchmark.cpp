// What serving the metrics costs sensor-watch at 64 sensors and 2000
// readings, the simulated library's large scenario: per snapshot, rendering
// the readings' text and deflating it once; per scrape, the lines that change
// with each scrape and joining the gzip member. The deflate's counters: the
// plain text's size and the `ratio` of compressed to plain bytes.
//
//   metrics_benchmark [--benchmark_filter=REGEX] [--benchmark_repetitions=N]
#include <cstdio>
#include <string>

#include <benchmark/benchmark.h>

#include "platform/process_stats.h"
#include "tools/simsensors/scenario.h"
#include "watch/gzip.h"
#include "watch/metrics.h"

namespace {

// The large scenario's readings as sensor-watch records them, with values
// that are not the same everywhere, as the block's would be.
const watch::Readings &largeReadings()
{
    static const watch::Readings readings = [] {
        simsensors::Scenario scenario;
        simsensors::generate(scenario, 64, 2000);
        watch::Snapshot snapshot;
        for (std::size_t s = 0; s < scenario.sensors.size(); ++s) {
            const simsensors::Sensor &sensor = scenario.sensors[s];
            watch::Sensor &into = snapshot.sensors.emplace_back(watch::Sensor{sensor.name, false, {}});
            for (std::size_t type = 0; type < sensor.readings.size(); ++type)
                for (std::size_t index = 0; index < sensor.readings[type].size(); ++index)
                    if (const auto &reading = sensor.readings[type][index]) {
                        char value[400];
                        std::snprintf(value, sizeof value, "%f",
                                      simsensors::valueAt(*reading, static_cast<std::int32_t>(s),
                                                          static_cast<std::int32_t>(type + 1),
                                                          static_cast<std::int32_t>(index), 7));
                        into.readings.push_back(
                            {reading->label, std::string(simsensors::typeNames[type]), value});
                    }
        }
        watch::Readings recorded;
        watch::recordSnapshot(recorded, std::move(snapshot), {}, false);
        return recorded;
    }();
    return readings;
}

void renderReadings(benchmark::State &state)
{
    const watch::Readings &readings = largeReadings();
    for (auto _ : state)
        benchmark::DoNotOptimize(watch::renderReadings(readings, true));
}

void deflateReadings(benchmark::State &state)
{
    const std::string text = watch::renderReadings(largeReadings(), true);
    std::size_t compressed = 0;
    for (auto _ : state)
        compressed = watch::deflatePart(text, true)->bytes.size();
    state.counters["ratio"] = static_cast<double>(compressed) / static_cast<double>(text.size());
    state.counters["plain_kB"] = static_cast<double>(text.size()) / 1000;
}

// What one gzip scrape adds to the snapshot's share: its own lines, the
// process's figures, and the member around the deflated readings.
void gzipScrape(benchmark::State &state)
{
    const std::optional<watch::DeflatedPart> readings =
        watch::deflatePart(watch::renderReadings(largeReadings(), true), true);
    for (auto _ : state) {
        const std::string head = watch::renderBuildInfo() +
                                 watch::renderFreshness(watch::SnapshotAge{1700000000, 1}) +
                                 watch::renderProcess(platform::processStats());
        const std::optional<watch::DeflatedPart> part = watch::deflatePart(head, false);
        const watch::DeflatedPart *parts[] = {&*part, &*readings};
        benchmark::DoNotOptimize(watch::gzipMember(parts));
    }
}

BENCHMARK(renderReadings)->Unit(benchmark::kMillisecond);
BENCHMARK(deflateReadings)->Unit(benchmark::kMillisecond);
BENCHMARK(gzipScrape)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

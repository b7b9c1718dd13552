// One refresh against a sensor library whose entries cost nothing, beside the
// floor under it: the same entry calls and yields and one write of the whole
// block, which every refresh must make whatever it does with the readings.
// What lies between the two is the program's own work: collecting the valid
// readings, building the document and writing the text. Each case reports,
// as counters, the refresh and the floor in milliseconds, their ratio, the
// program's own cost per valid reading, the heap one refresh takes, and the
// size of what it leaves in the block before the zero fill.
//
//   refresh_benchmark [--benchmark_filter=REGEX] [--benchmark_repetitions=N]
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform/platform.h"
#include "publish/bench/heap_meter.h"
#include "publish/snapshot_block.h"
#include "sensors/sensor_library.h"
#include "tools/simsensors/scenario.h"

namespace {

constexpr std::size_t typesPerIndex = lastReadingType - firstReadingType + 1;

// A scenario laid out so that every entry answers with one lookup and at most
// one copy, as if the library had the readings ready.
struct PreparedScenario {
    std::vector<std::string> names;
    std::vector<ReadingRecord> records;
    // For each sensor, reading index and type, the record handed out, or -1.
    std::vector<std::int32_t> slots;
    std::size_t validReadings = 0;
};

const PreparedScenario *current = nullptr;

std::size_t slotOf(std::int32_t type, std::int32_t sensor, std::int32_t reading)
{
    auto index = static_cast<std::size_t>(sensor) * readingsPerType + static_cast<std::size_t>(reading);
    return index * typesPerIndex + static_cast<std::size_t>(type - firstReadingType);
}

std::int32_t init(std::int32_t)
{
    return 0;
}

void spare() {}

std::int32_t count()
{
    return static_cast<std::int32_t>(current->names.size());
}

std::int32_t poll()
{
    return 0;
}

std::int32_t select(std::int32_t)
{
    return 0;
}

std::int32_t name(std::int32_t sensor, char *buffer, std::int32_t size)
{
    const std::string &text = current->names[static_cast<std::size_t>(sensor)];
    std::memcpy(buffer, text.c_str(), std::min(text.size() + 1, static_cast<std::size_t>(size)));
    return 0;
}

std::int32_t reading(std::int32_t type, std::int32_t sensor, std::int32_t index, ReadingRecord *record)
{
    std::int32_t slot = current->slots[slotOf(type, sensor, index)];
    if (slot >= 0)
        *record = current->records[static_cast<std::size_t>(slot)];
    return 0;
}

SensorLibrary costFreeLibrary{init, spare, count, poll, select, name, reading};

// The simulated library's scenario as it stands after the first poll.
PreparedScenario prepare(const simsensors::Scenario &scenario)
{
    PreparedScenario prepared;
    std::int32_t sensors = simsensors::sensorCount(scenario);
    prepared.slots.assign(static_cast<std::size_t>(sensors) * readingsPerType * typesPerIndex, -1);
    for (std::int32_t sensor = 0; sensor < sensors; ++sensor) {
        prepared.names.push_back(scenario.sensors[static_cast<std::size_t>(sensor)].name);
        for (std::int32_t index = 0; index < readingsPerType; ++index) {
            for (std::int32_t type = firstReadingType; type <= lastReadingType; ++type) {
                const simsensors::Reading *found = simsensors::findReading(scenario, type, sensor, index);
                if (found == nullptr)
                    continue;
                ReadingRecord record{};
                record.valid = found->valid ? 1 : 0;
                record.value = simsensors::valueAt(*found, sensor, type, index, 1);
                std::memcpy(record.label, found->label.data(),
                            std::min(found->label.size(), sizeof record.label));
                prepared.slots[slotOf(type, sensor, index)] =
                    static_cast<std::int32_t>(prepared.records.size());
                prepared.records.push_back(record);
                prepared.validReadings += found->valid ? 1 : 0;
            }
        }
    }
    return prepared;
}

PreparedScenario generated(std::int32_t sensors, std::int32_t readings)
{
    simsensors::Scenario scenario;
    simsensors::generate(scenario, sensors, readings);
    return prepare(scenario);
}

// Eight sensors of 1024 readings whose labels nearly fill their buffers:
// about 1.5 MB of text, which the refresh cuts at the block's end.
PreparedScenario oversized()
{
    simsensors::Scenario scenario;
    for (std::int32_t number = 0; number < 8; ++number) {
        simsensors::Sensor &sensor = scenario.sensors.emplace_back();
        sensor.name = "Oversized Sensor #" + std::to_string(number);
        for (std::int32_t index = 0; index < 128; ++index) {
            for (std::int32_t type = firstReadingType; type <= lastReadingType; ++type) {
                std::string label(sizeof ReadingRecord::label - 1, static_cast<char>('a' + type));
                simsensors::addReading(sensor, type, index, {label, 1000.0 + index, 0, true});
            }
        }
    }
    return prepare(scenario);
}

const PreparedScenario &smallScenario()
{
    static const PreparedScenario prepared = generated(10, 150);
    return prepared;
}

const PreparedScenario &largeScenario()
{
    static const PreparedScenario prepared = generated(64, 2000);
    return prepared;
}

const PreparedScenario &oversizedScenario()
{
    static const PreparedScenario prepared = oversized();
    return prepared;
}

// What any refresh of the current scenario must spend: every entry call,
// made through the table as the refresh makes them, every yield, and one
// write of the whole block.
void floorPass(const SensorLibrary &library, void (*yieldProcessor)(), std::span<std::byte> block)
{
    std::array<char, nameBufferSize> nameBuffer;
    ReadingRecord record;
    library.pollEntry();
    std::int32_t sensors = library.countEntry();
    for (std::int32_t sensor = 0; sensor < sensors; ++sensor) {
        library.sensorEntry(sensor);
        library.nameEntry(sensor, nameBuffer.data(), nameBufferSize);
        for (std::int32_t index = 0; index < readingsPerType; ++index) {
            for (std::int32_t type = firstReadingType; type <= lastReadingType; ++type)
                library.readingEntry(type, sensor, index, &record);
            yieldProcessor();
        }
    }
    std::memset(block.data(), 0, block.size());
    benchmark::ClobberMemory();
}

double seconds(std::chrono::steady_clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

void refresh(benchmark::State &state, const PreparedScenario &scenario)
{
    current = &scenario;
    std::vector<std::byte> block(blockSize);
    // Read through volatile pointers, which the optimiser cannot see
    // through, so that the floor's calls stay indirect calls into the table,
    // like the refresh's own.
    const SensorLibrary *const volatile hiddenLibrary = &costFreeLibrary;
    void (*const volatile hiddenYield)() = platform::yieldProcessor;
    const SensorLibrary *library = hiddenLibrary;
    void (*yieldProcessor)() = hiddenYield;

    // The floor and the refresh take turns, so that both see the same
    // conditions; only the refresh is the case's time.
    using Clock = std::chrono::steady_clock;
    Clock::duration refreshTotal{};
    Clock::duration floorTotal{};
    for (auto _ : state) {
        auto start = Clock::now();
        floorPass(*library, yieldProcessor, block);
        auto middle = Clock::now();
        refreshBlock(*library, block, yieldProcessor);
        benchmark::ClobberMemory();
        auto end = Clock::now();
        floorTotal += middle - start;
        refreshTotal += end - middle;
        state.SetIterationTime(seconds(end - middle));
    }
    auto iterations = static_cast<double>(state.iterations());
    double refreshSeconds = seconds(refreshTotal) / iterations;
    double floorSeconds = seconds(floorTotal) / iterations;

    // The heap of one refresh in the steady state, after the timed ones.
    startHeapMeter();
    refreshBlock(*library, block, yieldProcessor);
    HeapFigures heap = stopHeapMeter();

    // What the block holds before its zero fill: the name lines and the
    // text, cut at 1 MiB.
    auto content = std::find(block.begin(), block.end(), std::byte{0}) - block.begin();

    auto readings = static_cast<double>(scenario.validReadings);
    state.counters["refresh_ms"] = refreshSeconds * 1e3;
    state.counters["floor_ms"] = floorSeconds * 1e3;
    state.counters["ratio"] = refreshSeconds / floorSeconds;
    state.counters["own_ns_per_reading"] = (refreshSeconds - floorSeconds) / readings * 1e9;
    state.counters["peak_heap_KiB"] = static_cast<double>(heap.peakBytes) / 1024;
    state.counters["allocations"] = static_cast<double>(heap.allocations);
    state.counters["readings"] = readings;
    state.counters["content_KiB"] = static_cast<double>(content) / 1024;
}

BENCHMARK_CAPTURE(refresh, small_10x150, smallScenario())->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(refresh, large_64x2000, largeScenario())->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(refresh, oversized_8x1024, oversizedScenario())
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

#include "publish/tests/fake_library.h"

#include <algorithm>
#include <cstring>

FakeScenario fake;

namespace {

void record(FakeCall call)
{
    if (fake.recordCalls)
        fake.calls.push_back(call);
}

std::int32_t poll()
{
    record({'p'});
    return 0;
}

std::int32_t count()
{
    record({'c'});
    return fake.count;
}

std::int32_t sensor(std::int32_t index)
{
    record({'s', index});
    return 0;
}

const FakeSensor *find(std::int32_t index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= fake.sensors.size())
        return nullptr;
    return &fake.sensors[static_cast<std::size_t>(index)];
}

std::int32_t name(std::int32_t index, char *buffer, std::int32_t size)
{
    record({'n', index, size});
    if (const FakeSensor *found = find(index)) {
        // A name as long as the buffer is written without its NUL.
        auto length = std::min(found->name.size(), static_cast<std::size_t>(size));
        std::memcpy(buffer, found->name.data(), length);
        if (length < static_cast<std::size_t>(size))
            buffer[length] = '\0';
    }
    return 0;
}

std::int32_t reading(std::int32_t type, std::int32_t sensorIndex, std::int32_t index, ReadingRecord *out)
{
    record({'r', type, sensorIndex, index});
    const auto *bytes = reinterpret_cast<const unsigned char *>(out);
    if (fake.recordCalls && std::any_of(bytes, bytes + sizeof *out, [](unsigned char b) { return b != 0; }))
        ++fake.dirtyRecords;
    // Scribble over the record as a real library may, valid or not.
    std::memset(out->unused16, 0x5a, sizeof out->unused16);
    const FakeSensor *found = find(sensorIndex);
    if (found == nullptr)
        return 0;
    for (const FakeReading &candidate : found->readings) {
        if (candidate.type != type || candidate.index != index)
            continue;
        out->valid = candidate.valid ? 1 : 0;
        out->value = candidate.value;
        auto length = std::min(candidate.label.size(), sizeof out->label);
        std::memcpy(out->label, candidate.label.data(), length);
        if (length < sizeof out->label)
            out->label[length] = '\0';
        break;
    }
    return 0;
}

void spare() {}

std::int32_t init(std::int32_t)
{
    return 0;
}

}  // namespace

SensorLibrary fakeLibrary()
{
    return {init, spare, count, poll, sensor, name, reading};
}

void fakeYield()
{
    record({'y'});
}

void useSensors(std::vector<FakeSensor> sensors)
{
    fake = {};
    fake.count = static_cast<std::int32_t>(sensors.size());
    fake.sensors = std::move(sensors);
}

#include "tools/simsensors/entries.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>

#include "tools/simsensors/scenario.h"

namespace simsensors {

namespace {

// Entries called before init serve the default scenario.
struct State {
    Scenario scenario = defaultScenario();
    std::uint64_t polls = 0;
};

State &state()
{
    static State current;
    return current;
}

// A fill text (as long as its buffer) goes in without a NUL; any other text is
// cut where needed to leave room for its NUL.
void copyText(std::span<char> out, std::string_view text, std::size_t capacity)
{
    if (out.empty())
        return;
    const bool terminated = text.size() < capacity;
    const std::size_t length = std::min(text.size(), terminated ? out.size() - 1 : out.size());
    std::copy_n(text.data(), length, out.data());
    if (terminated)
        out[length] = '\0';
}

// Installs the scenario named by HWINFO_SIM_SCENARIO, or the default one when
// it is unset or empty. Returns the errno value of a failure, or zero.
int initialise()
{
    const char *path = std::getenv("HWINFO_SIM_SCENARIO");
    if (path == nullptr || *path == '\0') {
        state() = State{};
        return 0;
    }
    LoadResult loaded = loadScenarioFile(path);
    if (loaded.error != 0) {
        std::fprintf(stderr, "%s\n", loaded.message.c_str());
        return loaded.error;
    }
    if (loaded.scenario.initError != 0)
        return loaded.scenario.initError;
    state() = State{std::move(loaded.scenario), 0};
    return 0;
}

}  // namespace

}  // namespace simsensors

using namespace simsensors;

std::int32_t ordinal_481(std::int32_t)
{
    // The last error is set after everything else has run, so that no call
    // made on the way out can overwrite it.
    const int error = initialise();
    if (error == 0)
        return 0;
    setLastError(error);
    return 1;
}

void ordinal_360() {}

std::int32_t ordinal_994()
{
    return sensorCount(state().scenario);
}

std::int32_t ordinal_256()
{
    ++state().polls;
    return 0;
}

std::int32_t ordinal_318(std::int32_t sensor)
{
    return sensor >= 0 && sensor < sensorCount(state().scenario) ? 0 : -1;
}

std::int32_t ordinal_802(std::int32_t sensor, char *buffer, std::int32_t size)
{
    const Scenario &scenario = state().scenario;
    if (buffer == nullptr || size <= 0 || sensor < 0 || sensor >= sensorCount(scenario))
        return 0;
    // Sensors past the defined ones, when the count says there are more, have
    // empty names.
    const auto index = static_cast<std::size_t>(sensor);
    const std::string_view name =
        index < scenario.sensors.size() ? std::string_view(scenario.sensors[index].name) : "";
    copyText({buffer, static_cast<std::size_t>(size)}, name, nameCapacity);
    return 1;
}

std::int32_t ordinal_714(std::int32_t type, std::int32_t sensor, std::int32_t reading, Record *record)
{
    const Reading *found = findReading(state().scenario, type, sensor, reading);
    if (found == nullptr || record == nullptr)
        return 0;
    record->valid = found->valid ? 1 : 0;
    record->value = valueAt(*found, sensor, type, reading, state().polls);
    copyText(record->label, found->label, labelCapacity);
    return 1;
}

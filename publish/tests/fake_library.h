// A sensor library made of plain data for the refresh tests: the entries read
// a process-wide scenario and can record every call made to them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sensors/sensor_library.h"

struct FakeReading {
    std::int32_t type;
    std::int32_t index;
    std::string label;
    double value;
    bool valid = true;
};

struct FakeSensor {
    std::string name;  // written with its NUL unless it fills the buffer
    std::vector<FakeReading> readings;
};

struct FakeCall {
    char entry;  // 'p'oll, 'c'ount, 's'ensor, 'n'ame, 'r'eading, 'y'ield
    std::int32_t a = 0, b = 0, c = 0;
    bool operator==(const FakeCall &) const = default;
};

struct FakeScenario {
    std::int32_t count = 0;
    std::vector<FakeSensor> sensors;
    bool recordCalls = false;
    std::vector<FakeCall> calls;
    // Records that did not arrive zeroed at readingEntry.
    int dirtyRecords = 0;
};

extern FakeScenario fake;

// The table of entries over the scenario above.
SensorLibrary fakeLibrary();

void fakeYield();

// Sets the scenario to these sensors, with their number as the count.
void useSensors(std::vector<FakeSensor> sensors);

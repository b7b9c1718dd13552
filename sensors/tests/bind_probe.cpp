// Binds the sensor library the way the program does and prints the outcome,
// with what each bound entry answers.
#include <iostream>

#include "sensors/sensor_library.h"

int main()
{
    if (!bindSensorLibrary()) {
        std::cout << "unbound\n";
        return 1;
    }
    ReadingRecord record{};
    char name[nameBufferSize] = {};
    std::cout << "bound " << sensorLibrary.initEntry(initFlags) << ' ' << sensorLibrary.countEntry() << ' '
              << sensorLibrary.pollEntry() << ' ' << sensorLibrary.sensorEntry(0) << ' '
              << sensorLibrary.nameEntry(0, name, nameBufferSize) << ' '
              << sensorLibrary.readingEntry(1, 0, 0, &record) << '\n';
    return 0;
}

#include "app/startup.h"

#include <cstdlib>
#include <iostream>

#include "app/refresh_period.h"
#include "platform/platform.h"
#include "publish/snapshot_block.h"
#include "sensors/sensor_library.h"

namespace {

[[noreturn]] void refreshForever()
{
    // The sleep lies between refreshes: the period is the pause (one second
    // in the program itself) plus the time a refresh takes, with no catching
    // up.
    for (;;) {
        platform::sleepMilliseconds(refreshPeriodMilliseconds);
        publishSnapshot();
    }
}

}  // namespace

int startSensorBridge()
{
    // A second copy ends here, silently. When no guard can be had at all the
    // system runs without one.
    if (platform::takeInstanceGuard(instanceGuardName) == platform::Guard::alreadyHeld)
        std::exit(0);

    std::cout << "HWINFO!\n";
    std::cout << "HWINFO Init!\n";

    if (!bindSensorLibrary()) {
        std::cout << "HWINFO LoadLibrary Failure!\n";
        platform::pause();
        return 0;
    }

    std::cout << "HWINFO Init start.\n";

    if (sensorLibrary.initEntry(initFlags) != 0) {
        // The library's last error, not its result, says why it failed.
        std::uint32_t error = platform::lastError();
        std::cout << "HWi32_Init Failure. Error = " << error << std::endl;
        platform::pause();
        return 0;
    }

    if (!openBlock()) {
        std::cout << "shareMemory_QORAInfo error!" << std::endl;
        std::exit(0);
    }

    // The start-up lines reach a redirected output now rather than never, as
    // the loop does not end.
    std::cout.flush();
    refreshForever();
}

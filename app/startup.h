// Start-up of the system and its refresh loop.
#pragma once

// The machine-wide single-instance guard.
inline constexpr const char *instanceGuardName = "Global\\QORA";

// Guards against a second copy, binds and initialises the sensor library,
// opens the consumer's block and then refreshes it once a second for ever.
// Every way out of start-up ends the process with exit code 0: a failure to
// bind or initialise the library returns 0 after the "pause", and a second
// copy or a block that cannot be opened exits at once.
int startSensorBridge();

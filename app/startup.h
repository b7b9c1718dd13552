// Start-up of the system and its refresh loop.
#pragma once

// Guards against a second copy, binds and initialises the sensor library,
// opens the consumer's block and then refreshes it once a second for ever.
// Returns, with 0, only when start-up fails.
int startSensorBridge();

#include "app/refresh_period.h"

// Short enough for the soak test to see hundreds of refreshes within a
// minute, long enough that the program still spends most of its time asleep
// between them, as it does with the real period.
const unsigned refreshPeriodMilliseconds = 50;

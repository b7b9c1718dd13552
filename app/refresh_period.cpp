#include "app/refresh_period.h"

// The consumer expects a fresh snapshot about once a second.
const unsigned refreshPeriodMilliseconds = 1000;

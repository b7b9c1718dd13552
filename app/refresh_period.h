// The pause between two refreshes. Every build of the program links exactly
// one source that sets it: refresh_period.cpp for the program itself, and
// refresh_period_soak.cpp for the build that the soak test runs, so that the
// loop is the same code in both.
#pragma once

extern const unsigned refreshPeriodMilliseconds;

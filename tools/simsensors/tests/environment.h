// The environment the simulated library reads its scenario's path from, set
// by the tests. One header, two implementations (environment_posix.cpp,
// environment_win32.cpp), chosen by the build.
#pragma once

#include <string>

namespace simsensors {

// Sets HWINFO_SIM_SCENARIO for this process. An empty value stands for no
// variable at all, which init treats alike.
void setScenarioVariable(const std::string &value);

}  // namespace simsensors

#include "tools/simsensors/tests/environment.h"

#include <cstdlib>

namespace simsensors {

void setScenarioVariable(const std::string &value)
{
    setenv("HWINFO_SIM_SCENARIO", value.c_str(), 1);
}

}  // namespace simsensors

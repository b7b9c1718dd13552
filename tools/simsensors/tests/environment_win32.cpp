#include "tools/simsensors/tests/environment.h"

#include <cstdlib>

namespace simsensors {

void setScenarioVariable(const std::string &value)
{
    _putenv_s("HWINFO_SIM_SCENARIO", value.c_str());
}

}  // namespace simsensors

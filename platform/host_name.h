// The machine's host name, for the default MQTT node. One header, two
// implementations (host_name_posix.cpp, host_name_win32.cpp), chosen by the
// build.
#pragma once

#include <string>

namespace platform {

// The host name as the system gives it; empty when it gives none.
std::string hostName();

}  // namespace platform

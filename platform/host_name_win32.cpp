#include "platform/host_name.h"

#include <windows.h>

namespace platform {

std::string hostName()
{
    // The DNS host name, without the domain (Microsoft: GetComputerNameExA,
    // COMPUTER_NAME_FORMAT); on success the size is the length without NUL.
    char name[256] = "";
    DWORD size = sizeof name;
    return GetComputerNameExA(ComputerNameDnsHostname, name, &size) ? std::string(name, size) : std::string();
}

}  // namespace platform

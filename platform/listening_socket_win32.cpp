#include "platform/listening_socket.h"

#include "platform/socket_address.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace platform {

ListeningAddress listeningAddress(std::span<const std::uint8_t> address, std::uint16_t port)
{
    // Without SO_EXCLUSIVEADDRUSE another socket that sets SO_REUSEADDR may
    // bind the same port (Microsoft: "Using SO_REUSEADDR and
    // SO_EXCLUSIVEADDRUSE").
    return fillListeningAddress<sockaddr_in, sockaddr_in6>(address, port, AF_INET, AF_INET6, true);
}

}  // namespace platform

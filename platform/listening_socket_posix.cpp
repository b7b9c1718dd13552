#include "platform/listening_socket.h"

#include "platform/socket_address.h"

#include <netinet/in.h>
#include <sys/socket.h>

namespace platform {

ListeningAddress listeningAddress(std::span<const std::uint8_t> address, std::uint16_t port)
{
    // The library's default, SO_REUSEADDR without SO_REUSEPORT, keeps a second process off the port.
    return fillListeningAddress<sockaddr_in, sockaddr_in6>(address, port, AF_INET, AF_INET6, false);
}

}  // namespace platform

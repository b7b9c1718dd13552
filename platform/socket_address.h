// The filling of a listening address that both backends of
// listening_socket.h share: sockaddr_in and sockaddr_in6 have the same members on POSIX and on
// Windows, and each backend passes its own declarations of them.
#pragma once

#include "platform/listening_socket.h"

#include <algorithm>
#include <cstring>

namespace platform {

template <typename Ipv4, typename Ipv6>
ListeningAddress fillListeningAddress(std::span<const std::uint8_t> address, std::uint16_t port,
                                      int ipv4Family, int ipv6Family, bool claimsPortAlone)
{
    static_assert(sizeof(Ipv4) <= sizeof(ListeningAddress::storage) &&
                  sizeof(Ipv6) <= sizeof(ListeningAddress::storage));
    const std::array<std::uint8_t, 2> networkPort{static_cast<std::uint8_t>(port >> 8),
                                                  static_cast<std::uint8_t>(port & 0xff)};
    ListeningAddress filled;
    filled.ipv6 = address.size() == 16;
    filled.claimsPortAlone = claimsPortAlone;
    if (filled.ipv6) {
        Ipv6 socket{};
        socket.sin6_family = static_cast<decltype(socket.sin6_family)>(ipv6Family);
        std::memcpy(&socket.sin6_port, networkPort.data(), networkPort.size());
        std::memcpy(&socket.sin6_addr, address.data(), address.size());
        std::memcpy(filled.storage.data(), &socket, sizeof socket);
    } else {
        Ipv4 socket{};
        socket.sin_family = static_cast<decltype(socket.sin_family)>(ipv4Family);
        std::memcpy(&socket.sin_port, networkPort.data(), networkPort.size());
        std::memcpy(&socket.sin_addr, address.data(), std::min<std::size_t>(address.size(), 4));
        std::memcpy(filled.storage.data(), &socket, sizeof socket);
    }
    return filled;
}

}  // namespace platform

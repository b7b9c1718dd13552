// What serving over HTTP needs of the operating system beyond the HTTP
// library: where a listening socket binds, and how it shares its port. One
// header, two backends (listening_socket_posix.cpp,
// listening_socket_win32.cpp), chosen by the build.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace platform {

struct ListeningAddress {
    // The socket address, laid out as the socket calls take it (sockaddr_in
    // or sockaddr_in6), in room for any (sockaddr_storage).
    alignas(8) std::array<std::byte, 128> storage{};
    bool ipv6 = false;
    // Whether the socket must claim its port for itself. Windows lets another
    // process bind a port that is in use, and so take over the scrapes,
    // unless the socket asks for SO_EXCLUSIVEADDRUSE. POSIX keeps SO_REUSEADDR
    // without SO_REUSEPORT: a second process cannot share the port, and one
    // started again takes it at once.
    bool claimsPortAlone = false;
};

// Where to listen for a numeric address in network order (4 bytes for IPv4,
// 16 for IPv6) and a port.
ListeningAddress listeningAddress(std::span<const std::uint8_t> address, std::uint16_t port);

}  // namespace platform

// Addresses in sensor-watch, handled in one place: the endpoint that
// --serve names, the numeric addresses the server binds, how a URL spells
// them, and which of them are this machine's loopback. An IPv6 address is
// kept without brackets; they are stripped when it is read and put back when
// it is written.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace watch {

struct Endpoint {
    // A numeric address, an IPv6 one without brackets.
    std::string host = "127.0.0.1";
    // Zero asks for any free port.
    int port = 0;
};

// Reads [ADDRESS:]PORT, an IPv6 address in brackets ("[::1]:9100"). Nothing
// when the text is not of that shape or the port is above 65535; the address
// itself is checked when the server binds it.
std::optional<Endpoint> parseEndpoint(std::string_view text);

// Reads HOST[:PORT], where a broker is: a name or an address, an IPv6 one
// in brackets ("[::1]:1883"); the port is 0 when none is given.
std::optional<Endpoint> parseBroker(std::string_view text);

// The host as a URL spells it: an IPv6 address in brackets.
std::string urlHost(std::string_view host);

// A numeric address in network order: 4 bytes for IPv4, 16 for IPv6.
struct NumericAddress {
    bool ipv6 = false;
    std::array<std::uint8_t, 16> bytes{};
};

// Reads a dotted IPv4 address (four decimal parts without leading zeros) or
// an IPv6 one in any of its spellings (groups, one "::", a dotted IPv4 tail),
// without brackets, as inet_pton does. Nothing for any other text.
std::optional<NumericAddress> parseNumericAddress(std::string_view text);

// Whether the numeric address is this machine's loopback: 127.0.0.0/8, ::1,
// or an IPv4 loopback address mapped into IPv6 (::ffff:127.x.y.z).
bool isLoopback(const NumericAddress &address);

// The name in a Host field, as a Host check compares it: without a port and
// one trailing dot, in lower case, and an IPv6 address without its brackets.
// Empty when the field is no name with an optional port.
std::string hostFieldName(std::string_view field);

// Whether a name from hostFieldName (or a bound address) is this machine's
// loopback: localhost or a numeric loopback address.
bool isLoopbackName(std::string_view name);

}  // namespace watch

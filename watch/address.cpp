#include "watch/address.h"

#include <algorithm>
#include <charconv>
#include <system_error>
#include <vector>

namespace watch {
namespace {

std::string lowered(std::string_view text)
{
    std::string out(text);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// The whole text as a number in that base, at most `limit`.
std::optional<unsigned> number(std::string_view text, int base, unsigned limit)
{
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value > limit)
        return std::nullopt;
    return value;
}

// A dotted IPv4 address: four decimal parts of 0 to 255, without leading zeros.
std::optional<std::array<std::uint8_t, 4>> ipv4Bytes(std::string_view text)
{
    std::array<std::uint8_t, 4> bytes{};
    for (std::size_t part = 0; part < bytes.size(); ++part) {
        const std::size_t dot = text.find('.');
        const std::string_view digits = text.substr(0, dot);
        const std::optional<unsigned> value = number(digits, 10, 255);
        if (!value || (digits.size() > 1 && digits.front() == '0') ||
            (dot == std::string_view::npos) != (part == bytes.size() - 1))
            return std::nullopt;
        bytes[part] = static_cast<std::uint8_t>(*value);
        text = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
    }
    return bytes;
}

// Appends the colon-separated groups of one to four hexadecimal digits in
// the text; false when it holds anything else.
bool hexGroups(std::string_view text, std::vector<unsigned> &groups)
{
    while (!text.empty()) {
        const std::size_t colon = text.find(':');
        const std::string_view group = text.substr(0, colon);
        const std::optional<unsigned> value = group.size() <= 4 ? number(group, 16, 0xffff) : std::nullopt;
        if (!value)
            return false;
        groups.push_back(*value);
        if (colon == std::string_view::npos)
            return true;
        text.remove_prefix(colon + 1);
        if (text.empty())
            return false;
    }
    return true;
}

// An IPv6 address: up to eight groups, one "::" for a run of zero groups,
// and the last two groups perhaps spelled as a dotted IPv4 address.
std::optional<NumericAddress> ipv6Address(std::string_view text)
{
    std::string spelled(text);
    if (const std::size_t colon = text.rfind(':');
        colon != std::string_view::npos && text.find('.', colon) != std::string_view::npos) {
        const auto tail = ipv4Bytes(text.substr(colon + 1));
        if (!tail)
            return std::nullopt;
        char groups[16];
        const auto hex = [&](char *at, unsigned value) {
            return std::to_chars(at, groups + sizeof groups, value, 16).ptr;
        };
        char *end = hex(groups, (*tail)[0] * 256u + (*tail)[1]);
        *end++ = ':';
        end = hex(end, (*tail)[2] * 256u + (*tail)[3]);
        spelled = std::string(text.substr(0, colon + 1)) + std::string(groups, end);
    }
    const std::string_view all(spelled);
    const std::size_t gap = all.find("::");
    std::vector<unsigned> head;
    std::vector<unsigned> tail;
    if (!hexGroups(all.substr(0, gap), head) ||
        (gap != std::string_view::npos && !hexGroups(all.substr(gap + 2), tail)))
        return std::nullopt;
    const std::size_t given = head.size() + tail.size();
    if (gap == std::string_view::npos ? given != 8 : given > 7)
        return std::nullopt;
    head.resize(8 - tail.size(), 0);
    head.insert(head.end(), tail.begin(), tail.end());
    NumericAddress address{true, {}};
    for (std::size_t group = 0; group < head.size(); ++group) {
        address.bytes[2 * group] = static_cast<std::uint8_t>(head[group] >> 8);
        address.bytes[2 * group + 1] = static_cast<std::uint8_t>(head[group] & 0xff);
    }
    return address;
}

}  // namespace

std::optional<Endpoint> parseEndpoint(std::string_view text)
{
    Endpoint endpoint;
    if (const std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
        std::string_view host = text.substr(0, colon);
        if (host.size() > 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
        if (host.empty())
            return std::nullopt;
        endpoint.host = host;
        text.remove_prefix(colon + 1);
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), endpoint.port);
    if (error != std::errc{} || end != text.data() + text.size() || endpoint.port < 0 ||
        endpoint.port > 65535)
        return std::nullopt;
    return endpoint;
}

std::string urlHost(std::string_view host)
{
    return host.find(':') != std::string_view::npos ? '[' + std::string(host) + ']' : std::string(host);
}

std::optional<NumericAddress> parseNumericAddress(std::string_view text)
{
    if (text.find(':') != std::string_view::npos)
        return ipv6Address(text);
    const auto bytes = ipv4Bytes(text);
    if (!bytes)
        return std::nullopt;
    NumericAddress address;
    std::ranges::copy(*bytes, address.bytes.begin());
    return address;
}

bool isLoopback(const NumericAddress &address)
{
    if (!address.ipv6)
        return address.bytes[0] == 127;
    constexpr std::array<std::uint8_t, 16> ipv6Loopback{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    constexpr std::array<std::uint8_t, 12> mappedPrefix{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    const bool mapped = std::equal(mappedPrefix.begin(), mappedPrefix.end(), address.bytes.begin());
    return address.bytes == ipv6Loopback || (mapped && address.bytes[12] == 127);
}

std::string hostFieldName(std::string_view field)
{
    const bool bracketed = field.starts_with('[');
    std::size_t end = field.find(bracketed ? ']' : ':');
    if (bracketed && end == std::string_view::npos)
        return {};
    end = bracketed ? end + 1 : std::min(end, field.size());
    const std::string_view port = field.substr(end);
    if (!port.empty() && (port.front() != ':' ||
                          !std::ranges::all_of(port.substr(1), [](char c) { return c >= '0' && c <= '9'; })))
        return {};
    std::string_view name = field.substr(0, end);
    if (bracketed) {
        // Only an IPv6 address goes in brackets.
        name = name.substr(1, name.size() - 2);
        const std::optional<NumericAddress> address = parseNumericAddress(name);
        return address && address->ipv6 ? lowered(name) : std::string();
    }
    if (name.ends_with('.'))
        name.remove_suffix(1);
    return lowered(name);
}

bool isLoopbackName(std::string_view name)
{
    const std::optional<NumericAddress> address = parseNumericAddress(name);
    return name == "localhost" || (address && isLoopback(*address));
}

std::optional<Endpoint> parseBroker(std::string_view text)
{
    std::string_view host = text;
    std::optional<std::string_view> port;
    if (text.starts_with('[')) {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        host = text.substr(1, close - 1);
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty() && !rest.starts_with(':'))
            return std::nullopt;
        if (!rest.empty())
            port = rest.substr(1);
    } else if (const std::size_t colon = text.find(':'); colon != std::string_view::npos) {
        // An IPv6 address goes in brackets.
        if (text.find(':', colon + 1) != std::string_view::npos)
            return std::nullopt;
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    if (host.empty())
        return std::nullopt;
    Endpoint broker{.host = std::string(host), .port = 0};
    if (!port)
        return broker;
    const auto [end, error] = std::from_chars(port->data(), port->data() + port->size(), broker.port);
    if (error != std::errc{} || end != port->data() + port->size() || broker.port < 1 || broker.port > 65535)
        return std::nullopt;
    return broker;
}

}  // namespace watch

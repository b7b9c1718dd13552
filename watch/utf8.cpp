#include "watch/utf8.h"

namespace watch {
namespace {

// The well-formed multi-byte sequences by lead byte, as Unicode tabulates
// them: how long each is, and the range its second byte must fall in, which
// is narrower where a wider one would allow overlong forms, surrogates or
// code points past U+10FFFF. Every later byte is a plain continuation byte.
struct Lead {
    unsigned char first;
    unsigned char last;
    std::size_t length;
    unsigned char low;
    unsigned char high;
};

constexpr Lead leads[] = {
    {0xc2, 0xdf, 2, 0x80, 0xbf}, {0xe0, 0xe0, 3, 0xa0, 0xbf}, {0xe1, 0xec, 3, 0x80, 0xbf},
    {0xed, 0xed, 3, 0x80, 0x9f}, {0xee, 0xef, 3, 0x80, 0xbf}, {0xf0, 0xf0, 4, 0x90, 0xbf},
    {0xf1, 0xf3, 4, 0x80, 0xbf}, {0xf4, 0xf4, 4, 0x80, 0x8f},
};

}  // namespace

std::size_t utf8SequenceLength(std::string_view bytes)
{
    if (bytes.empty())
        return 0;
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (at(0) < 0x80)
        return 1;
    for (const Lead &lead : leads) {
        if (at(0) < lead.first || at(0) > lead.last)
            continue;
        if (bytes.size() < lead.length || at(1) < lead.low || at(1) > lead.high)
            return 0;
        for (std::size_t i = 2; i < lead.length; ++i)
            if ((at(i) & 0xc0) != 0x80)
                return 0;
        return lead.length;
    }
    return 0;
}

std::string wellFormedUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        const std::size_t length = utf8SequenceLength(bytes);
        out += length == 0 ? std::string_view("\xef\xbf\xbd") : bytes.substr(0, length);
        bytes.remove_prefix(length == 0 ? 1 : length);
    }
    return out;
}

std::string printable(std::string_view bytes)
{
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    while (!bytes.empty()) {
        const auto byte = static_cast<unsigned char>(bytes.front());
        const std::size_t length = utf8SequenceLength(bytes);
        // Printable ASCII, or a whole well-formed multi-byte sequence.
        if (length > 1 || (length == 1 && byte >= 0x20 && byte != 0x7f && byte != '\\')) {
            out += bytes.substr(0, length);
            bytes.remove_prefix(length);
            continue;
        }
        if (byte == '\\') {
            out += "\\\\";
        } else {
            out += "\\x";
            out += hex[byte >> 4];
            out += hex[byte & 0xf];
        }
        bytes.remove_prefix(1);
    }
    return out;
}

}  // namespace watch

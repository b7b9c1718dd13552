#include "watch/gzip.h"

#include <zlib.h>

#include <charconv>
#include <limits>
#include <system_error>

namespace watch {
namespace {

// zlib's fastest level: the scrape's text repeats itself so much that it
// still shrinks to about 11 % (the default level, 6: 9 %), in a third of the
// default level's time (metrics_benchmark).
constexpr int compressionLevel = 1;

const Bytef *bytesOf(std::string_view text)
{
    return reinterpret_cast<const Bytef *>(text.data());
}

void appendLittleEndian(std::string &out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out += static_cast<char>((value >> shift) & 0xff);
}

bool sameLetters(std::string_view text, std::string_view lowerCase)
{
    if (text.size() != lowerCase.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
        if (c != lowerCase[i])
            return false;
    }
    return true;
}

std::string_view trimmed(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::optional<DeflatedPart> deflatePart(std::string_view text, bool last)
{
    if (text.size() > std::numeric_limits<uInt>::max())
        return std::nullopt;
    const auto size = static_cast<uInt>(text.size());
    DeflatedPart part{{}, static_cast<std::uint32_t>(crc32(0, bytesOf(text), size)), text.size()};
    // Negative window bits ask for raw deflate: the gzip header and trailer
    // are written once per member, around every part.
    z_stream stream{};
    if (deflateInit2(&stream, compressionLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return std::nullopt;
    // The bound holds for one call that finishes; a sync flush adds at most
    // an empty stored block of five bytes.
    part.bytes.resize(deflateBound(&stream, size) + 16);
    stream.next_in = const_cast<Bytef *>(bytesOf(text));
    stream.avail_in = size;
    stream.next_out = reinterpret_cast<Bytef *>(part.bytes.data());
    stream.avail_out = static_cast<uInt>(part.bytes.size());
    const int result = deflate(&stream, last ? Z_FINISH : Z_SYNC_FLUSH);
    const bool complete = last ? result == Z_STREAM_END : result == Z_OK && stream.avail_out != 0;
    part.bytes.resize(stream.total_out);
    deflateEnd(&stream);
    return complete && stream.avail_in == 0 ? std::optional(std::move(part)) : std::nullopt;
}

std::string gzipMember(std::span<const DeflatedPart *const> parts)
{
    std::size_t length = 18;
    for (const DeflatedPart *part : parts)
        length += part->bytes.size();
    std::string out;
    out.reserve(length);
    // Magic, deflate, no flags, no time, no extra flags, an unknown system.
    out.append("\x1f\x8b\x08\0\0\0\0\0\0\xff", 10);
    uLong crc = crc32(0, nullptr, 0);
    std::size_t size = 0;
    for (const DeflatedPart *part : parts) {
        out += part->bytes;
        crc = crc32_combine(crc, part->crc, static_cast<z_off_t>(part->size));
        size += part->size;
    }
    appendLittleEndian(out, static_cast<std::uint32_t>(crc));
    // The length modulo 2^32, as the format has it.
    appendLittleEndian(out, static_cast<std::uint32_t>(size));
    return out;
}

bool acceptsGzip(std::string_view acceptEncoding)
{
    std::optional<bool> gzip;
    std::optional<bool> any;
    while (!acceptEncoding.empty()) {
        const std::size_t comma = acceptEncoding.find(',');
        const std::string_view coding = acceptEncoding.substr(0, comma);
        acceptEncoding =
            comma == std::string_view::npos ? std::string_view() : acceptEncoding.substr(comma + 1);
        const std::size_t semicolon = coding.find(';');
        const std::string_view name = trimmed(coding.substr(0, semicolon));
        // A weight of zero (q=0, q=0.000) refuses the coding; one that is no
        // number refuses it too.
        bool wanted = true;
        const std::string_view parameter =
            semicolon == std::string_view::npos ? std::string_view() : trimmed(coding.substr(semicolon + 1));
        if (parameter.size() >= 2 && (parameter[0] == 'q' || parameter[0] == 'Q') && parameter[1] == '=') {
            double weight = 0;
            const auto [end, error] = std::from_chars(
                parameter.data() + 2, parameter.data() + parameter.size(), weight, std::chars_format::fixed);
            wanted = error == std::errc{} && end == parameter.data() + parameter.size() && weight > 0;
        }
        if (sameLetters(name, "gzip") || sameLetters(name, "x-gzip"))
            gzip = wanted;
        else if (name == "*")
            any = wanted;
    }
    return gzip.value_or(any.value_or(false));
}

}  // namespace watch

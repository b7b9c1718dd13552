// Undoing the scrape's gzip in the tests, with zlib.
#pragma once

#include <zlib.h>

#include <string>

// The text of exactly one whole gzip member, or "" when the bytes are not one.
inline std::string gunzip(std::string bytes)
{
    std::string out(bytes.size() * 64 + 4096, '\0');
    z_stream stream{};
    inflateInit2(&stream, 16 + MAX_WBITS);
    stream.next_in = reinterpret_cast<Bytef *>(bytes.data());
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const bool whole = inflate(&stream, Z_FINISH) == Z_STREAM_END && stream.avail_in == 0;
    out.resize(whole ? stream.total_out : 0);
    inflateEnd(&stream);
    return out;
}

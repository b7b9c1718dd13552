// gzip (RFC 1952) for the scrape, with zlib. A scrape is the readings, which
// change once per snapshot, after a few lines that change with every scrape
// (the age, the process's figures). Each part is deflated on its own, the
// readings once per snapshot, and a scrape joins the parts into one gzip
// member: every part but the last ends on a byte boundary without a final
// block, so their blocks follow each other, and the checksum is combined
// from the parts' own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace watch {

struct DeflatedPart {
    // Raw deflate blocks (RFC 1951).
    std::string bytes;
    // The CRC-32 and length of the text they hold.
    std::uint32_t crc = 0;
    std::size_t size = 0;
};

// The text deflated; `last` ends it with the final block, otherwise it ends
// on a byte boundary so that another part can follow. Nothing when zlib
// fails (it can only run out of memory).
std::optional<DeflatedPart> deflatePart(std::string_view text, bool last);

// One gzip member holding the parts' texts in order; only the last part may
// have been deflated as last, and it must be.
std::string gzipMember(std::span<const DeflatedPart *const> parts);

// Whether an Accept-Encoding field's value (RFC 9110) takes gzip: gzip,
// x-gzip or "*" with a weight above zero, an explicit gzip over "*".
bool acceptsGzip(std::string_view acceptEncoding);

}  // namespace watch

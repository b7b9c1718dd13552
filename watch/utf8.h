// The one check of UTF-8 in sensor-watch: what it shows on a terminal, what
// it serves and what it reports all pass through it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace watch {

// The length of the well-formed UTF-8 sequence that `bytes` starts with, or 0
// when it starts with none (or is empty). Overlong forms, surrogates and code
// points past U+10FFFF are not well-formed, so that strict readers accept
// what passes.
std::size_t utf8SequenceLength(std::string_view bytes);

// The bytes with each one that is not part of well-formed UTF-8 replaced by
// U+FFFD, so that the result is valid UTF-8 whatever came in.
std::string wellFormedUtf8(std::string_view bytes);

// Makes arbitrary bytes safe to show on a terminal: well-formed UTF-8 passes,
// control bytes and each byte >= 0x80 outside a well-formed sequence become
// \xHH, a backslash becomes \\.
std::string printable(std::string_view bytes);

}  // namespace watch

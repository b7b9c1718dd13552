// The block's layout as sensor-watch reads it: its own copy, written from the
// layout rather than taken from the bridge's headers, so that each side
// checks the other.
#pragma once

#include <cstddef>
#include <string_view>

namespace watch {

inline constexpr std::string_view blockName = "shareMemory_QORAInfo";
inline constexpr std::size_t blockSize = 1024 * 1024;
inline constexpr std::string_view blockHeader = "HWi32_GetNumberOfDetectedSensors:\n";

}  // namespace watch

// What the Windows backends share, so that both programs widen a name and
// size a view the same way.
#pragma once

#include "platform/mapped_regions.h"

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Widens an 8-bit name with the runtime's multibyte-to-wide conversion in the
// default locale, in which every byte becomes the character of the same code.
// Empty when the name does not convert.
std::wstring widen(std::string_view name);

// The regions of a view made by MapViewOfFile, as VirtualQuery reports them
// one after the other from its base: pages that share one state each, up to
// the view's end.
std::vector<MappedRegion> viewRegions(const void *view);

}  // namespace platform

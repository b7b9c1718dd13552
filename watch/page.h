// The dashboard page that --serve answers at "/": one HTML document with its
// script, its style and the charting library inline, so that it loads nothing
// from elsewhere. Generated at build time from web/ (see embed_page.cmake).
#pragma once

#include <string_view>

namespace watch {

extern const std::string_view dashboardPage;

}  // namespace watch

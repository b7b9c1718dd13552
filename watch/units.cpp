#include "watch/units.h"

#include "watch/readings.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace watch {

std::string shownNumber(std::string_view type, double value)
{
    const auto unit = std::ranges::find(units, type, &Unit::type);
    const bool hasUnit = unit != units.end();
    // The longest "%f" text has 309 digits before the point.
    char buffer[400];
    char *end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed,
                              hasUnit ? unit->decimals : 6)
                    .ptr;
    std::string text(buffer, end);
    if (!hasUnit && text.find('.') != std::string::npos) {
        text.erase(text.find_last_not_of('0') + 1);
        if (text.ends_with('.'))
            text.pop_back();
    }
    // What rounds to zero is shown without a sign.
    if (text.starts_with('-') && text.find_first_not_of("0.", 1) == std::string::npos)
        text.erase(0, 1);
    return hasUnit ? text + ' ' + std::string(unit->symbol) : text;
}

std::string shownValue(std::string_view type, std::string_view text)
{
    const double value = numberOf(text);
    return std::isfinite(value) ? shownNumber(type, value) : std::string(text);
}

}  // namespace watch

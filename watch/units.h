// How the table and the page show a reading's value: in its type's unit,
// rounded to what a person reads at a glance. The block carries no unit; the
// units are the vendor library's defaults for each type, so a library set to
// other units is shown with --no-units. The block and the JSON's values keep
// the published text and its number; the metrics take the same defaults to
// base units (metrics.h).
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace watch {

struct Unit {
    std::string_view type;
    std::string_view symbol;
    int decimals = 0;
};

// Types not in this table ("other" and any the tool does not know) have no
// unit, and keep the digits they were published with.
inline constexpr std::array<Unit, 7> units{{
    {"temperature", "\u00b0C", 1},
    {"voltage", "V", 3},
    {"fan", "RPM", 0},
    {"current", "A", 3},
    {"power", "W", 1},
    {"clock", "MHz", 0},
    {"usage", "%", 1},
}};

// A finite number as shown: rounded to its type's decimals and followed by a
// space and the unit, or for a type without a unit in the published "%f" form
// without trailing zeros (and a trailing point).
std::string shownNumber(std::string_view type, double value);

// A published value text as shown: a finite number as shownNumber, anything
// else ("nan", "-nan(ind)", "inf", text) as it comes and without a unit.
std::string shownValue(std::string_view type, std::string_view text);

}  // namespace watch

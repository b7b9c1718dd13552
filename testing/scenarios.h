// Scenarios for the simulated sensor library that several suites run.
#pragma once

#include <string_view>

// One drifting reading is all it takes to see the block change.
inline constexpr std::string_view driftingScenario = "sensor \"CPU\"\n"
                                                     "reading temperature \"Core 0\" 40 drift 5\n"
                                                     "reading clock \"Core 0\" 3600\n";

// Names, labels and values that exercise the escapes and every value form.
inline constexpr std::string_view hostileScenario = R"(sensor "CPU \xB0C Caf\xC3\xA9 \xF0\x9F\x98\x80"
reading temperature "Core \"0\"\\\t" 45.5
reading temperature "\xB0C" -0.0
reading voltage "tiny" -1e-9
reading voltage "half" -0.5
reading fan "big" 1e300
reading fan "zero" 0
reading other "inf" inf
reading other "-inf" -inf
reading other "nan" nan
reading other "-nan" bits:fff8000000000001
reading other "ind" bits:fff8000000000000
reading other "snan" bits:7ff4000000000000
reading other "-snan" bits:fff4000000000000
reading clock @1023 "Last \x7f\x01" 4500.1234565
sensor "GPU"
reading usage "replaced" 1
sensor "gpu"
reading usage "twin" 1
reading usage "twin" 2
sensor "Dead \xFF\xFE"
reading power "gone" 1 invalid
sensor ""
reading current "" 0.25
sensor fill "N"
reading current fill "L" 0.5
)";

#include "testing/golden.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

void expectGolden(const std::filesystem::path &file, std::string_view actual)
{
    const char *update = std::getenv("SENSOR_BRIDGE_UPDATE_GOLDEN");
    if (update != nullptr && std::string_view(update) == "1") {
        std::ofstream(file, std::ios::binary) << actual;
        std::cout << "wrote " << file << '\n';
        return;
    }
    std::ifstream stream(file, std::ios::binary);
    ASSERT_TRUE(stream) << file << " is missing; SENSOR_BRIDGE_UPDATE_GOLDEN=1 writes it";
    const std::string expected{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    if (expected == actual)
        return;
    // The texts may be long and hold any bytes: say where they part.
    const auto differ = std::ranges::mismatch(expected, actual);
    const auto at = static_cast<std::size_t>(differ.in1 - expected.begin());
    const std::size_t from = at < 40 ? 0 : at - 40;
    ADD_FAILURE() << "differs from " << file << " at byte " << at << " (" << expected.size()
                  << " bytes expected, " << actual.size()
                  << " got)\n  expected: " << testing::PrintToString(expected.substr(from, 80))
                  << "\n  got:      " << testing::PrintToString(std::string(actual.substr(from, 80)));
}

// Long expected outputs, such as a whole block or a scrape, kept as golden
// files beside the tests. Run a test with SENSOR_BRIDGE_UPDATE_GOLDEN=1 in
// its environment to write what it got into the file instead of comparing;
// CTest never sets it. Time-dependent values are the caller's to normalise
// before the comparison.
#pragma once

#include <filesystem>
#include <string_view>

void expectGolden(const std::filesystem::path &file, std::string_view actual);

// Running the Windows build's programs under Wine, for the tests that check
// the product itself. CMake finds Wine and names the Windows build's output
// directory; without either, wineReady() is false and the tests skip.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "testing/child_process.h"

// The directory of the Windows build's programs and libraries.
const std::filesystem::path &windowsBin();

// The release zip that cpack --preset windows makes beside that build.
std::filesystem::path windowsPackage();

// The Wine prefix that the tests share.
const std::filesystem::path &winePrefix();

// True once the shared Wine prefix is set up and the Windows build is there.
// The first call sets the prefix up, which takes a while, and starts a Wine
// server that stays up until the test program ends, so that each program
// under test starts quickly.
bool wineReady();

// Options for a child under Wine: a prefix (the shared one unless another is
// named), quiet, plus the extra "NAME=value" entries.
ChildOptions wineOptions(std::vector<std::string> environment = {},
                         const std::filesystem::path &prefix = winePrefix());

// Ends every Windows program of a prefix, and its Wine server.
void stopWine(const std::filesystem::path &prefix);

// The command line that runs a Windows program under Wine.
std::vector<std::string> underWine(const std::filesystem::path &program,
                                   std::vector<std::string> arguments = {});

// The path of a Linux file as a Windows program under Wine sees it.
std::string windowsPath(const std::filesystem::path &path);

// The folder that %LOCALAPPDATA% names for this user in a prefix.
std::filesystem::path localAppData(const std::filesystem::path &prefix);

// Programs as a user installs them: copied into a folder of their own with
// the sensor library beside them, or unpacked from a release package.
#pragma once

#include <filesystem>
#include <string>

#include "testing/child_process.h"

// A scratch folder holding a copy of the program and a copy of the library
// beside it under the name the program loads, HWiNFO64.dll; either is left out
// when its path is empty.
struct Installation {
    Installation(const std::filesystem::path &program, const std::filesystem::path &library);
    ScratchDirectory directory;
    std::filesystem::path program;  // the copy
};

// A file's whole contents, or nothing when it cannot be read.
std::string contents(const std::filesystem::path &file);

// Unpacks a release package into the empty folder and returns the one folder
// it holds, named like the package.
std::filesystem::path unpackPackage(const std::filesystem::path &package, const std::filesystem::path &into);

// Finds a program on PATH, as a shell would, for tests that start it with
// execve.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

// The program's full path, or empty when no directory on PATH has it.
inline std::string findProgram(const std::string &name)
{
    const char *path = std::getenv("PATH");
    std::istringstream directories(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string directory; std::getline(directories, directory, ':');) {
        const std::filesystem::path candidate = std::filesystem::path(directory) / name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
    }
    return {};
}

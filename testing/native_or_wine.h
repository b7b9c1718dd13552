// The two ways the programs under test run: natively, and the Windows build
// under Wine. A suite that checks one behaviour on both takes a Platform as
// its parameter; the differences between the two (how a program is started,
// how it sees a file, line ends, the command interpreter's "pause") live here.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "testing/child_process.h"

struct Platform {
    std::string name;  // "Native" or "Wine", as test names end
    bool viaWine = false;
    std::filesystem::path bin;  // the build's programs and libraries
    std::string lineEnd;        // what a program's "\n" becomes on its output
    // What "pause" prints, and what it prints once a key or the end of input
    // ends the wait.
    std::string pausePrompt;
    std::string afterKey;

    // A program of the build, or of another folder, by its name without
    // extension.
    std::filesystem::path program(std::string_view programName) const { return program(programName, bin); }
    std::filesystem::path program(std::string_view programName, const std::filesystem::path &folder) const;
    // The simulated library, or a variant of it that lacks some entry points
    // ("without-360", "none").
    std::filesystem::path library(std::string_view variant = {}) const;
    std::vector<std::string> command(const std::filesystem::path &program,
                                     std::vector<std::string> arguments = {}) const;
    ChildOptions options(std::vector<std::string> environment = {}) const;
    // A file's path as a program on this platform sees it.
    std::string path(const std::filesystem::path &file) const;
    // The environment entry that puts a folder in front of the library search.
    std::string librarySearchPath(const std::filesystem::path &folder) const;
    // The text as it reaches the output, each "\n" as the line end.
    std::string lines(std::string_view text) const;
    // Whether the platform's programs can run here; Wine and the Windows build
    // may be missing.
    bool ready() const;
};

const Platform &nativePlatform();
const Platform &winePlatform();
std::vector<const Platform *> platforms();

// Names a parameterised test after its platform.
std::string platformName(const testing::TestParamInfo<const Platform *> &info);

// A suite that checks one behaviour on each platform; it skips where the
// platform cannot run here. A suite's own SetUp calls this one first and
// returns when the test is skipped.
class PlatformTest : public testing::TestWithParam<const Platform *> {
  protected:
    void SetUp() override;
    const Platform &platform() const { return *GetParam(); }
    // Natively, removes the block that a killed sensor-watch left behind;
    // under Wine a block goes with its last handle.
    void forgetBlock() const;
};

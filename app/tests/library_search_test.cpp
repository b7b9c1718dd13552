// Where the program takes HWiNFO64.dll from, natively and under Wine: its own
// folder first, then the system's search (the system folders and PATH on
// Windows, the dynamic loader's search on Linux), and never the current
// directory, which is whatever folder the program happens to be started in.
#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "testing/child_process.h"
#include "testing/installation.h"
#include "testing/native_or_wine.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class LibrarySearch : public PlatformTest {
  protected:
    void SetUp() override
    {
        PlatformTest::SetUp();
        if (!IsSkipped())
            current.emplace(fs::path{}, platform().library("none"));
    }
    fs::path bridge() const { return platform().program("sensor-bridge"); }

    // Whether the installed program bound a library, started in a folder
    // whose library cannot bind, with another folder in front of the
    // library search: it goes on to initialise it, after which it either
    // runs or ends because no consumer created the block.
    bool binds(const Installation &installation, const Installation &onSearchPath) const
    {
        ChildOptions options =
            platform().options({platform().librarySearchPath(onSearchPath.directory.path)});
        options.workingDirectory = current->directory.path;
        ChildProcess child = startChild(platform().command(installation.program), options);
        StopAtExit stop{child};
        const std::string initStart = platform().lines("HWINFO!\nHWINFO Init!\nHWINFO Init start.\n");
        std::string output;
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (output.size() < initStart.size() && child.output >= 0 &&
               std::chrono::steady_clock::now() < deadline)
            output += readAvailable(child, 100ms);
        return output.starts_with(initStart);
    }
    // The current directory, with a library that loads but exports none of
    // the entry points: binding to it fails, so a program that bound took its
    // library from elsewhere.
    std::optional<Installation> current;
};

TEST_P(LibrarySearch, NeverTakesTheLibraryFromTheCurrentDirectory)
{
    Installation installation(bridge(), {});
    Installation here({}, platform().library());
    ChildOptions options = platform().options();
    options.workingDirectory = here.directory.path;
    ChildOutcome outcome = runChild(platform().command(installation.program), options, 60s);
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.output, platform().lines("HWINFO!\nHWINFO Init!\nHWINFO LoadLibrary Failure!\n") +
                                  platform().pausePrompt + platform().afterKey);
}

TEST_P(LibrarySearch, TakesTheProgramsFolderFirstThenTheSearchPath)
{
    EXPECT_TRUE(
        binds(Installation(bridge(), platform().library()), Installation({}, platform().library("none"))))
        << "beside the program, before the search path";
    EXPECT_TRUE(binds(Installation(bridge(), {}), Installation({}, platform().library())))
        << "on the search path";
}

INSTANTIATE_TEST_SUITE_P(OnEachPlatform, LibrarySearch, testing::ValuesIn(platforms()), platformName);

}  // namespace

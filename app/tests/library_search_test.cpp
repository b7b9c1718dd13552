// Where the program takes HWiNFO64.dll from: its own folder first, then the
// system's search (the system folders and PATH on Windows, the dynamic
// loader's search on Linux), and never the current directory, which is
// whatever folder the program happens to be started in.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "testing/child_process.h"
#include "testing/installation.h"
#include "testing/wine.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path simulatedLibrary = SIMULATED_LIBRARY;
// A library that loads but exports none of the entry points: binding to it fails.
const fs::path emptyLibrary = fs::path(LIBRARY_VARIANTS) / "none" / "HWiNFO64.dll";

// Whether the program bound the library: it goes on to initialise it, after
// which it either runs or ends because no consumer created the block.
bool binds(std::vector<std::string> command, const ChildOptions &options, const std::string &initStart)
{
    ChildProcess child = startChild(command, options);
    StopAtExit stop{child};
    std::string output;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (output.size() < initStart.size() && child.output >= 0 &&
           std::chrono::steady_clock::now() < deadline)
        output += readAvailable(child, 100ms);
    return output.starts_with(initStart);
}

const std::string startLines = "HWINFO!\nHWINFO Init!\n";

TEST(LibrarySearch, NeverTakesTheLibraryFromTheCurrentDirectory)
{
    Installation installation(SENSOR_BRIDGE, {});
    Installation current({}, simulatedLibrary);
    ChildOptions options;
    options.workingDirectory = current.directory.path;
    ChildOutcome outcome = runChild({installation.program.string()}, options, 60s);
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.output, startLines + "HWINFO LoadLibrary Failure!\nPress any key to continue . . . \n");
}

TEST(LibrarySearch, TakesTheProgramsFolderFirstThenTheLoadersSearch)
{
    // The library in the current directory cannot bind, so a program that
    // bound took its library from somewhere else.
    Installation current({}, emptyLibrary);
    ChildOptions options;
    options.workingDirectory = current.directory.path;
    const std::string initStart = startLines + "HWINFO Init start.\n";

    Installation beside(SENSOR_BRIDGE, simulatedLibrary);
    Installation elsewhere({}, emptyLibrary);
    options.environment = {"LD_LIBRARY_PATH=" + elsewhere.directory.path.string()};
    EXPECT_TRUE(binds({beside.program.string()}, options, initStart)) << "beside the program";

    Installation alone(SENSOR_BRIDGE, {});
    Installation onSearchPath({}, simulatedLibrary);
    options.environment = {"LD_LIBRARY_PATH=" + onSearchPath.directory.path.string()};
    EXPECT_TRUE(binds({alone.program.string()}, options, initStart)) << "on the loader's search path";
}

class LibrarySearchUnderWine : public testing::Test {
  protected:
    void SetUp() override
    {
        if (!wineReady())
            GTEST_SKIP() << "needs Wine and the Windows build in " << windowsBin();
    }
    const fs::path bridge = windowsBin() / "sensor-bridge.exe";
    const fs::path windowsLibrary = windowsBin() / "HWiNFO64.dll";
    const fs::path windowsEmptyLibrary = windowsBin() / "variants" / "none" / "HWiNFO64.dll";
    // Wine's command interpreter prompts differently from Windows' own.
    const std::string pausePrompt = "Press any key to continue... ";
    const std::string startLines = "HWINFO!\r\nHWINFO Init!\r\n";
    const std::string initStart = startLines + "HWINFO Init start.\r\n";
};

TEST_F(LibrarySearchUnderWine, NeverTakesTheLibraryFromTheCurrentDirectory)
{
    Installation installation(bridge, {});
    Installation current({}, windowsLibrary);
    ChildOptions options = wineOptions();
    options.workingDirectory = current.directory.path;
    ChildOutcome outcome = runChild(underWine(installation.program), options, 60s);
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.output, startLines + "HWINFO LoadLibrary Failure!\r\n" + pausePrompt);
}

TEST_F(LibrarySearchUnderWine, TakesTheProgramsFolderOrPath)
{
    // As on Linux, the library in the current directory cannot bind.
    Installation current({}, windowsEmptyLibrary);

    Installation beside(bridge, windowsLibrary);
    ChildOptions options = wineOptions();
    options.workingDirectory = current.directory.path;
    EXPECT_TRUE(binds(underWine(beside.program), options, initStart)) << "beside the program";

    // WINEPATH goes in front of the PATH that the Windows program sees.
    Installation alone(bridge, {});
    Installation onPath({}, windowsLibrary);
    options = wineOptions({"WINEPATH=" + windowsPath(onPath.directory.path)});
    options.workingDirectory = current.directory.path;
    EXPECT_TRUE(binds(underWine(alone.program), options, initStart)) << "on PATH";
}

}  // namespace

// The one version, where a user sees it: the version resource and manifest of
// the Windows programs, read back from the built executables with the
// resource compiler, and sensor-watch's --version.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "testing/child_process.h"
#include "testing/wine.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(Version, WindowsProgramsCarryTheVersionResourceAndManifest)
{
    const fs::path windres = WINDRES;
    if (windres.empty() || !fs::exists(windowsBin() / "sensor-bridge.exe"))
        GTEST_SKIP() << "needs mingw-w64's windres and the Windows build in " << windowsBin();
    for (std::string name : {"sensor-bridge", "sensor-bridge-launcher", "sensor-watch"}) {
        SCOPED_TRACE(name);
        const fs::path program = windowsBin() / (name + ".exe");
        ChildOutcome resources = runChild({windres.string(), "-i", program.string(), "-O", "rc"}, {}, 60s);
        ASSERT_TRUE(resources.exited);
        ASSERT_EQ(resources.exitCode, 0);
        const std::string &rc = resources.output;
        EXPECT_NE(rc.find(" FILEVERSION " FILE_VERSION "\n"), std::string::npos) << rc;
        EXPECT_NE(rc.find(" PRODUCTVERSION " FILE_VERSION "\n"), std::string::npos);
        for (auto [key, value] : {std::pair<std::string, std::string>{"FileVersion", VERSION},
                                  {"ProductVersion", VERSION},
                                  {"ProductName", "sensor-bridge"},
                                  {"OriginalFilename", name + ".exe"},
                                  {"LegalCopyright", "Copyright (c) 2026 the sensor-bridge authors"}})
            EXPECT_NE(rc.find("VALUE \"" + key + "\", \"" + value + "\"\n"), std::string::npos) << key;
        const std::string description = "VALUE \"FileDescription\", \"";
        const std::size_t at = rc.find(description);
        ASSERT_NE(at, std::string::npos);
        EXPECT_NE(rc[at + description.size()], '"') << "empty FileDescription";
        // The manifest, as windres quotes it.
        EXPECT_NE(rc.find("level=\"\"asInvoker\"\""), std::string::npos);
        EXPECT_NE(rc.find("<supportedOS Id=\"\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"\"/>"),
                  std::string::npos)
            << "Windows 10 and 11";
    }
}

TEST(Version, SensorWatchPrintsIt)
{
    ChildOutcome outcome = runChild({SENSOR_WATCH, "--version"}, {}, 60s);
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.output, "sensor-watch " VERSION "\n");
}

}  // namespace

// The logon launcher under Wine, run from the unpacked release zip with the
// simulated library: it starts the bridge again and again until the consumer
// has made the block, logs both, never waits at the bridge's "pause", ends
// the bridge when it ends itself, and registers itself for the current
// user's logon and removes itself again.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "testing/child_process.h"
#include "testing/installation.h"
#include "testing/wine.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The launcher's pauses of 2 s to 60 s become 0.2 s to 6 s.
const std::string shortPauses = "SENSOR_BRIDGE_LAUNCHER_SECOND_MS=100";
const std::string runKey = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::size_t occurrences(std::string_view text, std::string_view part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// Whether a sensor-bridge.exe runs: Wine gives each Windows program a process
// whose command line is the program's Windows path.
bool bridgeRuns()
{
    for (const fs::directory_entry &entry : fs::directory_iterator("/proc")) {
        std::string command;
        std::getline(std::ifstream(entry.path() / "cmdline"), command, '\0');
        if (command.ends_with("\\sensor-bridge.exe"))
            return true;
    }
    return false;
}

// The zip unpacked into a folder whose name is not ASCII, as a user's folder
// may be, and the log in the prefix, emptied.
class Launcher : public testing::Test {
  protected:
    void SetUp() override
    {
        if (!wineReady() || !fs::exists(windowsPackage()))
            GTEST_SKIP() << "needs Wine and " << windowsPackage() << " (cpack --preset windows)";
        const fs::path into = download.path / "Dönüş 下载";
        fs::create_directory(into);
        folder = unpackPackage(windowsPackage(), into);
        fs::remove_all(logFolder(winePrefix()));
    }
    static fs::path logFolder(const fs::path &prefix) { return localAppData(prefix) / "sensor-bridge"; }
    static std::string log(const fs::path &prefix = winePrefix())
    {
        return contents(logFolder(prefix) / "sensor-bridge.log");
    }
    fs::path launcher() const { return folder / "sensor-bridge-launcher.exe"; }
    ScratchDirectory download;
    fs::path folder;
};

TEST_F(Launcher, RestartsTheBridgeUntilTheBlockIsThereAndEndsItOnItsWayOut)
{
    fs::copy_file(windowsBin() / "HWiNFO64.dll", folder / "HWiNFO64.dll");
    ChildProcess running = startChild(underWine(launcher()), wineOptions({shortPauses}));
    StopAtExit stopLauncher{running};

    // Until the consumer has made the block, each start ends at once.
    ASSERT_TRUE(eventually(120s, [] { return occurrences(log(), "shareMemory_QORAInfo error!") >= 2; }))
        << log();
    const std::string early = log();
    EXPECT_NE(early.find("launcher: running from " + windowsPath(folder)), std::string::npos) << early;
    EXPECT_NE(early.find(" HWINFO Init start.\r\n"), std::string::npos) << early;
    EXPECT_NE(early.find("launcher: ended with code 0 after "), std::string::npos) << early;

    // A consumer that makes the block then gets snapshots, with nothing else done.
    ChildOutcome snapshot =
        runChild(underWine(folder / "sensor-watch.exe", {"--json", "--once", "--timeout", "120"}),
                 wineOptions(), 180s);
    EXPECT_EQ(snapshot.exitCode, 0) << snapshot.output;
    EXPECT_TRUE(snapshot.output.starts_with("{\"")) << snapshot.output;
    EXPECT_TRUE(bridgeRuns());

    stopChild(running);
    EXPECT_TRUE(eventually(60s, [] { return !bridgeRuns(); })) << "the bridge outlived the launcher";
}

TEST_F(Launcher, NeverWaitsAtTheBridgesPauseAndOutlastsAMissingBridge)
{
    // Without the library the bridge fails and runs "pause", whose input is NUL.
    ChildProcess running = startChild(underWine(launcher()), wineOptions({shortPauses}));
    StopAtExit stopLauncher{running};
    EXPECT_TRUE(eventually(120s, [] { return occurrences(log(), "HWINFO LoadLibrary Failure!") >= 2; }))
        << log();

    // A bridge that antivirus took away is tried again and again.
    fs::remove(folder / "sensor-bridge.exe");
    EXPECT_TRUE(eventually(120s, [] { return occurrences(log(), "launcher: cannot start ") >= 2; })) << log();
}

// In a prefix of its own: a Run value left behind would start a launcher, a
// bridge and its guard in every later test that boots the prefix.
TEST_F(Launcher, InstallsForTheCurrentUserAndUninstalls)
{
    const fs::path prefix = winePrefix().string() + "-registration";
    const ChildOptions options = wineOptions({shortPauses}, prefix);
    const auto registered = [&] {
        return runChild(underWine("reg", {"query", runKey, "/v", "sensor-bridge"}), options, 300s).output;
    };
    struct Cleanup {
        const ChildOptions &options;
        const fs::path &prefix;
        ~Cleanup()
        {
            runChild(underWine("reg", {"delete", runKey, "/v", "sensor-bridge", "/f"}), options, 120s);
            stopWine(prefix);
        }
    } cleanup{options, prefix};
    fs::remove_all(logFolder(prefix));
    EXPECT_EQ(registered().find("sensor-bridge-launcher"), std::string::npos);

    ChildOutcome installed = runChild(underWine(launcher(), {"--install"}), options, 120s);
    EXPECT_EQ(installed.exitCode, 0) << installed.output;
    EXPECT_TRUE(installed.output.starts_with("Starts at logon: " + runKey + "\\sensor-bridge = \"" +
                                             windowsPath(launcher()) + "\"\r\n"))
        << installed.output;
    // reg prints in the console's code page, which cannot spell the folder.
    EXPECT_NE(registered().find("\\sensor-bridge-launcher.exe\""), std::string::npos);
    EXPECT_TRUE(
        eventually(120s, [&] { return log(prefix).find("launcher: started ") != std::string::npos; }));

    ChildOutcome uninstalled = runChild(underWine(launcher(), {"--uninstall"}), options, 120s);
    EXPECT_EQ(uninstalled.exitCode, 0) << uninstalled.output;
    EXPECT_TRUE(uninstalled.output.starts_with("Ended the launcher and its bridge.")) << uninstalled.output;
    EXPECT_EQ(registered().find("sensor-bridge-launcher"), std::string::npos);
    EXPECT_TRUE(eventually(60s, [] { return !bridgeRuns(); }));
}

}  // namespace

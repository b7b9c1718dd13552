// The logon launcher under Wine, run from the unpacked release zip with the
// simulated library: it starts the bridge again and again until the consumer
// has made the block, logs both and why, never waits at the bridge's "pause",
// ends the bridge when it ends itself, keeps a held log whole, and registers
// itself, with sensor-watch, for the current user's logon and removes itself.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "testing/child_process.h"
#include "testing/installation.h"
#include "testing/wine.h"
#include "watch/tests/http_client.h"

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

// Whether a Windows program ("sensor-bridge.exe") runs in the prefix: Wine
// gives each a process whose command line starts with its Windows path.
bool runs(std::string_view program, const fs::path &prefix = winePrefix())
{
    for (const fs::directory_entry &entry : fs::directory_iterator("/proc")) {
        std::string command;
        std::getline(std::ifstream(entry.path() / "cmdline"), command, '\0');
        if (command.ends_with("\\" + std::string(program)) &&
            contents(entry.path() / "environ").find("WINEPREFIX=" + prefix.string() + '\0') !=
                std::string::npos)
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
    EXPECT_NE(early.find("launcher: sensor-bridge ended with code 0 after "), std::string::npos) << early;
    EXPECT_NE(
        early.find(" launcher: the block shareMemory_QORAInfo does not exist: the consumer has not made it "
                   "yet\r\n"),
        std::string::npos)
        << early;
    EXPECT_TRUE(
        std::regex_search(early, std::regex(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d launcher: )")))
        << early;

    // A consumer that makes the block then gets snapshots, with nothing else done.
    ChildOutcome snapshot =
        runChild(underWine(folder / "sensor-watch.exe", {"--json", "--once", "--timeout", "120"}),
                 wineOptions(), 180s);
    EXPECT_EQ(snapshot.exitCode, 0) << snapshot.output;
    EXPECT_TRUE(snapshot.output.starts_with("{\"")) << snapshot.output;
    EXPECT_TRUE(runs("sensor-bridge.exe"));

    stopChild(running);
    EXPECT_TRUE(eventually(60s, [] { return !runs("sensor-bridge.exe"); }))
        << "the bridge outlived the launcher";
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

// The log a little short of 1 MiB, held by a reader that does not share
// delete: the rename fails, so the log grows on whole, and moves aside once
// the reader is gone.
TEST_F(Launcher, ALogHeldWithoutDeleteSharingGrowsOnAndLosesNoLine)
{
    const fs::path current = logFolder(winePrefix()) / "sensor-bridge.log";
    const fs::path older = logFolder(winePrefix()) / "sensor-bridge.old.log";
    std::string filler;
    while (filler.size() < (1u << 20) - 2000)
        filler += "an older line\r\n";
    fs::create_directories(current.parent_path());
    std::ofstream(current, std::ios::binary) << filler;
    ChildOptions holding = wineOptions();
    holding.keepInputOpen = true;
    Running holder(underWine(windowsBin() / "hold-file.exe", {windowsPath(current)}), holding);
    ASSERT_TRUE(awaitOutput(holder.child, holder.output, "holding\r\n", 120s)) << holder.output;

    ChildProcess running = startChild(underWine(launcher()), wineOptions({shortPauses}));
    StopAtExit stopLauncher{running};
    ASSERT_TRUE(eventually(120s, [&] { return log().size() > (1u << 20) + 2000; }))
        << log().substr(filler.size());
    EXPECT_TRUE(log().starts_with(filler));

    closeInput(holder.child);
    ASSERT_TRUE(eventually(
        120s, [&] { return fs::exists(older) && log().find(" launcher: ") != std::string::npos; }));
    const std::string all = contents(older) + log();
    EXPECT_TRUE(all.starts_with(filler));
    // Each start's line has its end's, but for the start running now.
    EXPECT_LE(occurrences(all, " started ") - occurrences(all, " sensor-bridge ended with code "), 1u) << all;
}

// Registrations go into a prefix of their own: a Run value left behind would
// start a launcher, a bridge and its guard in every later test that boots
// the prefix. The value is removed however the test ends.
struct Registration {
    Registration() { fs::remove_all(localAppData(prefix) / "sensor-bridge"); }
    ~Registration()
    {
        runChild(underWine("reg", {"delete", runKey, "/v", "sensor-bridge", "/f"}), options, 120s);
        stopWine(prefix);
    }
    std::string registered() const
    {
        return runChild(underWine("reg", {"query", runKey, "/v", "sensor-bridge"}), options, 300s).output;
    }
    const fs::path prefix = winePrefix().string() + "-registration";
    // Wine gives every program an elevated token, which --install and
    // --uninstall otherwise refuse.
    const ChildOptions options =
        wineOptions({shortPauses, "SENSOR_BRIDGE_LAUNCHER_ALLOW_ELEVATED=1"}, prefix);
};

// With sensor-watch serving beside the bridge: a plain --install keeps its
// arguments, and --uninstall ends both.
TEST_F(Launcher, InstallsForTheCurrentUserWithSensorWatchAndUninstalls)
{
    fs::copy_file(windowsBin() / "HWiNFO64.dll", folder / "HWiNFO64.dll");
    const Registration registration;
    ChildOutcome refused =
        runChild(underWine(launcher(), {"--install"}), wineOptions({}, registration.prefix), 120s);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(
        refused.output.starts_with("sensor-bridge-launcher: --install refused: this prompt runs elevated"))
        << refused.output;
    EXPECT_EQ(registration.registered().find("sensor-bridge-launcher"), std::string::npos);

    ChildOutcome installed =
        runChild(underWine(launcher(), {"--install", "--watch", "--serve", "0"}), registration.options, 120s);
    EXPECT_EQ(installed.exitCode, 0) << installed.output;
    EXPECT_TRUE(installed.output.starts_with("Starts at logon: " + runKey + "\\sensor-bridge = \"" +
                                             windowsPath(launcher()) + "\" --watch --serve 0\r\n" +
                                             "Keeps running: sensor-watch.exe --serve 0\r\n"))
        << installed.output;
    // reg prints in the console's code page, which cannot spell the folder.
    EXPECT_NE(registration.registered().find(".exe\" --watch --serve 0"), std::string::npos);
    ChildOutcome again = runChild(underWine(launcher(), {"--install"}), registration.options, 120s);
    EXPECT_NE(
        again.output.find("Keeps running: sensor-watch.exe --serve 0 (as registered before)\r\nEnded the "
                          "launcher that ran.\r\n"),
        std::string::npos)
        << again.output;

    // The port is in sensor-watch's first line, in the log.
    const std::string serving = " sensor-watch: serving http://127.0.0.1:";
    const auto port = [&] {
        const std::string text = log(registration.prefix);
        const std::size_t at = text.rfind(serving);
        return at == std::string::npos ? 0 : std::atoi(text.c_str() + at + serving.size());
    };
    EXPECT_TRUE(eventually(180s, [&] { return sample(get(port()), "sensor_bridge_snapshot_fresh") == "1"; }))
        << log(registration.prefix);

    ChildOutcome uninstalled = runChild(underWine(launcher(), {"--uninstall"}), registration.options, 120s);
    EXPECT_EQ(uninstalled.exitCode, 0) << uninstalled.output;
    EXPECT_TRUE(uninstalled.output.starts_with("Ended the launcher and the programs it kept running.\r\n"))
        << uninstalled.output;
    EXPECT_EQ(registration.registered().find("sensor-bridge-launcher"), std::string::npos);
    EXPECT_TRUE(eventually(60s, [&] {
        return !runs("sensor-bridge.exe", registration.prefix) &&
               !runs("sensor-watch.exe", registration.prefix);
    }));
}

}  // namespace

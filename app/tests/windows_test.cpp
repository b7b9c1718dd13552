// The Windows executable under Wine: the same process checks as on Linux,
// through the Windows side of the platform seam (named mutex, LoadLibraryW by
// ordinal, named file mapping, the command interpreter's "pause"), and a block
// that must be byte-identical to the one the native build writes.
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <json/json.h>

#include <signal.h>
#include <sys/wait.h>

#include "testing/child_process.h"
#include "testing/wine.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Wine's command interpreter prompts differently from Windows' own
// ("Press any key to continue . . . ") and ends no line after the key.
const std::string pausePrompt = "Press any key to continue... ";
const std::string startLines = "HWINFO!\r\nHWINFO Init!\r\n";
const std::string running = startLines + "HWINFO Init start.\r\n";
const fs::path bridge = windowsBin() / "sensor-bridge.exe";
const fs::path watcher = windowsBin() / "sensor-watch.exe";

class UnderWine : public testing::Test {
  protected:
    void SetUp() override
    {
        if (!wineReady())
            GTEST_SKIP() << "needs Wine and the Windows build in " << windowsBin();
    }
    void TearDown() override
    {
        for (ChildProcess &child : children)
            stopChild(child);
    }
    ChildProcess &start(const fs::path &program, std::vector<std::string> arguments = {},
                        std::vector<std::string> environment = {})
    {
        children.push_back(startChild(underWine(program, std::move(arguments)), wineOptions(environment)));
        return children.back();
    }
    // Starts the program and waits until the reader, a sensor-watch started just
    // before, prints what it took from the program's first refresh. Under
    // Wine sensor-watch may not have made its mapping yet when the program
    // starts; such a start ends with the program's error line and is tried
    // again. The reader's output goes into shown, the program's into
    // startOutput.
    ChildProcess &startPublishing(ChildProcess &reader, std::string &shown,
                                  std::vector<std::string> environment = {})
    {
        for (int attempt = 0;; ++attempt) {
            ChildProcess &program = start(bridge, {}, environment);
            std::string &output = startOutput;
            output.clear();
            const auto deadline = std::chrono::steady_clock::now() + 120s;
            while (std::chrono::steady_clock::now() < deadline &&
                   output.find("error!") == std::string::npos) {
                output += readAvailable(program, 10ms);
                shown += readAvailable(reader, 100ms);
                if (!shown.empty()) {
                    output += readAvailable(program, 100ms);
                    return program;
                }
            }
            stopChild(program);
            if (attempt == 20) {
                ADD_FAILURE() << "the program never published: " << output;
                return program;
            }
            std::this_thread::sleep_for(200ms);
        }
    }
    std::deque<ChildProcess> children;  // keeps references valid as it grows
    std::string startOutput;
};

ChildOutcome runUnderWine(const fs::path &program, std::vector<std::string> environment = {},
                          bool keepInputOpen = false)
{
    ChildOptions options = wineOptions(environment);
    options.keepInputOpen = keepInputOpen;
    return runChild(underWine(program), options, 120s);
}

// The program copied into a directory of its own, with the given library.
struct Installation {
    explicit Installation(const fs::path &library)
    {
        fs::copy_file(bridge, directory.path / "sensor-bridge.exe");
        if (!library.empty())
            fs::copy_file(library, directory.path / "HWiNFO64.dll");
    }
    fs::path program() const { return directory.path / "sensor-bridge.exe"; }
    ScratchDirectory directory;
};

TEST_F(UnderWine, MissingLibraryOrOrdinalFailsAfterThePause)
{
    for (fs::path library : {fs::path{}, windowsBin() / "variants" / "without-360" / "HWiNFO64.dll",
                             windowsBin() / "variants" / "none" / "HWiNFO64.dll"}) {
        Installation installation(library);
        ChildOutcome outcome = runUnderWine(installation.program());
        EXPECT_TRUE(outcome.exited) << library;
        EXPECT_EQ(outcome.exitCode, 0);
        EXPECT_EQ(outcome.output, startLines + "HWINFO LoadLibrary Failure!\r\n" + pausePrompt);
    }
}

TEST_F(UnderWine, PauseWaitsForAKey)
{
    Installation installation({});
    ChildOptions options = wineOptions();
    options.keepInputOpen = true;
    ChildProcess child = startChild(underWine(installation.program()), options);
    StopAtExit stopChildAtExit{child};
    std::string output;
    EXPECT_TRUE(awaitOutput(child, output, pausePrompt, 120s)) << output;
    output += readAvailable(child, 500ms);
    EXPECT_EQ(output, startLines + "HWINFO LoadLibrary Failure!\r\n" + pausePrompt);
    ASSERT_EQ(write(child.input, "x", 1), 1);
    ChildOutcome outcome = finishChild(child, 120s);
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exitCode, 0);
}

TEST_F(UnderWine, InitFailurePrintsTheLastError)
{
    TextFile scenario("scenario", "init-fail 1234\n");
    ChildOutcome outcome = runUnderWine(bridge, {"HWINFO_SIM_SCENARIO=" + windowsPath(scenario.path)});
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.output, running + "HWi32_Init Failure. Error = 1234\r\n" + pausePrompt);
}

TEST_F(UnderWine, MissingOrSmallMappingEndsWithoutPause)
{
    const std::string expected = running + "shareMemory_QORAInfo error!\r\n";
    ChildOutcome outcome = runUnderWine(bridge, {}, true);
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.output, expected);

    // A second sensor-watch attaches to the first one's mapping and says how
    // large it is, which shows that the small mapping is there. Until the
    // first has made it, the second may make one itself, of the same size,
    // which the first then attaches to and keeps.
    ChildProcess &owner = start(watcher, {"--size", "65536"});
    const std::string attached = "attached to the existing block shareMemory_QORAInfo (65536 bytes)";
    ChildOptions options = wineOptions();
    options.mergeErrors = true;
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    std::string said;
    while (said.find(attached) == std::string::npos && std::chrono::steady_clock::now() < deadline)
        said = runChild(underWine(watcher, {"--size", "65536", "--once", "--timeout", "0.5"}), options, 120s)
                   .output;
    ASSERT_NE(said.find(attached), std::string::npos) << said;

    outcome = runUnderWine(bridge, {}, true);
    EXPECT_EQ(outcome.output, expected);
    EXPECT_EQ(waitpid(owner.pid, nullptr, WNOHANG), 0) << "the sensor-watch owning the mapping ended";
}

// One drifting reading is all it takes to see the block change.
constexpr std::string_view driftingScenario = "sensor \"CPU\"\n"
                                              "reading temperature \"Core 0\" 40 drift 5\n"
                                              "reading clock \"Core 0\" 3600\n";

TEST_F(UnderWine, SecondCopyEndsSilentlyUntilTheFirstDies)
{
    TextFile scenario("scenario", driftingScenario);
    const std::vector<std::string> environment{"HWINFO_SIM_SCENARIO=" + windowsPath(scenario.path)};
    ChildProcess &reader = start(watcher, {"--json"});
    std::string shown;
    ChildProcess &first = startPublishing(reader, shown, environment);
    EXPECT_EQ(startOutput, running);

    ChildOutcome second = runUnderWine(bridge);
    EXPECT_TRUE(second.exited);
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(second.output, "");

    // The mutex goes with the first copy, and a new copy publishes again.
    stopChild(first);
    shown.clear();
    startPublishing(reader, shown, environment);
    EXPECT_EQ(startOutput, running);
}

TEST_F(UnderWine, RunningCopyKeepsRewritingTheMapping)
{
    TextFile scenario("scenario", driftingScenario);
    ChildProcess &reader = start(watcher, {"--json"});
    std::string shown;
    startPublishing(reader, shown, {"HWINFO_SIM_SCENARIO=" + windowsPath(scenario.path)});
    // sensor-watch prints each snapshot that differs from the one before.
    const auto deadline = std::chrono::steady_clock::now() + 180s;
    while (std::count(shown.begin(), shown.end(), '\n') < 3 && std::chrono::steady_clock::now() < deadline)
        shown += readAvailable(reader, 500ms);

    std::istringstream lines(shown);
    int snapshots = 0;
    for (std::string line; std::getline(lines, line); ++snapshots) {
        Json::Value document;
        std::istringstream(line) >> document;
        ASSERT_TRUE(document.isObject()) << line;
        ASSERT_EQ(document.getMemberNames(), std::vector<std::string>{"cpu"}) << line;
        const Json::Value &readings = document["cpu"];
        ASSERT_EQ(readings.size(), 2u) << line;
        EXPECT_EQ(readings[0]["Core 0"]["type"], "temperature");
        EXPECT_EQ(readings[1]["Core 0"]["value"], "3600.000000");
    }
    EXPECT_GE(snapshots, 3) << shown;
}

// Names, labels and values that exercise the escapes and every value form.
constexpr std::string_view hostileScenario = R"(sensor "CPU \xB0C Caf\xC3\xA9 \xF0\x9F\x98\x80"
reading temperature "Core \"0\"\\\t" 45.5
reading temperature "\xB0C" -0.0
reading voltage "tiny" -1e-9
reading voltage "half" -0.5
reading fan "big" 1e300
reading fan "zero" 0
reading other "inf" inf
reading other "-inf" -inf
reading other "nan" nan
reading other "-nan" bits:fff8000000000001
reading other "ind" bits:fff8000000000000
reading other "snan" bits:7ff4000000000000
reading other "-snan" bits:fff4000000000000
reading clock @1023 "Last \x7f\x01" 4500.1234565
sensor "GPU"
reading usage "replaced" 1
sensor "gpu"
reading usage "twin" 1
reading usage "twin" 2
sensor "Dead \xFF\xFE"
reading power "gone" 1 invalid
sensor ""
reading current "" 0.25
sensor fill "N"
reading current fill "L" 0.5
)";

TEST_F(UnderWine, BlockIsByteIdenticalToTheNativeOne)
{
    TextFile scenario("scenario", hostileScenario);

    std::string native;
    {
        SharedObject block("/shareMemory_QORAInfo", 1 << 20);
        ChildOptions options;
        options.environment = {"HWINFO_SIM_SCENARIO=" + scenario.path};
        ChildProcess program = startChild({SENSOR_BRIDGE}, options);
        StopAtExit stopProgram{program};
        // The header is written last, and the values never change, so the
        // first copy with a header holds a completed refresh.
        const auto deadline = std::chrono::steady_clock::now() + 120s;
        while (!native.starts_with("HWi32_") && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(50ms);
            native = block.copy();
        }
    }
    ASSERT_TRUE(native.starts_with("HWi32_GetNumberOfDetectedSensors:\n"));

    ScratchDirectory dump;
    ChildProcess &reader = start(watcher, {"--dump", windowsPath(dump.path / "block")});
    std::string shown;
    startPublishing(reader, shown, {"HWINFO_SIM_SCENARIO=" + windowsPath(scenario.path)});
    ChildOutcome dumped = finishChild(reader, 120s);
    ASSERT_TRUE(dumped.exited) << dumped.output;
    std::ifstream file(dump.path / "block", std::ios::binary);
    std::string windows((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_EQ(windows.size(), native.size());
    EXPECT_TRUE(windows == native) << "first difference at "
                                   << std::mismatch(windows.begin(), windows.end(), native.begin()).first -
                                          windows.begin();
    EXPECT_NE(native.find(R"x("value":"-nan(ind)")x"), std::string::npos);
}

}  // namespace

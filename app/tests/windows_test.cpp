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

#include "testing/child_process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path windowsBin = WINDOWS_BIN;
const fs::path wine = "/usr/lib/wine/wine64";
const fs::path wineServer = "/usr/lib/wine/wineserver";

// Wine's command interpreter prompts differently from Windows' own
// ("Press any key to continue . . . ") and ends no line after the key.
const std::string pausePrompt = "Press any key to continue... ";
const std::string startLines = "HWINFO!\r\nHWINFO Init!\r\n";
const std::string running = startLines + "HWINFO Init start.\r\n";
const fs::path bridge = windowsBin / "sensor-bridge.exe";
const fs::path consumer = windowsBin / "consumer.exe";

// A throw-away Wine prefix in the build tree, set up by the first test that
// needs it and shared by the rest, with a server that stays up while a test
// runs so that each program starts quickly.
bool wineReady = false;

ChildOptions wineOptions(std::vector<std::string> extra = {})
{
    ChildOptions options;
    options.environment = {"WINEPREFIX=" WINE_PREFIX, "WINEDEBUG=-all"};
    options.environment.insert(options.environment.end(), extra.begin(), extra.end());
    return options;
}

class WineEnvironment : public testing::Environment {
  public:
    void SetUp() override
    {
        if (!fs::exists(wine) || !fs::exists(windowsBin / "sensor-bridge.exe"))
            return;
        wineReady = true;
        runChild({wineServer.string(), "-p"}, wineOptions(), 30s);
        // The first program in a new prefix sets the prefix up, which takes a while.
        runChild({wine.string(), "cmd", "/c", "exit"}, wineOptions(), 120s);
    }
    void TearDown() override
    {
        if (wineReady)
            runChild({wineServer.string(), "-k"}, wineOptions(), 30s);
    }
};

const auto *registered = testing::AddGlobalTestEnvironment(new WineEnvironment);

class UnderWine : public testing::Test {
  protected:
    void SetUp() override
    {
        if (!wineReady)
            GTEST_SKIP() << "needs " << wine << " and the Windows build in " << windowsBin;
    }
    void TearDown() override
    {
        for (ChildProcess &child : children)
            stopChild(child);
    }
    ChildProcess &start(const fs::path &program, std::vector<std::string> arguments = {},
                        std::vector<std::string> environment = {})
    {
        arguments.insert(arguments.begin(), {wine.string(), program.string()});
        children.push_back(startChild(arguments, wineOptions(environment)));
        return children.back();
    }
    // Starts the program once the consumer's mapping exists: a start that
    // finds no mapping yet ends at once and is tried again.
    ChildProcess &startWithBlock(std::string &output, std::vector<std::string> environment = {})
    {
        for (int attempt = 0;; ++attempt) {
            ChildProcess child = startChild({wine.string(), bridge.string()}, wineOptions(environment));
            output.clear();
            awaitOutput(child, output, running, 30s);
            output += readAvailable(child, 300ms);
            if (output == running || attempt == 50) {
                children.push_back(child);
                return children.back();
            }
            finishChild(child, 30s);
            std::this_thread::sleep_for(200ms);
        }
    }
    std::deque<ChildProcess> children;  // keeps references valid as it grows
};

ChildOutcome runUnderWine(const fs::path &program, std::vector<std::string> environment = {},
                          bool keepInputOpen = false)
{
    ChildOptions options = wineOptions(environment);
    options.keepInputOpen = keepInputOpen;
    return runChild({wine.string(), program.string()}, options, 60s);
}

// The path of a Linux file as a Windows program under Wine sees it.
std::string windowsPath(const fs::path &path)
{
    std::string text = "Z:" + path.string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
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

struct Scenario {
    explicit Scenario(std::string_view text) { std::ofstream(directory.path / "scenario") << text; }
    std::string path() const { return (directory.path / "scenario").string(); }
    ScratchDirectory directory;
};

TEST_F(UnderWine, MissingLibraryOrOrdinalFailsAfterThePause)
{
    for (fs::path library : {fs::path{}, windowsBin / "variants" / "without-360" / "HWiNFO64.dll",
                             windowsBin / "variants" / "none" / "HWiNFO64.dll"}) {
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
    ChildProcess child = startChild({wine.string(), installation.program().string()}, options);
    StopAtExit stopChildAtExit{child};
    std::string output;
    EXPECT_TRUE(awaitOutput(child, output, pausePrompt, 30s)) << output;
    output += readAvailable(child, 500ms);
    EXPECT_EQ(output, startLines + "HWINFO LoadLibrary Failure!\r\n" + pausePrompt);
    ASSERT_EQ(write(child.input, "x", 1), 1);
    ChildOutcome outcome = finishChild(child, 30s);
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exitCode, 0);
}

TEST_F(UnderWine, InitFailurePrintsTheLastError)
{
    Scenario scenario("init-fail 1234\n");
    ChildOutcome outcome = runUnderWine(bridge, {"HWINFO_SIM_SCENARIO=" + windowsPath(scenario.path())});
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

    start(consumer, {"--size", "65536"});
    for (int attempt = 0; attempt < 100; ++attempt) {
        // Until the small mapping exists the program fails the same way; the
        // check is that it never succeeds with it.
        outcome = runUnderWine(bridge, {}, true);
        ASSERT_EQ(outcome.output, expected);
        if (attempt >= 3)
            break;
        std::this_thread::sleep_for(300ms);
    }
}

TEST_F(UnderWine, SecondCopyEndsSilentlyUntilTheFirstDies)
{
    start(consumer, {"--timeout", "120"});
    std::string output;
    ChildProcess &first = startWithBlock(output);
    ASSERT_EQ(output, running);

    ChildOutcome second = runUnderWine(bridge);
    EXPECT_TRUE(second.exited);
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(second.output, "");

    stopChild(first);
    startWithBlock(output);
    EXPECT_EQ(output, running);
}

int readingCount(const Json::Value &document)
{
    int readings = 0;
    for (const Json::Value &sensor : document)
        readings += static_cast<int>(sensor.size());
    return readings;
}

TEST_F(UnderWine, RunningCopyRefreshesTheMappingAboutOncePerSecond)
{
    ChildProcess &reader = start(consumer, {"--json", "--timeout", "60"});
    std::string output;
    startWithBlock(output);
    auto started = std::chrono::steady_clock::now();
    std::string snapshots = readAvailable(reader, 5500ms);
    auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);

    std::istringstream lines(snapshots);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        Json::Value document;
        std::istringstream(line) >> document;
        EXPECT_TRUE(document.isObject());
        EXPECT_GE(document.size(), 10u);
        EXPECT_GE(readingCount(document), 150);
        ++count;
    }
    // One snapshot a second, give or take the start.
    EXPECT_GE(count, elapsed.count() / 1000 - 1);
    EXPECT_LE(count, elapsed.count() / 1000 + 1);
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
    Scenario scenario(hostileScenario);

    std::string native;
    {
        SharedObject block("/shareMemory_QORAInfo", 1 << 20);
        ChildOptions options;
        options.environment = {"HWINFO_SIM_SCENARIO=" + scenario.path()};
        ChildProcess program = startChild({SENSOR_BRIDGE}, options);
        StopAtExit stopProgram{program};
        for (int wait = 0; wait < 100 && !block.copy().starts_with("HWi32_"); ++wait)
            std::this_thread::sleep_for(50ms);
        // The values never change, so any completed refresh is the one to compare.
        std::this_thread::sleep_for(100ms);
        native = block.copy();
        stopChild(program);
    }
    ASSERT_TRUE(native.starts_with("HWi32_GetNumberOfDetectedSensors:\n"));

    ScratchDirectory dump;
    ChildProcess &reader = start(consumer, {"--dump", windowsPath(dump.path / "block"), "--timeout", "60"});
    std::string output;
    startWithBlock(output, {"HWINFO_SIM_SCENARIO=" + windowsPath(scenario.path())});
    ChildOutcome dumped = finishChild(reader, 60s);
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

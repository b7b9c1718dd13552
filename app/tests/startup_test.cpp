// The program as a whole process: its console lines, its exit codes, the
// single-instance guard and the refresh loop, against the simulated library.
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <json/json.h>

#include <signal.h>
#include <sys/mman.h>

#include "testing/child_process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char *blockName = "/shareMemory_QORAInfo";
constexpr std::size_t blockSize = 1 << 20;
const std::string pausePrompt = "Press any key to continue . . . \n";
const std::string startLines = "HWINFO!\nHWINFO Init!\n";

// The program copied into a directory of its own, with the given library
// beside it under the name it loads.
struct Installation {
    explicit Installation(const fs::path &library)
    {
        fs::copy_file(SENSOR_BRIDGE, directory.path / "sensor-bridge");
        if (!library.empty())
            fs::copy_file(library, directory.path / "HWiNFO64.dll");
    }
    std::string program() const { return (directory.path / "sensor-bridge").string(); }
    ScratchDirectory directory;
};

// A scenario file for the simulated library.
struct Scenario {
    explicit Scenario(std::string_view text) { std::ofstream(directory.path / "scenario") << text; }
    std::string variable() const { return "HWINFO_SIM_SCENARIO=" + (directory.path / "scenario").string(); }
    ScratchDirectory directory;
};

void removeBlock()
{
    shm_unlink(blockName);
}

TEST(Startup, MissingLibraryOrOrdinalFailsAfterThePause)
{
    for (fs::path library : {fs::path{}, fs::path(LIBRARY_VARIANTS) / "without-360" / "HWiNFO64.dll",
                             fs::path(LIBRARY_VARIANTS) / "without-714" / "HWiNFO64.dll"}) {
        Installation installation(library);
        ChildOutcome outcome = runChild({installation.program()}, {}, 10s);
        EXPECT_TRUE(outcome.exited) << library;
        EXPECT_EQ(outcome.exitCode, 0);
        EXPECT_EQ(outcome.output, startLines + "HWINFO LoadLibrary Failure!\n" + pausePrompt);
    }
}

TEST(Startup, PauseWaitsForAKey)
{
    Installation installation({});
    ChildOptions options;
    options.keepInputOpen = true;
    ChildProcess child = startChild({installation.program()}, options);
    StopAtExit stopChildAtExit{child};
    std::string output;
    EXPECT_TRUE(awaitOutput(child, output, "Press any key to continue . . . ", 10s));
    output += readAvailable(child, 300ms);
    EXPECT_EQ(output, startLines + "HWINFO LoadLibrary Failure!\nPress any key to continue . . . ");
    ASSERT_EQ(write(child.input, "x", 1), 1);
    ChildOutcome outcome = finishChild(child, 10s);
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.output, "\n");
}

TEST(Startup, InitFailurePrintsTheLastErrorNotTheResult)
{
    for (int error : {13, 2, 121}) {
        Scenario scenario("init-fail " + std::to_string(error) + "\n");
        ChildOptions options;
        options.environment = {scenario.variable()};
        ChildOutcome outcome = runChild({SENSOR_BRIDGE}, options, 10s);
        EXPECT_TRUE(outcome.exited);
        EXPECT_EQ(outcome.exitCode, 0);
        EXPECT_EQ(outcome.output, startLines + "HWINFO Init start.\nHWi32_Init Failure. Error = " +
                                      std::to_string(error) + "\n" + pausePrompt);
    }
}

TEST(Startup, MissingOrSmallBlockEndsWithoutPause)
{
    const std::string expected = startLines + "HWINFO Init start.\nshareMemory_QORAInfo error!\n";
    ChildOptions options;
    // Input stays open: the program must end without waiting for a key.
    options.keepInputOpen = true;

    removeBlock();
    ChildOutcome outcome = runChild({SENSOR_BRIDGE}, options, 10s);
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.output, expected);

    for (std::size_t size : {std::size_t{4096}, blockSize - 4096}) {
        SharedObject small(blockName, size);
        outcome = runChild({SENSOR_BRIDGE}, options, 10s);
        EXPECT_TRUE(outcome.exited);
        EXPECT_EQ(outcome.exitCode, 0);
        EXPECT_EQ(outcome.output, expected) << size;
    }
}

TEST(Startup, SecondCopyEndsSilentlyUntilTheFirstDies)
{
    SharedObject block(blockName, blockSize);
    const std::string running = startLines + "HWINFO Init start.\n";

    ChildProcess first = startChild({SENSOR_BRIDGE});
    StopAtExit stopFirst{first};
    std::string output;
    ASSERT_TRUE(awaitOutput(first, output, running, 10s)) << output;

    ChildOutcome second = runChild({SENSOR_BRIDGE}, {}, 10s);
    EXPECT_TRUE(second.exited);
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(second.output, "");

    stopChild(first);

    ChildProcess third = startChild({SENSOR_BRIDGE});
    StopAtExit stopThird{third};
    output.clear();
    EXPECT_TRUE(awaitOutput(third, output, running, 10s)) << output;
}

// A completed refresh in a copy of the block: its JSON text, or empty when the
// copy was taken in the middle of a refresh or before the first.
struct Refresh {
    std::string names;
    std::string text;
};

bool completed(const std::string &copy, Refresh &refresh)
{
    if (!copy.starts_with("HWi32_GetNumberOfDetectedSensors:\n"))
        return false;
    std::size_t end = copy.find('\0');
    std::size_t start = copy.rfind('\n', end) + 1;
    refresh.names = copy.substr(34, start - 34);
    refresh.text = copy.substr(start, end - start);
    Json::Value document;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    return reader->parse(refresh.text.data(), refresh.text.data() + refresh.text.size(), &document,
                         &errors) &&
           document.isObject();
}

int readingCount(const std::string &text)
{
    Json::Value document;
    std::istringstream(text) >> document;
    int readings = 0;
    for (const Json::Value &sensor : document)
        readings += static_cast<int>(sensor.size());
    return readings;
}

TEST(Startup, RefreshesTheBlockAboutOncePerSecond)
{
    SharedObject block(blockName, blockSize);
    auto started = std::chrono::steady_clock::now();
    ChildProcess program = startChild({SENSOR_BRIDGE});
    StopAtExit stopProgram{program};

    std::vector<std::chrono::steady_clock::time_point> changes;
    std::string last;
    Refresh refresh;
    while (std::chrono::steady_clock::now() - started < 4500ms) {
        std::string copy = block.copy();
        if (completed(copy, refresh) && refresh.text != last) {
            last = refresh.text;
            changes.push_back(std::chrono::steady_clock::now());
            EXPECT_GE(std::count(refresh.names.begin(), refresh.names.end(), '\n'), 10);
            EXPECT_GE(readingCount(refresh.text), 150);
        }
        std::this_thread::sleep_for(20ms);
    }
    stopChild(program);

    ASSERT_GE(changes.size(), 3u);
    ASSERT_LE(changes.size(), 5u);
    auto first = std::chrono::duration_cast<std::chrono::milliseconds>(changes.front() - started);
    EXPECT_GE(first.count(), 900);
    EXPECT_LE(first.count(), 2000);
    for (std::size_t i = 1; i < changes.size(); ++i) {
        auto period = std::chrono::duration_cast<std::chrono::milliseconds>(changes[i] - changes[i - 1]);
        EXPECT_GE(period.count(), 800);
        EXPECT_LE(period.count(), 1600);
    }
}

}  // namespace

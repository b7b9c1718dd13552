// The program as a whole process: its console lines, its exit codes, the
// single-instance guard and the refresh loop, against the simulated library.
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <json/json.h>

#include <signal.h>
#include <sys/mman.h>

#include "testing/child_process.h"
#include "testing/installation.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char *blockName = "/shareMemory_QORAInfo";
constexpr std::size_t blockSize = 1 << 20;
const std::string pausePrompt = "Press any key to continue . . . \n";
const std::string startLines = "HWINFO!\nHWINFO Init!\n";

void removeBlock()
{
    shm_unlink(blockName);
}

TEST(Startup, MissingLibraryOrOrdinalFailsAfterThePause)
{
    for (fs::path library : {fs::path{}, fs::path(LIBRARY_VARIANTS) / "without-360" / "HWiNFO64.dll",
                             fs::path(LIBRARY_VARIANTS) / "without-714" / "HWiNFO64.dll"}) {
        Installation installation(SENSOR_BRIDGE, library);
        ChildOutcome outcome = runChild({installation.program}, {}, 60s);
        EXPECT_TRUE(outcome.exited) << library;
        EXPECT_EQ(outcome.exitCode, 0);
        EXPECT_EQ(outcome.output, startLines + "HWINFO LoadLibrary Failure!\n" + pausePrompt);
    }
}

TEST(Startup, PauseWaitsForAKey)
{
    Installation installation(SENSOR_BRIDGE, {});
    ChildOptions options;
    options.keepInputOpen = true;
    ChildProcess child = startChild({installation.program}, options);
    StopAtExit stopChildAtExit{child};
    std::string output;
    EXPECT_TRUE(awaitOutput(child, output, "Press any key to continue . . . ", 60s));
    output += readAvailable(child, 300ms);
    EXPECT_EQ(output, startLines + "HWINFO LoadLibrary Failure!\nPress any key to continue . . . ");
    ASSERT_EQ(write(child.input, "x", 1), 1);
    ChildOutcome outcome = finishChild(child, 60s);
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.output, "\n");
}

TEST(Startup, InitFailurePrintsTheLastErrorNotTheResult)
{
    for (int error : {13, 2, 121}) {
        TextFile scenario("scenario", "init-fail " + std::to_string(error) + "\n");
        ChildOptions options;
        options.environment = {"HWINFO_SIM_SCENARIO=" + scenario.path};
        ChildOutcome outcome = runChild({SENSOR_BRIDGE}, options, 60s);
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
    ChildOutcome outcome = runChild({SENSOR_BRIDGE}, options, 60s);
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.output, expected);

    for (std::size_t size : {std::size_t{4096}, blockSize - 4096}) {
        SharedObject small(blockName, size);
        outcome = runChild({SENSOR_BRIDGE}, options, 60s);
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
    ASSERT_TRUE(awaitOutput(first, output, running, 60s)) << output;

    ChildOutcome second = runChild({SENSOR_BRIDGE}, {}, 60s);
    EXPECT_TRUE(second.exited);
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(second.output, "");

    stopChild(first);

    ChildProcess third = startChild({SENSOR_BRIDGE});
    StopAtExit stopThird{third};
    output.clear();
    EXPECT_TRUE(awaitOutput(third, output, running, 60s)) << output;
}

struct Refresh {
    std::string text;
    Json::Value document;
};

// The completed refresh in a copy of the block, or nothing when the copy was
// taken before the first refresh or in the middle of one.
std::optional<Refresh> completedRefresh(const std::string &copy)
{
    constexpr std::string_view header = "HWi32_GetNumberOfDetectedSensors:\n";
    if (!copy.starts_with(header))
        return std::nullopt;
    std::size_t end = copy.find('\0');
    std::size_t start = copy.rfind('\n', end) + 1;
    if (copy.substr(header.size(), start - header.size()) != "cpu\n")
        return std::nullopt;
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Refresh refresh{copy.substr(start, end - start), {}};
    if (!reader->parse(copy.data() + start, copy.data() + end, &refresh.document, nullptr))
        return std::nullopt;
    return refresh;
}

TEST(Startup, RefreshesTheBlockFromOneSecondOnAndKeepsRewritingIt)
{
    // One drifting reading is all it takes to see the block change.
    TextFile scenario("scenario", "sensor \"CPU\"\n"
                                  "reading temperature \"Core 0\" 40 drift 5\n"
                                  "reading clock \"Core 0\" 3600\n");
    SharedObject block(blockName, blockSize);
    ChildOptions options;
    options.environment = {"HWINFO_SIM_SCENARIO=" + scenario.path};
    const auto started = std::chrono::steady_clock::now();
    ChildProcess program = startChild({SENSOR_BRIDGE}, options);
    StopAtExit stopProgram{program};

    // The first refresh comes after the one-second pause; how long the
    // refreshes then take depends on the machine's load, so the test waits
    // for three distinct snapshots as long as it must.
    std::optional<std::chrono::steady_clock::duration> first;
    std::vector<std::string> texts;
    const auto deadline = started + 120s;
    while (texts.size() < 3 && std::chrono::steady_clock::now() < deadline) {
        std::string copy = block.copy();
        if (!first && copy.starts_with("HWi32_"))
            first = std::chrono::steady_clock::now() - started;
        if (std::optional<Refresh> refresh = completedRefresh(copy)) {
            const Json::Value &readings = refresh->document["cpu"];
            ASSERT_EQ(refresh->document.getMemberNames(), std::vector<std::string>{"cpu"});
            ASSERT_EQ(readings.size(), 2u);
            EXPECT_EQ(readings[0]["Core 0"]["type"], "temperature");
            EXPECT_EQ(readings[1]["Core 0"]["value"], "3600.000000");
            if (texts.empty() || texts.back() != refresh->text)
                texts.push_back(refresh->text);
        }
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(first.has_value()) << "no refresh at all";
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(*first).count(), 950);
    EXPECT_EQ(texts.size(), 3u) << "the block stopped changing";
}

}  // namespace

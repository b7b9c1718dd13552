// The program as a whole process, natively and as the Windows build under
// Wine (named mutex, LoadLibraryW by ordinal, named file mapping, the command
// interpreter's "pause"): its console lines, its exit codes, the
// single-instance guard and the refresh loop, against the simulated library.
// sensor-watch of the same platform plays the consumer: it makes the block
// and shows what the program publishes in it.
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <json/json.h>

#include <sys/mman.h>

#include "testing/child_process.h"
#include "testing/golden.h"
#include "testing/installation.h"
#include "testing/native_or_wine.h"
#include "testing/scenarios.h"
#include "testing/wine.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class Bridge : public PlatformTest {
  protected:
    void SetUp() override
    {
        PlatformTest::SetUp();
        forgetBlock();
    }
    void TearDown() override
    {
        for (ChildProcess &child : children)
            stopChild(child);
        forgetBlock();
    }
    // Whether a block of that size is there for the program. Natively the
    // object shows in /dev/shm. Under Wine a second sensor-watch attaches to
    // it and says how large it is; until the first has made it, the second
    // may make one itself, of the same size, which the first then attaches
    // to and keeps. (Natively that one would be removed with its maker.)
    bool blockIsThere(const std::string &size) const
    {
        if (!platform().viaWine) {
            std::error_code error;
            return std::to_string(fs::file_size("/dev/shm/shareMemory_QORAInfo", error)) == size;
        }
        ChildOptions options = platform().options();
        options.mergeErrors = true;
        const std::string said =
            runChild(platform().command(watch(), {"--size", size, "--once", "--timeout", "0.5"}), options,
                     120s)
                .output;
        return said.find("attached to the existing block shareMemory_QORAInfo (" + size + " bytes)") !=
               std::string::npos;
    }
    fs::path bridge() const { return platform().program("sensor-bridge"); }
    fs::path watch() const { return platform().program("sensor-watch"); }
    std::string lines(std::string_view text) const { return platform().lines(text); }
    std::vector<std::string> scenario(const TextFile &file) const
    {
        return {"HWINFO_SIM_SCENARIO=" + platform().path(file.path)};
    }
    ChildProcess &start(const fs::path &program, std::vector<std::string> arguments = {},
                        std::vector<std::string> environment = {})
    {
        children.push_back(startChild(platform().command(program, std::move(arguments)),
                                      platform().options(std::move(environment))));
        return children.back();
    }
    ChildOutcome run(const fs::path &program, std::vector<std::string> environment = {},
                     bool keepInputOpen = false)
    {
        ChildOptions options = platform().options(std::move(environment));
        options.keepInputOpen = keepInputOpen;
        return runChild(platform().command(program), options, 120s);
    }
    // Starts the program once the reader, a sensor-watch started just
    // before, has made the block, and waits until the reader prints what it
    // took from the program's first refresh. The reader's output goes into
    // shown, the program's into startOutput, and the moment of the start
    // into started.
    ChildProcess &startPublishing(ChildProcess &reader, std::string &shown,
                                  std::vector<std::string> environment = {})
    {
        EXPECT_TRUE(eventually(120s, [&] { return blockIsThere("1048576"); }));
        started = Clock::now();
        ChildProcess &program = start(bridge(), {}, std::move(environment));
        startOutput.clear();
        EXPECT_TRUE(eventually(120s,
                               [&] {
                                   startOutput += readAvailable(program, 10ms);
                                   shown += readAvailable(reader, 100ms);
                                   return !shown.empty();
                               }))
            << "the program never published: " << startOutput;
        startOutput += readAvailable(program, 100ms);
        return program;
    }
    std::deque<ChildProcess> children;  // keeps references valid as it grows
    std::string startOutput;
    Clock::time_point started;
};

TEST_P(Bridge, FailsAfterThePauseWithoutTheLibraryOrOneOfItsEntries)
{
    for (std::string_view variant : {"", "without-360", "without-714", "none"}) {
        Installation installation(bridge(), variant.empty() ? fs::path{} : platform().library(variant));
        ChildOutcome outcome = run(installation.program);
        EXPECT_TRUE(outcome.exited) << variant;
        EXPECT_EQ(outcome.exitCode, 0);
        EXPECT_EQ(outcome.output, lines("HWINFO!\nHWINFO Init!\nHWINFO LoadLibrary Failure!\n") +
                                      platform().pausePrompt + platform().afterKey);
    }
}

TEST_P(Bridge, PauseWaitsForAKey)
{
    Installation installation(bridge(), {});
    ChildOptions options = platform().options();
    options.keepInputOpen = true;
    ChildProcess child = startChild(platform().command(installation.program), options);
    StopAtExit stopChildAtExit{child};
    const std::string waiting =
        lines("HWINFO!\nHWINFO Init!\nHWINFO LoadLibrary Failure!\n") + platform().pausePrompt;
    std::string output;
    EXPECT_TRUE(awaitOutput(child, output, waiting, 120s)) << output;
    output += readAvailable(child, 500ms);
    EXPECT_EQ(output, waiting);
    ASSERT_EQ(write(child.input, "x", 1), 1);
    ChildOutcome outcome = finishChild(child, 120s);
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.output, platform().afterKey);
}

TEST_P(Bridge, InitFailurePrintsTheLastErrorNotTheResult)
{
    for (int error : {13, 1234}) {
        TextFile file("scenario", "init-fail " + std::to_string(error) + "\n");
        ChildOutcome outcome = run(bridge(), scenario(file));
        EXPECT_TRUE(outcome.exited);
        EXPECT_EQ(outcome.exitCode, 0);
        EXPECT_EQ(outcome.output,
                  lines("HWINFO!\nHWINFO Init!\nHWINFO Init start.\nHWi32_Init Failure. Error = " +
                        std::to_string(error) + "\n") +
                      platform().pausePrompt + platform().afterKey);
    }
}

TEST_P(Bridge, EndsWithoutPauseWhenTheBlockIsMissingOrSmall)
{
    // Input stays open: the program must end without waiting for a key.
    const std::string expected =
        lines("HWINFO!\nHWINFO Init!\nHWINFO Init start.\nshareMemory_QORAInfo error!\n");
    ChildOutcome outcome = run(bridge(), {}, true);
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.output, expected);

    for (std::string size : {"65536", "1044480"}) {
        ChildProcess &owner = start(watch(), {"--size", size});
        EXPECT_TRUE(eventually(120s, [&] { return blockIsThere(size); })) << size;
        outcome = run(bridge(), {}, true);
        EXPECT_EQ(outcome.output, expected) << size;
        stopChild(owner);
        forgetBlock();
    }
}

TEST_P(Bridge, SecondCopyEndsSilentlyUntilTheFirstDies)
{
    TextFile file("scenario", driftingScenario);
    ChildProcess &reader = start(watch(), {"--json"});
    std::string shown;
    ChildProcess &first = startPublishing(reader, shown, scenario(file));
    EXPECT_EQ(startOutput, lines("HWINFO!\nHWINFO Init!\nHWINFO Init start.\n"));

    ChildOutcome second = run(bridge());
    EXPECT_TRUE(second.exited);
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(second.output, "");

    // The guard goes with the first copy, and a new copy publishes again.
    stopChild(first);
    shown.clear();
    startPublishing(reader, shown, scenario(file));
    EXPECT_EQ(startOutput, lines("HWINFO!\nHWINFO Init!\nHWINFO Init start.\n"));
}

TEST_P(Bridge, RefreshesTheBlockFromOneSecondOnAndKeepsRewritingIt)
{
    TextFile file("scenario", driftingScenario);
    ChildProcess &reader = start(watch(), {"--json"});
    std::string shown;
    startPublishing(reader, shown, scenario(file));
    // The first refresh comes after the one-second pause; how long the
    // refreshes then take depends on the machine's load, so the test waits
    // for three snapshots as long as it must. sensor-watch prints each one
    // that differs from the one before.
    EXPECT_GE(Clock::now() - started, 950ms);
    const auto deadline = Clock::now() + 180s;
    while (std::count(shown.begin(), shown.end(), '\n') < 3 && Clock::now() < deadline)
        shown += readAvailable(reader, 500ms);

    std::istringstream texts(shown);
    int snapshots = 0;
    for (std::string line; std::getline(texts, line); ++snapshots) {
        Json::Value document;
        std::istringstream(line) >> document;
        ASSERT_EQ(document.getMemberNames(), std::vector<std::string>{"cpu"}) << line;
        const Json::Value &readings = document["cpu"];
        ASSERT_EQ(readings.size(), 2u) << line;
        EXPECT_EQ(readings[0]["Core 0"]["type"], "temperature");
        EXPECT_EQ(readings[1]["Core 0"]["value"], "3600.000000");
    }
    EXPECT_GE(snapshots, 3) << shown;
}

// Both platforms write the block of the golden file, and so the same block
// byte for byte: the header, the raw name lines, the escaped text, and zeros
// to the end of the mebibyte.
TEST_P(Bridge, WritesTheGoldenBlockForHostileNamesAndValues)
{
    TextFile file("scenario", hostileScenario);
    ScratchDirectory dump;
    ChildProcess &reader = start(watch(), {"--dump", platform().path(dump.path / "block")});
    std::string shown;
    startPublishing(reader, shown, scenario(file));
    ChildOutcome outcome = finishChild(reader, 120s);
    ASSERT_TRUE(outcome.exited) << outcome.output;
    std::ifstream stream(dump.path / "block", std::ios::binary);
    std::string block{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    ASSERT_EQ(block.size(), std::size_t{1} << 20);
    const std::size_t end = block.find_last_not_of('\0') + 1;
    EXPECT_EQ(block.find_first_not_of('\0', end), std::string::npos);
    expectGolden(GOLDEN "/hostile-block", block.substr(0, end));
}

INSTANTIATE_TEST_SUITE_P(OnEachPlatform, Bridge, testing::ValuesIn(platforms()), platformName);

}  // namespace

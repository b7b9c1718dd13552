// Runs the built sensor-watch against a writer played by the test, through the
// real POSIX shared-memory object.
#include "watch/tests/block_writer.h"
#include "testing/child_process.h"

#include "watch/block_reader.h"

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace {

// Runs sensor-watch to its end, calling `tick` with its output so far about
// every 100 ms while it runs and the block exists; kills it after 20 s.
ChildOutcome runWatch(const std::vector<std::string> &args, bool mergeErrors,
                      const std::function<void(pid_t, const std::string &)> &tick)
{
    std::vector<std::string> arguments{SENSOR_WATCH};
    arguments.insert(arguments.end(), args.begin(), args.end());
    ChildOptions options;
    options.mergeErrors = mergeErrors;
    ChildProcess child = startChild(arguments, options);
    std::string output;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (child.output >= 0 && std::chrono::steady_clock::now() < deadline) {
        output += readAvailable(child, std::chrono::milliseconds(100));
        if (blockObjectSize() > 0)
            tick(child.pid, output);
    }
    ChildOutcome outcome = finishChild(child, std::chrono::seconds(1));
    outcome.output.insert(0, output);
    return outcome;
}

using WatchProcess = OwnBlockTest;

TEST_F(WatchProcess, PrintsTheFirstValidSnapshotAsJson)
{
    const std::string text = R"({"cpu":[{"Core 0":{"type":"temperature","value":"41.000000"}}],"gpu":null})";
    const ChildOutcome outcome = runWatch({"--json", "--once", "--timeout", "5"}, false,
                                          [&](pid_t, const std::string &) { publish("cpu\ngpu\n", text); });
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.output, text + "\n");
}

TEST_F(WatchProcess, RemovesTheBlockOnInterrupt)
{
    const ChildOutcome outcome =
        runWatch({}, true, [](pid_t pid, const std::string &) { kill(pid, SIGINT); });
    EXPECT_TRUE(outcome.exited) << "ended by a signal or killed";
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
}

TEST_F(WatchProcess, ReportsLastingGarbageOnceAndTimesOut)
{
    const ChildOutcome outcome =
        runWatch({"--once", "--timeout", "4.5"}, true,
                 [](pid_t, const std::string &) { publish("cpu\n", R"({"cpu":[{"Core 0":)"); });
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exitCode, 1);
    const std::string reported = "sensor-watch: block holds no valid snapshot: ";
    const std::size_t first = outcome.output.find(reported);
    ASSERT_NE(first, std::string::npos) << outcome.output;
    EXPECT_EQ(outcome.output.find(reported, first + 1), std::string::npos) << outcome.output;
    EXPECT_NE(outcome.output.find("sensor-watch: no valid snapshot within 4.5 s"), std::string::npos)
        << outcome.output;
}

TEST_F(WatchProcess, RejectsBadOptionsBeforeTouchingTheBlock)
{
    ChildOptions options;
    options.mergeErrors = true;
    for (const std::vector<std::string> &arguments :
         std::vector<std::vector<std::string>>{{"--serve", "0", "--json"},
                                               {"--timeout", "0"},
                                               {"--size", "-1"},
                                               {"--serve", "[::1]"},
                                               {"--allow-host", "pc"},
                                               {"--no-units", "--json"},
                                               {"--bogus"}}) {
        std::vector<std::string> command{SENSOR_WATCH};
        command.insert(command.end(), arguments.begin(), arguments.end());
        const ChildOutcome outcome = runChild(command, options, std::chrono::seconds(20));
        EXPECT_EQ(outcome.exitCode, 2) << arguments.front() << ": " << outcome.output;
        EXPECT_NE(outcome.output.find("Run with --help for more information."), std::string::npos);
    }
    const ChildOutcome help = runChild({SENSOR_WATCH, "--help"}, options, std::chrono::seconds(20));
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("Usage: sensor-watch [OPTIONS]"), std::string::npos) << help.output;
}

TEST_F(WatchProcess, AttachesToAForeignBlockAndLeavesItAsItIs)
{
    // As the real application might make it: twice the size, holding a
    // snapshot from before and bytes of its own past the first mebibyte.
    const std::size_t size = 2 * watch::blockSize;
    std::string content;
    {
        SharedObject foreign(objectName.c_str(), size);
        publish("cpu\n", R"({"cpu":[{"Core 0":{"type":"temperature","value":"30.000000"}}]})");
        static_cast<char *>(foreign.view)[size - 1] = 'Z';
        // The old snapshot is no new one: only one published after
        // sensor-watch's first look is printed. It says it has attached
        // before that look, which a busy machine may hold up, so every look
        // here publishes another snapshot. --size is for a block it creates.
        const std::array<std::string, 2> texts = {
            R"({"cpu":[{"Core 0":{"type":"temperature","value":"41.000000"}}]})",
            R"({"cpu":[{"Core 0":{"type":"temperature","value":"42.000000"}}]})"};
        std::size_t published = 0;
        const ChildOutcome outcome = runWatch({"--json", "--once", "--timeout", "20", "--size", "65536"},
                                              true, [&](pid_t, const std::string &output) {
                                                  if (output.find("attached") != std::string::npos)
                                                      publish("cpu\n", texts[published++ % 2]);
                                                  content = foreign.copy();
                                              });
        EXPECT_TRUE(outcome.exited);
        EXPECT_EQ(outcome.exitCode, 0);
        const std::string attached =
            "sensor-watch: attached to the existing block shareMemory_QORAInfo (2097152 "
            "bytes), which stays as it is\n";
        EXPECT_TRUE(outcome.output == attached + texts[0] + "\n" ||
                    outcome.output == attached + texts[1] + "\n")
            << outcome.output;
        EXPECT_EQ(blockObjectSize(), size) << "the block did not outlive sensor-watch with its size";
        EXPECT_EQ(foreign.copy(), content) << "sensor-watch changed the block";
        EXPECT_EQ(content.back(), 'Z');
    }
}

// The owner of a foreign block shrinks it while sensor-watch is attached: a
// copy from a mapping would fault there (SIGBUS) and end the tool.
TEST_F(WatchProcess, ReportsABlockThatItsOwnerShrankAndExits)
{
    SharedObject foreign(objectName.c_str(), watch::blockSize);
    bool shrunk = false;
    const ChildOutcome outcome = runWatch({"--json"}, true, [&](pid_t, const std::string &output) {
        if (shrunk || output.find("attached") == std::string::npos)
            return;
        shrunk = truncate(("/dev/shm" + objectName).c_str(), 4096) == 0;
    });
    EXPECT_TRUE(outcome.exited) << "ended by a signal or killed";
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_NE(outcome.output.find(
                  "sensor-watch: the block shareMemory_QORAInfo shrank from 1048576 to 4096 bytes\n"),
              std::string::npos)
        << outcome.output;
}

}  // namespace

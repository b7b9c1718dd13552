// Runs the built consumer against a writer played by the test, through the
// real POSIX shared-memory object.
#include "block_writer.h"
#include "testing/child_process.h"

#include <signal.h>
#include <sys/mman.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace {

// Runs the consumer to its end, calling `tick` about every 100 ms while it
// runs and the block exists; kills it after 20 s.
ChildOutcome runConsumer(const std::vector<std::string> &args, bool mergeErrors,
                         const std::function<void(pid_t)> &tick)
{
    std::vector<std::string> arguments{CONSUMER_EXE};
    arguments.insert(arguments.end(), args.begin(), args.end());
    ChildOptions options;
    options.mergeErrors = mergeErrors;
    ChildProcess child = startChild(arguments, options);
    std::string output;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (child.output >= 0 && std::chrono::steady_clock::now() < deadline) {
        output += readAvailable(child, std::chrono::milliseconds(100));
        if (blockExists())
            tick(child.pid);
    }
    ChildOutcome outcome = finishChild(child, std::chrono::seconds(1));
    outcome.output.insert(0, output);
    return outcome;
}

class ConsumerProcess : public testing::Test {
  protected:
    // A block left over from an interrupted run would look like the consumer's
    // own before it has made it.
    void SetUp() override { shm_unlink(objectName.c_str()); }
    void TearDown() override { EXPECT_FALSE(blockExists()) << "the consumer left the block behind"; }
};

TEST_F(ConsumerProcess, PrintsTheFirstValidSnapshotAsJson)
{
    const std::string text = R"({"cpu":[{"Core 0":{"type":"temperature","value":"41.000000"}}],"gpu":null})";
    const ChildOutcome outcome = runConsumer({"--json", "--once", "--timeout", "5"}, false,
                                             [&](pid_t) { publish("cpu\ngpu\n", text); });
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.output, text + "\n");
}

TEST_F(ConsumerProcess, RemovesTheBlockOnInterrupt)
{
    const ChildOutcome outcome = runConsumer({}, true, [](pid_t pid) { kill(pid, SIGINT); });
    EXPECT_TRUE(outcome.exited) << "ended by a signal or killed";
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
}

TEST_F(ConsumerProcess, ReportsLastingGarbageOnceAndTimesOut)
{
    const ChildOutcome outcome = runConsumer({"--once", "--timeout", "4.5"}, true,
                                             [](pid_t) { publish("cpu\n", R"({"cpu":[{"Core 0":)"); });
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exitCode, 1);
    const std::string reported = "consumer: block holds no valid snapshot: ";
    const std::size_t first = outcome.output.find(reported);
    ASSERT_NE(first, std::string::npos) << outcome.output;
    EXPECT_EQ(outcome.output.find(reported, first + 1), std::string::npos) << outcome.output;
    EXPECT_NE(outcome.output.find("consumer: no valid snapshot within 4.5 s"), std::string::npos)
        << outcome.output;
}

}  // namespace

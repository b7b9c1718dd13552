// Runs the built sensor-watch against a writer played by the test, through the
// real POSIX shared-memory object.
#include "watch/tests/block_writer.h"
#include "testing/child_process.h"

#include "watch/block_reader.h"

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Runs sensor-watch to its end, calling `tick` with its output so far about
// every 100 ms while it runs and the block exists; kills it after `limit`.
ChildOutcome runWatch(const std::vector<std::string> &args, bool mergeErrors,
                      const std::function<void(pid_t, const std::string &)> &tick,
                      std::chrono::seconds limit = std::chrono::seconds(20))
{
    std::vector<std::string> arguments{SENSOR_WATCH};
    arguments.insert(arguments.end(), args.begin(), args.end());
    ChildOptions options;
    options.mergeErrors = mergeErrors;
    ChildProcess child = startChild(arguments, options);
    std::string output;
    const auto deadline = std::chrono::steady_clock::now() + limit;
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
                                               {"--csv-every", "5"},
                                               {"--csv", "log.csv", "--csv-every", "0"},
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

// A sensor whose name and labels hold commas and quotes, with values of the
// step, and with a third reading when `more`.
std::string loggedText(int step, bool more)
{
    const std::string value = std::to_string(step) + ".500000";
    return R"({"a \"b\", c":[{"x,\"y\"":{"type":"temperature","value":")" + value +
           R"("}},{"Core":{"type":"clock","value":")" + value + R"("}})" +
           (more ? R"(,{"new":{"type":"fan","value":"-1.000000"}})" : "") + "]}";
}

TEST_F(WatchProcess, LogsEachSnapshotAsARowThatPythonReadsBack)
{
    ScratchDirectory folder;
    const std::string log = (folder.path / "log.csv").string();
    int step = 0;
    // A new snapshot at every look: 20 of one set of readings, then more.
    const ChildOutcome outcome = runWatch(
        {"--json", "--csv", log}, false,
        [&](pid_t pid, const std::string &output) {
            const auto shown = std::ranges::count(output, '\n');
            if (shown >= 22)
                kill(pid, SIGINT);
            else
                publish("a \"b\", c\n", loggedText(++step, shown >= 20));
        },
        std::chrono::seconds(300));
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
    // Each --json line is a snapshot that the log took, in the first file
    // or, with more readings, the second: its values, in order.
    const std::string header = R"(time|a "b", c / x,"y" [°C]|a "b", c / Core [MHz])";
    std::string expected[2] = {header + "\n", header + R"(|a "b", c / new [RPM])" + "\n"};
    std::size_t rows[2] = {};
    std::istringstream lines(outcome.output);
    const std::regex value(R"re("value":"([^"]*)")re");
    for (std::string line; std::getline(lines, line);) {
        const bool more = line.find("new") != std::string::npos;
        for (std::sregex_iterator i(line.begin(), line.end(), value); i != std::sregex_iterator(); ++i)
            expected[more] += (*i)[1].str() + (std::next(i) == std::sregex_iterator() ? "\n" : "|");
        ++rows[more];
    }
    EXPECT_GE(rows[0], 20u);
    EXPECT_GE(rows[1], 1u);
    // Python reads each file's header and rows, checks the time, and prints
    // the rest.
    const ChildOutcome read =
        runChild({PYTHON, "-c",
                  "import csv, datetime, sys\n"
                  "for path in sys.argv[1:]:\n"
                  "    header, *rows = csv.reader(open(path, newline='', encoding='utf-8'))\n"
                  "    print('|'.join(header))\n"
                  "    for row in rows:\n"
                  "        datetime.datetime.fromisoformat(row[0])\n"
                  "        print('|'.join(row[1:]))\n",
                  log, (folder.path / "log-2.csv").string()},
                 {}, std::chrono::seconds(60));
    EXPECT_EQ(read.exitCode, 0);
    EXPECT_EQ(read.output, expected[0] + expected[1]);
}

TEST_F(WatchProcess, EndsWhenTheLogCannotBeWritten)
{
    // Before it serves or makes the block.
    ChildOptions options;
    options.mergeErrors = true;
    const ChildOutcome early = runChild({SENSOR_WATCH, "--serve", "0", "--csv", "/nonexistent/log.csv"},
                                        options, std::chrono::seconds(20));
    EXPECT_EQ(early.exitCode, 1);
    EXPECT_EQ(early.output, "sensor-watch: cannot write /nonexistent/log.csv: No such file or directory\n");
    // A full disk, later.
    const ChildOutcome full =
        runWatch({"--json", "--csv", "/dev/full"}, true, [step = 0](pid_t, const std::string &) mutable {
            publish("a \"b\", c\n", loggedText(++step, false));
        });
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_TRUE(full.output.ends_with("sensor-watch: cannot write /dev/full: No space left on device\n"))
        << full.output;
}

}  // namespace

// The soak: the real program, built with a 50 ms pause, refreshes the large
// generated scenario (64 sensors, 2000 readings) hundreds of times while a
// consumer copies the block over and over without any lock.
//
// The writer has no sequence number, so a lock-free copy taken while a
// refresh is writing may legitimately be torn. What must hold is that every
// completed refresh parses. The test knows a refresh is complete by holding
// the program: it stops it with SIGSTOP and reads /proc/PID/syscall, which
// for a stopped task names the system call it stopped in. The loop's pause is
// the program's only nanosleep, and it lies strictly between two refreshes,
// so a program stopped in it has finished writing the block and cannot start
// again until it is continued. Every copy taken while it is held, by the test
// and by the consumer alike, must parse and hold the whole scenario; copies
// taken at other times are only counted.
//
// Each hold in the pause that finds the block changed since the last one
// counts one refresh at least; the test holds the program shortly after each
// change it sees, so the count follows the refreshes closely. At the 20th
// counted refresh and at the last, the test reads the program's resident
// memory, its open descriptors and its processor time per refresh; none may
// grow by more than noise.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include "watch/block_reader.h"
#include "testing/child_process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::size_t scenarioSensors = 64;
constexpr std::size_t scenarioReadings = 2000;
constexpr int refreshesWanted = 300;
// The start figures come after this many refreshes, once the heap and the
// block's pages have been taken.
constexpr int warmUpRefreshes = 20;
// The processor time per refresh is averaged over this many refreshes, at
// the start and at the end.
constexpr int timingRefreshes = 40;

// What a copy of the block holds, as sensor-watch's reader finds it.
struct CopyContent {
    bool header = false;
    bool parses = false;
    std::size_t nameLines = 0;
    std::size_t sensors = 0;
    std::size_t readings = 0;
};

CopyContent examine(const std::string &copy)
{
    const watch::ReadResult result = watch::readBlock(std::as_bytes(std::span(copy)));
    CopyContent content{result.status != watch::BlockStatus::noHeader,
                        result.status == watch::BlockStatus::valid, result.snapshot.nameLines.size(),
                        result.snapshot.sensors.size(), 0};
    for (const watch::Sensor &sensor : result.snapshot.sensors)
        content.readings += sensor.readings.size();
    return content;
}

bool wholeScenario(const CopyContent &content)
{
    return content.parses && content.nameLines == scenarioSensors && content.sensors == scenarioSensors &&
           content.readings == scenarioReadings;
}

struct ProcessFigures {
    long residentKiB = -1;
    int descriptors = -1;
    std::uint64_t processorNanoseconds = 0;
};

ProcessFigures figuresOf(pid_t pid)
{
    ProcessFigures figures;
    fs::path process = fs::path("/proc") / std::to_string(pid);
    std::ifstream status(process / "status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:"))
            figures.residentKiB = std::stol(line.substr(6));
    }
    figures.descriptors =
        static_cast<int>(std::distance(fs::directory_iterator(process / "fd"), fs::directory_iterator()));
    // The first field is the time the task has run on a processor, in ns.
    std::ifstream(process / "schedstat") >> figures.processorNanoseconds;
    return figures;
}

// Whether the stopped program is in the loop's pause: its only nanosleep.
bool stoppedInPause(pid_t pid)
{
    long call = -1;
    std::ifstream(fs::path("/proc") / std::to_string(pid) / "syscall") >> call;
    return call == SYS_clock_nanosleep || call == SYS_nanosleep;
}

// The program under soak, killed however the test ends.
struct SoakedProgram {
    explicit SoakedProgram(const ChildOptions &options) : child(startChild({SENSOR_BRIDGE_SOAK}, options)) {}
    ~SoakedProgram()
    {
        kill(child.pid, SIGCONT);
        kill(child.pid, SIGKILL);
        finishChild(child, 10s);
    }
    SoakedProgram(const SoakedProgram &) = delete;
    SoakedProgram &operator=(const SoakedProgram &) = delete;
    ChildProcess child;
};

// The consumer: copies the block over and over, without a lock, and parses
// every copy. It rests a millisecond between copies, as a consumer that
// polls does: one that never rests would take the processor at every one of
// the program's 65,536 yields per refresh. holdCount is odd while the test
// holds the program in its pause; a copy that began and ended within one
// hold is of a completed refresh.
struct Consumer {
    std::atomic<unsigned> holdCount{0};
    std::atomic<int> copies{0};
    std::atomic<int> tornCopies{0};
    std::atomic<int> heldCopies{0};
    std::atomic<int> heldFailures{0};
};

void consume(std::stop_token stop, const SharedObject &block, Consumer &consumer)
{
    while (!stop.stop_requested()) {
        unsigned before = consumer.holdCount.load();
        std::string copy = block.copy();
        unsigned after = consumer.holdCount.load();
        CopyContent content = examine(copy);
        ++consumer.copies;
        if (content.header && !content.parses)
            ++consumer.tornCopies;
        if (before == after && before % 2 == 1) {
            ++consumer.heldCopies;
            if (!wholeScenario(content))
                ++consumer.heldFailures;
        }
        std::this_thread::sleep_for(1ms);
    }
}

TEST(Soak, HundredsOfRefreshesKeepMemoryDescriptorsAndTimeFlat)
{
    ScratchDirectory directory;
    std::ofstream(directory.path / "scenario")
        << "generate " << scenarioSensors << " " << scenarioReadings << "\n";
    SharedObject block(("/" + std::string(watch::blockName)).c_str(), watch::blockSize);
    ChildOptions options;
    options.environment = {"HWINFO_SIM_SCENARIO=" + (directory.path / "scenario").string()};
    SoakedProgram program(options);
    pid_t pid = program.child.pid;
    std::string output;
    ASSERT_TRUE(awaitOutput(program.child, output, "HWINFO Init start.\n", 10s)) << output;

    // Declared after the block and the program, so that however the test
    // ends the consumer stops before either goes.
    Consumer consumer;
    std::jthread consumerThread(consume, std::cref(block), std::ref(consumer));

    std::mt19937 random(20240601);
    std::uniform_int_distribution<int> delayMs(0, 15);
    int refreshes = 0;
    int holdsMidRefresh = 0;
    int heldFailures = 0;
    std::string lastHeld(watch::blockSize, '\0');
    ProcessFigures start;
    ProcessFigures end;
    std::vector<std::uint64_t> processorAtRefresh;
    auto began = Clock::now();
    auto deadline = began + 240s;
    bool alive = true;
    while (refreshes < refreshesWanted && Clock::now() < deadline) {
        // Wait for the program to change the block, then hold it a little
        // later: most often in the pause that follows the refresh.
        while (block.copy() == lastHeld && Clock::now() < deadline)
            std::this_thread::sleep_for(2ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random)));

        ASSERT_EQ(kill(pid, SIGSTOP), 0);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, WUNTRACED), pid);
        if (!WIFSTOPPED(status)) {
            alive = false;
            break;
        }
        if (stoppedInPause(pid)) {
            ++consumer.holdCount;
            std::string copy = block.copy();
            if (!wholeScenario(examine(copy)))
                ++heldFailures;
            if (copy != lastHeld) {
                ++refreshes;
                lastHeld = std::move(copy);
                processorAtRefresh.push_back(figuresOf(pid).processorNanoseconds);
                if (refreshes == warmUpRefreshes)
                    start = figuresOf(pid);
                if (refreshes == refreshesWanted)
                    end = figuresOf(pid);
            }
            // Let the consumer take a copy of its own within the hold.
            int heldBefore = consumer.heldCopies.load();
            auto waitUntil = Clock::now() + 500ms;
            while (consumer.heldCopies.load() == heldBefore && Clock::now() < waitUntil)
                std::this_thread::sleep_for(1ms);
            ++consumer.holdCount;
        } else {
            ++holdsMidRefresh;
        }
        ASSERT_EQ(kill(pid, SIGCONT), 0);
    }
    auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - began);
    consumerThread.request_stop();
    consumerThread.join();

    ASSERT_TRUE(alive) << "the program ended during the soak";
    ASSERT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "the program ended during the soak";
    ASSERT_EQ(refreshes, refreshesWanted)
        << "only " << refreshes << " refreshes in " << elapsed.count() << " s";

    auto perRefreshMs = [&](int from) {
        std::uint64_t spent = processorAtRefresh[static_cast<std::size_t>(from + timingRefreshes - 1)] -
                              processorAtRefresh[static_cast<std::size_t>(from - 1)];
        return static_cast<double>(spent) / timingRefreshes / 1e6;
    };
    double startMs = perRefreshMs(warmUpRefreshes);
    double endMs = perRefreshMs(refreshesWanted - timingRefreshes);

    std::ostringstream report;
    report << refreshes << " refreshes in " << elapsed.count() << " s; holds mid-refresh: " << holdsMidRefresh
           << "\nconsumer: " << consumer.copies << " copies, " << consumer.tornCopies
           << " torn (taken while a refresh was writing), " << consumer.heldCopies
           << " taken while the program was held\n"
           << "resident memory: " << start.residentKiB << " KiB at refresh " << warmUpRefreshes << ", "
           << end.residentKiB << " KiB at refresh " << refreshesWanted << "\n"
           << "open descriptors: " << start.descriptors << ", " << end.descriptors << "\n"
           << "processor time per refresh: " << startMs << " ms over refreshes " << warmUpRefreshes + 1 << "-"
           << warmUpRefreshes + timingRefreshes << ", " << endMs << " ms over the last " << timingRefreshes
           << "\n";
    std::cout << report.str();
    RecordProperty("figures", report.str());

    EXPECT_EQ(heldFailures, 0) << "completed refreshes that did not hold the whole scenario";
    EXPECT_GT(consumer.heldCopies.load(), 0);
    EXPECT_EQ(consumer.heldFailures.load(), 0) << "the consumer saw completed refreshes that did not parse";
    // A few pages of allocator noise at most; a leak of even a few KiB per
    // refresh would pass this over the 280 refreshes in between.
    EXPECT_LE(end.residentKiB, start.residentKiB + 512);
    EXPECT_EQ(end.descriptors, start.descriptors);
    EXPECT_LE(endMs, startMs * 1.5 + 2);
}

}  // namespace

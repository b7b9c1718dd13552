#include "watch/csv_log.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>

namespace {

using namespace watch;
namespace fs = std::filesystem;

Snapshot board(std::string value, std::string label = "Fan, \"big\"")
{
    Snapshot snapshot;
    snapshot.sensors = {{"cpu", false, {{"Core", "temperature", value}, {"Core", "temperature", "2.5"}}},
                        {"board\xff", false, {{label, "fan", "nan"}, {"Core", "other", "-1e-05"}}},
                        {"dead", true, {}}};
    return snapshot;
}

std::string contents(const fs::path &path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

TEST(CsvLog, NamesColumnsAsTheViewAndQuotesAsRfc4180)
{
    EXPECT_EQ(csvField("plain 41.5"), "plain 41.5");
    EXPECT_EQ(csvField("a,\"b\"\nc"), "\"a,\"\"b\"\"\nc\"");
    EXPECT_EQ(csvHeader(board("1"), true),
              "time,cpu / Core [\u00b0C],cpu / Core #2 [\u00b0C],\"board\ufffd / "
              "Fan, \"\"big\"\" [RPM]\",board\ufffd / Core\r\n");
    EXPECT_EQ(csvHeader(board("1"), false),
              "time,cpu / Core,cpu / Core #2,\"board\ufffd / Fan, \"\"big\"\"\",board\ufffd / Core\r\n");
    EXPECT_EQ(csvRow(board("41,5"), "T"), "T,\"41,5\",2.5,nan,-1e-05\r\n");
    EXPECT_TRUE(
        std::regex_match(isoLocalTime(1.8e9), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")))
        << isoLocalTime(1.8e9);
    EXPECT_EQ(numberedPath("d.x/log.csv", 3), fs::path("d.x/log-3.csv"));
    EXPECT_EQ(numberedPath("d.x/log", 2), fs::path("d.x/log-2"));
}

TEST(CsvLog, GoesToANewFileWhenTheReadingsChangeAndNeverOverwritesAnother)
{
    const fs::path folder =
        fs::temp_directory_path() /
        ("csv_log_test." + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path path = folder / "log.csv";
    std::ofstream(folder / "log-2.csv", std::ios::binary) << "someone else's\r\n";
    {
        CsvLog log{.path = path, .byteOrderMark = true};
        EXPECT_EQ(checkLogPath(path), "");
        EXPECT_FALSE(fs::exists(path)) << "the check leaves no file";
        EXPECT_EQ(logSnapshot(log, board("1"), 0, 0), "");
        EXPECT_EQ(logSnapshot(log, board("2", "other"), 0, 1), "");
        EXPECT_EQ(logSnapshot(log, board("3"), 0, 2), "");
    }
    const auto row = [](std::string value, std::string label = "Fan, \"big\"") {
        return csvRow(board(value, label), isoLocalTime(0));
    };
    const std::string mark(utf8ByteOrderMark);
    EXPECT_EQ(contents(path), mark + csvHeader(board(""), true) + row("1") + row("3"));
    EXPECT_EQ(contents(folder / "log-2.csv"), "someone else's\r\n");
    EXPECT_EQ(contents(folder / "log-3.csv"), mark + csvHeader(board("", "other"), true) + row("2", "other"));

    // A row cut by a crash is ended; with an interval only the last of each
    // is written, the last one at the end.
    std::ofstream(path, std::ios::binary | std::ios::app) << "cut";
    {
        CsvLog log{.path = path, .byteOrderMark = true, .everySeconds = 10};
        for (const auto &[value, seconds] : {std::pair{"4", 100.0}, {"5", 109.0}, {"6", 110.0}, {"7", 125.0}})
            EXPECT_EQ(logSnapshot(log, board(value), 0, seconds), "");
        EXPECT_EQ(finishLog(log), "");
    }
    EXPECT_TRUE(contents(path).ends_with("cut\r\n" + row("5") + row("6") + row("7"))) << contents(path);
    EXPECT_TRUE(checkLogPath(folder / "missing" / "log.csv").starts_with("cannot write "));
    fs::remove_all(folder);
}

}  // namespace

// The launcher's decisions that need no operating system (launcher/decisions.h).
#include "launcher/decisions.h"

#include <vector>

#include <gtest/gtest.h>

namespace launcher {
namespace {

TEST(LauncherDecisions, TheLogMovesAsideAtTheLimitStartsAgainOnlyPastTheCapAndDatesLinesInIso8601)
{
    EXPECT_EQ(rotationFor(logLimit - 10, 10, false), Rotation::none);
    EXPECT_EQ(rotationFor(logLimit - 10, 11, false), Rotation::moveAside);
    EXPECT_EQ(rotationFor(logCap - 10, 10, true), Rotation::keepGrowing);
    EXPECT_EQ(rotationFor(logCap - 10, 11, true), Rotation::startAgain);
    EXPECT_EQ(rotationFor(logCap + 100, 10, false), Rotation::moveAside);
    EXPECT_EQ(isoTime({2026, 12, 10, 5, 32, 1}, 60), "2026-12-10T05:32:01+01:00");
    EXPECT_EQ(isoTime({2026, 3, 29, 1, 59, 59}, -210), "2026-03-29T01:59:59-03:30");
}

TEST(LauncherDecisions, PausesDoubleToAMinuteAndBadOptionsWaitTheLongest)
{
    std::vector<unsigned> pauses{0};
    for (int i = 0; i < 7; ++i)
        pauses.push_back(nextPause(pauses.back(), false, false));
    EXPECT_EQ(pauses, (std::vector<unsigned>{0, 2, 4, 8, 16, 32, 60, 60}));
    EXPECT_EQ(nextPause(60, true, false), firstPause);
    EXPECT_EQ(nextPause(0, true, true), longestPause);
}

TEST(LauncherDecisions, ARunValueHasAtMost260CharactersAndArgumentsQuotedAsCommandLineToArgvWReadsThem)
{
    EXPECT_TRUE(fitsRunValue(std::wstring(260, L'x')));
    EXPECT_FALSE(fitsRunValue(std::wstring(261, L'x')));
    EXPECT_EQ(quoteArgument(L"--serve"), L"--serve");
    EXPECT_EQ(quoteArgument(L""), L"\"\"");
    EXPECT_EQ(quoteArgument(L"C:\\My Folder\\"), L"\"C:\\My Folder\\\\\"");
    EXPECT_EQ(quoteArgument(L"say \"hi\\\""), L"\"say \\\"hi\\\\\\\"\"");
    EXPECT_EQ(registeredWatchArguments(L"\"C:\\a b\\l.exe\" --watch --serve 9100"), L" --watch --serve 9100");
    EXPECT_EQ(registeredWatchArguments(L"\"C:\\l.exe\" --watchful"), L"");
}

}  // namespace
}  // namespace launcher

// The built library's exports, and the fake-tree tests, each run in a private
// mount and network namespace of its own so that it can put a hardware tree,
// a libsensors configuration and a shared block where the system keeps the
// real ones without touching them.
#include <dlfcn.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "tools/hwmonsensors/tests/find_program.h"
#include "testing/child_process.h"

namespace {

using namespace std::chrono_literals;

TEST(Library, ExportsTheSevenOrdinalsAndNothingElse)
{
    void *library = dlopen(HWMON_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    for (const int ordinal : {481, 360, 994, 256, 318, 802, 714}) {
        const std::string symbol = "ordinal_" + std::to_string(ordinal);
        EXPECT_NE(dlsym(library, symbol.c_str()), nullptr) << symbol;
    }
    EXPECT_EQ(dlsym(library, "_ZN12hwmonsensors13readingKindOfE20sensors_feature_type"), nullptr);
    dlclose(library);
}

class InPrivateNamespace : public testing::TestWithParam<const char *> {};

TEST_P(InPrivateNamespace, Passes)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "a private mount namespace needs root";
    const std::string unshare = findProgram("unshare");
    if (unshare.empty())
        GTEST_SKIP() << "unshare is not installed";
    ChildOptions options;
    options.mergeErrors = true;
    const ChildOutcome probe = runChild({unshare, "-mn", "true"}, options, 60s);
    if (!probe.exited || probe.exitCode != 0)
        GTEST_SKIP() << "unshare -mn fails: " << probe.output;

    const std::string filter = std::string("--gtest_filter=FakeTree.") + GetParam();
    const ChildOutcome outcome =
        runChild({unshare, "-mn", "/bin/bash", PRIVATE_MOUNTS, TREE_TESTS, filter}, options, 900s);
    if (outcome.exited && outcome.exitCode == 77)
        GTEST_SKIP() << outcome.output;
    EXPECT_TRUE(outcome.exited && outcome.exitCode == 0) << outcome.output;
    // A filter that matched nothing would pass too.
    EXPECT_NE(outcome.output.find("[  PASSED  ] 1 test."), std::string::npos) << outcome.output;
}

INSTANTIATE_TEST_SUITE_P(
    FakeTree, InPrivateNamespace,
    testing::Values("PublishedBlockHoldsWhatSensorsPrints", "HotPlugShowsOnlyAtThePollAndShiftsNoOtherChip",
                    "UnreadableValuesAreInvalidNeverStale", "InitFailsWithAMeaningfulErrnoAndPollsRecover"),
    [](const testing::TestParamInfo<const char *> &test) { return std::string(test.param); });

}  // namespace

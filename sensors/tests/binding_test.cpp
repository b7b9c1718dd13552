// Binding against real loadable libraries: the probe program binds the way the
// system does, from a directory that holds only it and the library under test.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "testing/child_process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Runs the probe from a directory of its own, with the given library beside it
// under the name the system loads.
std::string probeWith(const fs::path &library)
{
    ScratchDirectory directory;
    fs::copy_file(BIND_PROBE, directory.path / "bind_probe");
    if (!library.empty())
        fs::copy_file(library, directory.path / "HWiNFO64.dll");
    ChildOutcome outcome = runChild({(directory.path / "bind_probe").string()}, {}, 60s);
    EXPECT_TRUE(outcome.exited);
    return outcome.output;
}

TEST(Binding, EachOrdinalLandsInItsOwnSlot)
{
    EXPECT_EQ(probeWith(ORDINAL_ECHO_LIBRARY), "bound 481 994 256 318 802 714\n");
}

TEST(Binding, AbsentLibraryOrAnyMissingOrdinalFails)
{
    EXPECT_EQ(probeWith({}), "unbound\n");
    EXPECT_EQ(probeWith(fs::path(LIBRARY_VARIANTS) / "none" / "HWiNFO64.dll"), "unbound\n");
    for (int ordinal : {481, 360, 994, 256, 318, 802, 714}) {
        fs::path variant =
            fs::path(LIBRARY_VARIANTS) / ("without-" + std::to_string(ordinal)) / "HWiNFO64.dll";
        ASSERT_TRUE(fs::exists(variant)) << variant;
        EXPECT_EQ(probeWith(variant), "unbound\n") << "without ordinal " << ordinal;
    }
}

TEST(Binding, LibraryThatIsNotLoadableFails)
{
    ScratchDirectory directory;
    fs::path garbage = directory.path / "garbage";
    std::FILE *file = std::fopen(garbage.c_str(), "w");
    std::fputs("not a library", file);
    std::fclose(file);
    EXPECT_EQ(probeWith(garbage), "unbound\n");
}

}  // namespace

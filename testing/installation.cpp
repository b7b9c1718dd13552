#include "testing/installation.h"

#include <fstream>
#include <iterator>
#include <vector>

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

Installation::Installation(const fs::path &programFile, const fs::path &library)
{
    if (!programFile.empty()) {
        program = directory.path / programFile.filename();
        fs::copy_file(programFile, program);
    }
    if (!library.empty())
        fs::copy_file(library, directory.path / "HWiNFO64.dll");
}

std::string contents(const fs::path &file)
{
    std::ifstream stream(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

fs::path unpackPackage(const fs::path &package, const fs::path &into)
{
    ChildOptions options;
    options.workingDirectory = into;
    options.mergeErrors = true;
    ChildOutcome outcome = runChild({CMAKE_COMMAND, "-E", "tar", "xf", package.string()}, options, 120s);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
    std::vector<fs::path> top(fs::directory_iterator(into), fs::directory_iterator{});
    EXPECT_EQ(top.size(), 1u);
    EXPECT_TRUE(package.filename().string().starts_with(top.at(0).filename().string() + "."));
    return top.at(0);
}

#include "testing/native_or_wine.h"

#include "testing/wine.h"

#include <sys/mman.h>

namespace fs = std::filesystem;

fs::path Platform::program(std::string_view programName, const fs::path &folder) const
{
    return folder / (std::string(programName) + (viaWine ? ".exe" : ""));
}

fs::path Platform::library(std::string_view variant) const
{
    return (variant.empty() ? bin : bin / "variants" / variant) / "HWiNFO64.dll";
}

std::vector<std::string> Platform::command(const fs::path &programPath,
                                           std::vector<std::string> arguments) const
{
    if (viaWine)
        return underWine(programPath, std::move(arguments));
    arguments.insert(arguments.begin(), programPath.string());
    return arguments;
}

ChildOptions Platform::options(std::vector<std::string> environment) const
{
    if (viaWine)
        return wineOptions(std::move(environment));
    ChildOptions options;
    options.environment = std::move(environment);
    return options;
}

std::string Platform::path(const fs::path &file) const
{
    return viaWine ? windowsPath(file) : file.string();
}

std::string Platform::librarySearchPath(const fs::path &folder) const
{
    // Wine puts WINEPATH in front of the PATH that a Windows program sees.
    return (viaWine ? "WINEPATH=" : "LD_LIBRARY_PATH=") + path(folder);
}

std::string Platform::lines(std::string_view text) const
{
    std::string out;
    for (const char c : text)
        out += c == '\n' ? lineEnd : std::string(1, c);
    return out;
}

bool Platform::ready() const
{
    return !viaWine || wineReady();
}

const Platform &nativePlatform()
{
    // POSIX's "pause" prints Windows' prompt and a line end after the key.
    static const Platform native{"Native", false, NATIVE_BIN, "\n", "Press any key to continue . . . ", "\n"};
    return native;
}

const Platform &winePlatform()
{
    // Wine's command interpreter prompts differently from Windows' own and
    // ends no line after the key.
    static const Platform wine{"Wine", true, windowsBin(), "\r\n", "Press any key to continue... ", ""};
    return wine;
}

std::vector<const Platform *> platforms()
{
    return {&nativePlatform(), &winePlatform()};
}

std::string platformName(const testing::TestParamInfo<const Platform *> &info)
{
    return info.param->name;
}

void PlatformTest::SetUp()
{
    if (!platform().ready())
        GTEST_SKIP() << "needs Wine and the Windows build in " << platform().bin;
}

void PlatformTest::forgetBlock() const
{
    if (!platform().viaWine)
        shm_unlink("/shareMemory_QORAInfo");
}

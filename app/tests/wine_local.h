// Running the Windows programs under Wine for the release tests: a throw-away
// prefix in the build tree (WINE_PREFIX), set up once per test program, with a
// server that stays up while the tests run so that each program starts quickly.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testing/child_process.h"

inline const std::filesystem::path wineProgram = "/usr/lib/wine/wine64";
inline const std::filesystem::path wineServer = "/usr/lib/wine/wineserver";

// Wine's command interpreter prompts differently from Windows' own.
inline const std::string winePausePrompt = "Press any key to continue... ";

inline ChildOptions wineOptions(std::vector<std::string> extra = {})
{
    ChildOptions options;
    options.environment = {"WINEPREFIX=" WINE_PREFIX, "WINEDEBUG=-all"};
    options.environment.insert(options.environment.end(), extra.begin(), extra.end());
    return options;
}

// The path of a Linux file as a Windows program under Wine sees it.
inline std::string windowsPath(const std::filesystem::path &path)
{
    std::string text = "Z:" + path.string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

// Registered once per test program; wineReady tells the tests whether Wine is there.
inline bool wineReady = false;

class WineEnvironment : public testing::Environment {
  public:
    void SetUp() override
    {
        using namespace std::chrono_literals;
        if (!std::filesystem::exists(wineProgram))
            return;
        wineReady = true;
        runChild({wineServer.string(), "-p"}, wineOptions(), 30s);
        // The first program in a new prefix sets the prefix up, which takes a while.
        runChild({wineProgram.string(), "cmd", "/c", "exit"}, wineOptions(), 180s);
    }
    void TearDown() override
    {
        using namespace std::chrono_literals;
        if (wineReady)
            runChild({wineServer.string(), "-k"}, wineOptions(), 30s);
    }
};

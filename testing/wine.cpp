#include "testing/wine.h"

#include <algorithm>
#include <cstdlib>

#include <pwd.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path &windowsBin()
{
    static const fs::path directory = WINDOWS_BIN;
    return directory;
}

fs::path windowsPackage()
{
    return windowsBin().parent_path() / ("sensor-bridge-" VERSION "-win64.zip");
}

const fs::path &winePrefix()
{
    static const fs::path prefix = WINE_PREFIX;
    return prefix;
}

namespace {

const fs::path wine = WINE_PROGRAM;
const fs::path wineServer = WINESERVER_PROGRAM;

void stopWineServer()
{
    stopWine(winePrefix());
}

bool setUp()
{
    if (wine.empty() || wineServer.empty() || !fs::exists(windowsBin() / "sensor-bridge.exe"))
        return false;
    runChild({wineServer.string(), "-p"}, wineOptions(), 60s);
    std::atexit(stopWineServer);
    // The first program in a new prefix creates the prefix.
    runChild(underWine("cmd", {"/c", "exit"}), wineOptions(), 300s);
    return true;
}

}  // namespace

bool wineReady()
{
    static const bool ready = setUp();
    return ready;
}

ChildOptions wineOptions(std::vector<std::string> environment, const fs::path &prefix)
{
    ChildOptions options;
    options.environment = {"WINEPREFIX=" + prefix.string(), "WINEDEBUG=-all"};
    options.environment.insert(options.environment.end(), environment.begin(), environment.end());
    return options;
}

std::vector<std::string> underWine(const fs::path &program, std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), {wine.string(), program.string()});
    return arguments;
}

std::string windowsPath(const fs::path &path)
{
    std::string text = "Z:" + path.string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

void stopWine(const fs::path &prefix)
{
    runChild({wineServer.string(), "-k"}, wineOptions({}, prefix), 60s);
}

fs::path localAppData(const fs::path &prefix)
{
    // Wine names each prefix's user after the Unix user.
    const passwd *user = getpwuid(getuid());
    return prefix / "drive_c" / "users" / (user != nullptr ? user->pw_name : "") / "AppData" / "Local";
}

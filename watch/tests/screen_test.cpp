// The full-screen view as a person sees it: the built sensor-watch in a tmux
// terminal, the test playing the bridge and pressing the keys.
#include "watch/tests/block_writer.h"
#include "testing/child_process.h"

#include "watch/screen_layout.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace std::chrono_literals;

// 100 readings: 40 of "board", 40 of "cpu", 20 of "gpu", at the step's values.
std::string readingsText(int step)
{
    std::string text = "{";
    for (const auto &[sensor, count] : {std::pair{"board", 40}, {"cpu", 40}, {"gpu", 20}}) {
        text += std::string(text.size() > 1 ? "]," : "") + '"' + sensor + "\":[";
        for (int i = 0; i < count; ++i)
            text += std::string(i > 0 ? "," : "") + "{\"Sensor " + std::to_string(i) +
                    "\":{\"type\":\"temperature\",\"value\":\"" + std::to_string(40 + step % 7) +
                    ".000000\"}}";
    }
    return text + "]}";
}

struct Tmux {
    // A server of its own, so that no other tmux on the machine is touched.
    const std::string server = "sensor-watch-test-" + std::to_string(getpid());
    ~Tmux() { run({"kill-server"}); }
    std::string run(std::vector<std::string> arguments) const
    {
        arguments.insert(arguments.begin(), {TMUX, "-L", server});
        return runChild(arguments, {}, 60s).output;
    }
};

using ScreenView = OwnBlockTest;

TEST_F(ScreenView, FitsScrollsFiltersRedrawsAndGivesTheTerminalBack)
{
    if (std::string_view(TMUX).empty())
        GTEST_SKIP() << "tmux is not installed";
    const Tmux tmux;
    tmux.run({"new-session", "-d", "-x", "100", "-y", "30", "-s", "view",
              std::string("printf 'before the view\\n'; ") + SENSOR_WATCH + "; echo exit=$?; sleep 600"});
    std::string screen;
    int step = 0;
    // Publishes a new snapshot and looks at the screen until it shows `text`.
    const auto shows = [&](const std::string &text) {
        return eventually(60s, [&] {
            publish("board\ncpu\ngpu\n", readingsText(++step));
            screen = tmux.run({"capture-pane", "-p", "-t", "view"});
            return screen.find(text) != std::string::npos;
        });
    };
    const auto lines = [&] {
        std::vector<std::string> out;
        std::istringstream stream(screen);
        for (std::string line; std::getline(stream, line);)
            out.push_back(line);
        return out;
    };
    ASSERT_TRUE(shows("fresh  readings 1\u201327 of 100  3 sensors, 100 readings")) << screen;
    std::vector<std::string> shown = lines();
    ASSERT_EQ(shown.size(), 30u) << screen;
    for (const std::string &line : shown)
        EXPECT_LE(watch::displayWidth(line), 100u) << line;
    EXPECT_TRUE(shown[2].starts_with("board   Sensor 0 ")) << screen;
    EXPECT_TRUE(shown[29].starts_with("\u2191\u2193 j k PgUp PgDn")) << screen;

    tmux.run({"send-keys", "-t", "view", "NPage"});
    ASSERT_TRUE(shows("readings 28\u201354 of 100")) << screen;
    tmux.run({"send-keys", "-t", "view", "/cpu", "Enter"});
    ASSERT_TRUE(shows("readings 1\u201327 of 40  filter \"cpu\"")) << screen;
    EXPECT_TRUE(lines()[2].starts_with("cpu     Sensor 0 ")) << screen;

    tmux.run({"resize-window", "-t", "view", "-x", "60", "-y", "12"});
    ASSERT_TRUE(shows("readings 1\u20139 of 40")) << screen;
    EXPECT_EQ(lines().size(), 12u) << screen;
    EXPECT_LE(watch::displayWidth(lines()[0]), 60u) << screen;

    // q: the screen as it was before, and exit status 0.
    tmux.run({"send-keys", "-t", "view", "q"});
    ASSERT_TRUE(eventually(60s, [&] {
        screen = tmux.run({"capture-pane", "-p", "-t", "view"});
        return screen.find("exit=") != std::string::npos;
    }));
    EXPECT_TRUE(screen.starts_with("before the view\nexit=0\n")) << screen;
    EXPECT_EQ(screen.find("readings"), std::string::npos) << screen;
}

}  // namespace

#include "watch/tests/recorded.h"
#include "watch/screen_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace watch;

// A sensor "cpu" with `count` temperatures "Core 0" ... and whatever else.
Snapshot cores(std::size_t count, std::vector<Sensor> more = {})
{
    Snapshot snapshot;
    snapshot.sensors.push_back({"cpu", false, {}});
    for (std::size_t i = 0; i < count; ++i)
        snapshot.sensors[0].readings.push_back({"Core " + std::to_string(i), "temperature", "41.000000"});
    snapshot.sensors.insert(snapshot.sensors.end(), more.begin(), more.end());
    return snapshot;
}

struct Viewed {
    Readings readings;
    ViewState view;
};

Viewed viewOf(const Snapshot &snapshot)
{
    Viewed viewed{recorded({snapshot}), {}};
    takeSnapshot(viewed.view, viewed.readings, true);
    return viewed;
}

std::vector<ScreenLine> screen(const Viewed &viewed, TerminalSize size, double age = 1)
{
    return layoutScreen(viewed.view, viewed.readings, {0, age}, "12:00:05", size);
}

bool headingHolds(const Viewed &viewed, TerminalSize size, std::string_view text)
{
    return screen(viewed, size)[0].text.find(text) != std::string::npos;
}

TEST(ScreenLayout, FillsEveryHeightAndWidthExactly)
{
    const Viewed viewed = viewOf(cores(60));
    ASSERT_EQ(screen(viewed, {1, 200}).size(), 1u);
    EXPECT_TRUE(headingHolds(viewed, {1, 200},
                             "12:00:05, 1 s ago  fresh  none of 60 in view  1 sensor, 60 readings"));
    const std::vector<ScreenLine> two = screen(viewed, {2, 200});
    ASSERT_EQ(two.size(), 2u);
    EXPECT_TRUE(two[1].text.starts_with("cpu     Core 0   41.0 \u00b0C  41.0")) << two[1].text;

    const std::vector<ScreenLine> tall = screen(viewed, {50, 100});
    ASSERT_EQ(tall.size(), 50u);
    EXPECT_NE(tall[0].text.find("readings 1\u201347 of 60"), std::string::npos) << tall[0].text;
    EXPECT_TRUE(tall[1].text.starts_with("sensor  label      value      min")) << tall[1].text;
    EXPECT_TRUE(tall[49].text.starts_with("\u2191\u2193 j k PgUp PgDn"));
    for (const TerminalSize size : {TerminalSize{50, 100}, {5, 20}})
        for (const ScreenLine &line : screen(viewed, size))
            EXPECT_EQ(displayWidth(line.text), size.columns) << line.text;

    // 20 columns: the statistics go, the names are cut with an ellipsis.
    const std::vector<ScreenLine> narrow = screen(viewed, {5, 20});
    EXPECT_TRUE(narrow[0].text.ends_with("\u2026")) << narrow[0].text;
    EXPECT_EQ(narrow[2].text, "cpu   Core\u2026  41.0 \u00b0C");
    // Stale after 5 seconds: every reading dimmed.
    EXPECT_EQ(screen(viewed, {5, 80}, 6)[2].style, LineStyle::dim);
}

TEST(ScreenLayout, ScrollsWithinTheReadingsAndFilters)
{
    Viewed viewed = viewOf(cores(30, {{"board", false, {{"CPU fan", "fan", "1200.000000"}}}}));
    const TerminalSize size{12, 80};  // 9 readings in view
    const auto press = [&](std::string_view bytes) {
        for (const KeyPress &key : decodeKeys(bytes))
            EXPECT_TRUE(applyKey(viewed.view, key, size));
    };
    press("\x1b[6~jjj");
    EXPECT_TRUE(headingHolds(viewed, size, "readings 13\u201321 of 31"));
    // Past the end stops at the last full screen.
    press("\x1b[6~\x1b[6~\x1b[6~\x1b[B");
    EXPECT_TRUE(headingHolds(viewed, size, "readings 23\u201331 of 31"));
    press("\x1b[H");
    EXPECT_TRUE(headingHolds(viewed, size, "readings 1\u20139 of 31"));

    // Sensor name or label, any case; Esc clears.
    press("/CPU");
    EXPECT_TRUE(headingHolds(viewed, size, "readings 1\u20139 of 31  filter \"CPU\""));
    press("\x7f\x7f\x7f"
          "fan\r");
    EXPECT_TRUE(headingHolds(viewed, size, "readings 1\u20131 of 1  filter \"fan\""));
    EXPECT_TRUE(screen(viewed, size)[2].text.starts_with("board   CPU fan  1200 RPM"));
    press("/nothing");
    EXPECT_TRUE(headingHolds(viewed, size, "no reading matches  filter \"nothing\""));
    EXPECT_EQ(screen(viewed, size)[2].text, std::string(80, ' '));
    press("\x1b");
    EXPECT_TRUE(headingHolds(viewed, size, "readings 1\u20139 of 31  2 sensors"));
    // A notice in place of the keys, until the next key.
    viewed.view.notice = "logging to log-2.csv";
    EXPECT_EQ(screen(viewed, size)[11].text, "logging to log-2.csv" + std::string(60, ' '));
    press("j");
    EXPECT_TRUE(screen(viewed, size)[11].text.starts_with("\u2191\u2193 j k"));
    EXPECT_FALSE(applyKey(viewed.view, decodeKeys("q").at(0), size));
}

TEST(ScreenLayout, ShortensWideAndInvalidNamesByTheirColumns)
{
    const std::string wide =
        "\xe4\xb8\xad\xe6\x96\x87\xe5\x90\x8d\xe5\xad\x97\xe4\xb8\xad\xe6\x96\x87";  // 6 wide
    Snapshot snapshot;
    snapshot.sensors = {{wide + wide + wide, false, {{"bad \xff\xfe label of some length", "fan", "1"}}}};
    const Viewed viewed = viewOf(snapshot);
    // 60 columns: 14 each for the names, where 6 wide characters and the
    // ellipsis leave one space; the label cut with its escapes.
    const std::vector<ScreenLine> lines = screen(viewed, {3, 60});
    EXPECT_EQ(lines[2].text, wide + "\u2026   bad \\xff\\xfe \u2026  1 RPM  1 RPM  1 RPM    1 RPM");
    EXPECT_EQ(displayWidth(lines[2].text), 60u);
    EXPECT_EQ(displayWidth("a\xcc\x81\xf0\x9f\x94\xa5"), 3u) << "combining accent 0, emoji 2";
}

TEST(ScreenLayout, KeepsTheTopReadingAndMissingReadingsAcrossSnapshots)
{
    Viewed viewed = viewOf(cores(40));
    const TerminalSize size{10, 80};
    applyKey(viewed.view, {Key::pageDown, {}}, size);
    EXPECT_TRUE(screen(viewed, size)[2].text.starts_with("cpu     Core 7 "));
    // A sensor above with two readings, and Core 3 gone.
    Snapshot next = cores(40);
    next.sensors[0].readings.erase(next.sensors[0].readings.begin() + 3);
    next.sensors.insert(next.sensors.begin(), {"apu", false, {{"x", "fan", "1"}, {"x", "fan", "2"}}});
    recordSnapshot(viewed.readings, next, {}, false);
    takeSnapshot(viewed.view, viewed.readings, true);
    EXPECT_TRUE(screen(viewed, size)[2].text.starts_with("cpu     Core 7 ")) << screen(viewed, size)[2].text;
    EXPECT_TRUE(headingHolds(viewed, size, "readings 10\u201316 of 42"));
    ASSERT_EQ(viewed.view.rows.size(), 42u);
    EXPECT_EQ(viewed.view.rows[1].label, "x #2");
    EXPECT_EQ(viewed.view.rows[5].missingFor, 1u);
    applyKey(viewed.view, {Key::home, {}}, size);
    const std::vector<ScreenLine> top = screen(viewed, size);
    EXPECT_TRUE(top[7].text.starts_with("        Core 3 ") && top[7].style == LineStyle::dim) << top[7].text;
    EXPECT_EQ(top[6].style, LineStyle::normal);
    // Readings that keep changing their names: the view keeps a bounded number.
    for (int round = 0; round < 8; ++round) {
        Snapshot churn;
        churn.sensors = {{std::to_string(round), false, cores(600).sensors[0].readings}};
        recordSnapshot(viewed.readings, churn, {}, false);
        takeSnapshot(viewed.view, viewed.readings, true);
    }
    EXPECT_LE(viewed.view.rows.size(), missingKept + 2 * 600);
}

TEST(DecodeKeys, ReadsTheSequencesTerminalsSend)
{
    std::vector<Key> keys;
    for (const KeyPress &key :
         decodeKeys("\x1b[A\x1bOB\x1b[5~\x1b[6;2~\x1b[1~\x1b[F\x1b[4~\x1b[9~\x1b\r\x7f\x01\xff"
                    "\xc3\xa9\x1b["))
        keys.push_back(key.key);
    EXPECT_EQ(keys, (std::vector<Key>{Key::up, Key::down, Key::pageUp, Key::pageDown, Key::home, Key::end,
                                      Key::end, Key::escape, Key::enter, Key::backspace, Key::character}));
    EXPECT_EQ(decodeKeys("\xc3\xa9").at(0).text, "\xc3\xa9");
}

}  // namespace

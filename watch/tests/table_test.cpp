#include "watch/tests/recorded.h"
#include "watch/table.h"
#include "watch/units.h"
#include "watch/utf8.h"

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>

namespace {

using namespace watch;

Snapshot cpu(std::string core0, std::string core1 = "50.000000")
{
    Snapshot snapshot;
    snapshot.sensors = {{"cpu", false, {{"Core", "temperature", core0}, {"Core", "temperature", core1}}}};
    return snapshot;
}

TEST(RenderTable, GroupsReadingsUnderTheirSensorHeadingInAlignedColumns)
{
    Snapshot snapshot;
    snapshot.sensors = {
        {"cpu", false, {{"Core 0", "temperature", "41.000000"}, {"Core 0", "clock", "3600.000000"}}},
        {"dead sensor", true, {}},
        {"syst\xc3\xa8me \xff", false, {{"Fan\n1", "fan", "-nan"}}},
    };
    EXPECT_EQ(renderTable(recorded({snapshot}), "Snapshot of 2024-05-01 12:00:00", false),
              "Snapshot of 2024-05-01 12:00:00: 3 sensors, 3 readings\n"
              "\n"
              "  label     type         value        min          max          average\n"
              "cpu\n"
              "  Core 0    temperature  41.000000    41.000000    41.000000    41.000000\n"
              "  Core 0    clock        3600.000000  3600.000000  3600.000000  3600.000000\n"
              "dead sensor\n"
              "  (no valid reading)\n"
              "syst\xc3\xa8me \\xff\n"
              "  Fan\\x0a1  fan          -nan         -            -            -\n");
    EXPECT_EQ(renderTable({}, "Snapshot of 12:00", false),
              "Snapshot of 12:00: 0 sensors, 0 readings\n\n(no sensors)\n");
}

TEST(TableStatistics, FollowEachReadingApartSkipNonFiniteValuesAndResetWhenAReadingGoes)
{
    Readings readings;
    for (const char *value : {"40.000000", "inf", "44.000000", "nan", "-nan(ind)", "no number", "42.500000"})
        recordSnapshot(readings, cpu(value), {}, false);
    // The table keeps no history, only statistics.
    EXPECT_TRUE(readings.times.values.empty());
    EXPECT_TRUE(readings.readings.at(0).values.values.empty());
    // The second reading with the same label keeps its own statistics.
    EXPECT_EQ(renderTable(readings, "Now", false),
              "Now: 1 sensor, 2 readings\n"
              "\n"
              "  label  type         value      min        max        average\n"
              "cpu\n"
              "  Core   temperature  42.500000  40.000000  44.000000  42.166667\n"
              "  Core   temperature  50.000000  50.000000  50.000000  50.000000\n");

    // The second reading is gone from one snapshot; when it is back, only its
    // new values count.
    Snapshot without = cpu("0");
    without.sensors[0].readings.pop_back();
    recordSnapshot(readings, without, {}, false);
    recordSnapshot(readings, cpu("30.000000", "60.000000"), {}, false);
    EXPECT_NE(renderTable(readings, "Now", false)
                  .find("  Core   temperature  60.000000  60.000000  60.000000  60.000000\n"),
              std::string::npos);
}

TEST(Units, ShowEachTypeInItsUnitRoundedAndWhatIsNoFiniteNumberAsItComes)
{
    // The type, the published value, and how it is shown.
    for (const auto &[type, published, shown] :
         std::initializer_list<std::array<const char *, 3>>{{"temperature", "41.260000", "41.3 \u00b0C"},
                                                            {"voltage", "1.356400", "1.356 V"},
                                                            {"fan", "1158.506000", "1159 RPM"},
                                                            {"fan", "-0.400000", "0 RPM"},
                                                            {"current", "38.500000", "38.500 A"},
                                                            {"power", "62.460000", "62.5 W"},
                                                            {"clock", "4449.600000", "4450 MHz"},
                                                            {"usage", "17.540000", "17.5 %"},
                                                            {"other", "14250.500000", "14250.5"},
                                                            {"other", "3.000000", "3"},
                                                            {"a type of its own", "-0.250000", "-0.25"},
                                                            {"temperature", "nan", "nan"},
                                                            {"voltage", "-nan(ind)", "-nan(ind)"},
                                                            {"fan", "inf", "inf"},
                                                            {"power", "-inf", "-inf"},
                                                            {"clock", "nan(snan)", "nan(snan)"},
                                                            {"usage", "no number", "no number"}})
        EXPECT_EQ(shownValue(type, published), shown) << type << ' ' << published;

    // The table's statistics follow the same rule.
    Snapshot slow;
    slow.sensors = {{"board", false, {{"Fan", "fan", "1158.506000"}}}};
    Snapshot fast = slow;
    fast.sensors[0].readings[0].value = "1200.000000";
    EXPECT_TRUE(renderTable(recorded({slow, fast}), "Now", true)
                    .ends_with("\n  Fan    fan   1200 RPM  1159 RPM  1200 RPM  1179 RPM\n"));
}

TEST(Printable, EscapesWhatATerminalCannotShow)
{
    EXPECT_EQ(printable("Core 0"), "Core 0");
    const std::string utf8 = "temp\xc3\xa9rature \xe4\xb8\xad \xf0\x9f\x94\xa5";
    EXPECT_EQ(printable(utf8), utf8);
    EXPECT_EQ(printable(std::string("a\nb\tc\x7f\0d", 8)), "a\\x0ab\\x09c\\x7f\\x00d");
    EXPECT_EQ(printable("C:\\x"), "C:\\\\x");
    // Stray bytes, lone lead bytes and a sequence cut at the end.
    EXPECT_EQ(printable("\xff\x80 \xc3 \xe4\xb8"), "\\xff\\x80 \\xc3 \\xe4\\xb8");
    // Overlong, a surrogate and past U+10FFFF: the same check as the metrics.
    EXPECT_EQ(printable("\xe0\x80\x80 \xed\xa0\x80 \xf4\x90\x80\x80 \xc0\xaf"),
              "\\xe0\\x80\\x80 \\xed\\xa0\\x80 \\xf4\\x90\\x80\\x80 \\xc0\\xaf");
}

}  // namespace

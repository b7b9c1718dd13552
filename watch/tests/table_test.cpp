#include "table.h"

#include <gtest/gtest.h>

namespace {

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
    TableStatistics statistics;
    updateStatistics(statistics, snapshot);
    EXPECT_EQ(renderTable(snapshot, "Snapshot of 2024-05-01 12:00:00", statistics),
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
    EXPECT_EQ(renderTable({}, "Snapshot of 12:00", {}),
              "Snapshot of 12:00: 0 sensors, 0 readings\n\n(no sensors)\n");
}

TEST(TableStatistics, FollowEachReadingApartSkipNonFiniteValuesAndResetWhenAReadingGoes)
{
    TableStatistics statistics;
    for (const char *value : {"40.000000", "inf", "44.000000", "nan", "-nan(ind)", "no number", "42.500000"})
        updateStatistics(statistics, cpu(value));
    // The second reading with the same label keeps its own statistics.
    EXPECT_EQ(renderTable(cpu("42.500000"), "Now", statistics),
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
    updateStatistics(statistics, without);
    updateStatistics(statistics, cpu("30.000000", "60.000000"));
    EXPECT_NE(renderTable(cpu("30.000000", "60.000000"), "Now", statistics)
                  .find("  Core   temperature  60.000000  60.000000  60.000000  60.000000\n"),
              std::string::npos);
}

}  // namespace

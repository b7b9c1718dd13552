#include "table.h"

#include <gtest/gtest.h>

namespace {

TEST(RenderTable, GroupsReadingsUnderTheirSensorHeadingInAlignedColumns)
{
    Snapshot snapshot;
    snapshot.sensors = {
        {"cpu", false, {{"Core 0", "temperature", "41.000000"}, {"Core 0", "clock", "3600.000000"}}},
        {"dead sensor", true, {}},
        {"syst\xc3\xa8me \xff", false, {{"Fan\n1", "fan", "-nan"}}},
    };
    EXPECT_EQ(renderTable(snapshot, "Snapshot of 2024-05-01 12:00:00"),
              "Snapshot of 2024-05-01 12:00:00: 3 sensors, 3 readings\n"
              "\n"
              "cpu\n"
              "  Core 0    temperature  41.000000\n"
              "  Core 0    clock        3600.000000\n"
              "dead sensor\n"
              "  (no valid reading)\n"
              "syst\xc3\xa8me \\xff\n"
              "  Fan\\x0a1  fan          -nan\n");
}

TEST(RenderTable, NoSensors)
{
    EXPECT_EQ(renderTable({}, "Snapshot of 12:00"),
              "Snapshot of 12:00: 0 sensors, 0 readings\n\n(no sensors)\n");
}

}  // namespace

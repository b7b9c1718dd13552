// Each reading type's unit and decimals, as the table and the page show them.
#include "recorded.h"
#include "table.h"
#include "units.h"

#include <gtest/gtest.h>

namespace {

using namespace watch;

TEST(Units, ShowEachTypeInItsUnitRoundedAndWhatIsNoFiniteNumberAsItComes)
{
    struct Case {
        const char *type;
        const char *published;
        const char *shown;
    };
    for (const Case &c : {
             Case{"temperature", "41.260000", "41.3 \u00b0C"},
             Case{"temperature", "-5.040000", "-5.0 \u00b0C"},
             Case{"voltage", "1.356400", "1.356 V"},
             Case{"fan", "1158.506000", "1159 RPM"},
             Case{"fan", "-0.400000", "0 RPM"},
             Case{"current", "38.500000", "38.500 A"},
             Case{"power", "62.460000", "62.5 W"},
             Case{"clock", "4449.600000", "4450 MHz"},
             Case{"usage", "17.540000", "17.5 %"},
             Case{"other", "14250.500000", "14250.5"},
             Case{"other", "3.000000", "3"},
             Case{"other", "0.000001", "0.000001"},
             Case{"a type of its own", "-0.250000", "-0.25"},
             Case{"temperature", "nan", "nan"},
             Case{"voltage", "-nan(ind)", "-nan(ind)"},
             Case{"fan", "inf", "inf"},
             Case{"power", "-inf", "-inf"},
             Case{"clock", "nan(snan)", "nan(snan)"},
             Case{"usage", "no number", "no number"},
         })
        EXPECT_EQ(shownValue(c.type, c.published), c.shown) << c.type << ' ' << c.published;

    // The table's statistics follow the same rule.
    Snapshot first;
    first.sensors = {{"board", false, {{"Fan", "fan", "1158.506000"}, {"VCore", "voltage", "nan"}}}};
    Snapshot second = first;
    second.sensors[0].readings[0].value = "1200.000000";
    EXPECT_EQ(renderTable(recorded({first, second}), "Now", true),
              "Now: 1 sensor, 2 readings\n"
              "\n"
              "  label  type     value     min       max       average\n"
              "board\n"
              "  Fan    fan      1200 RPM  1159 RPM  1200 RPM  1179 RPM\n"
              "  VCore  voltage  nan       -         -         -\n");
}

}  // namespace

#include "tools/hwmonsensors/mapping.h"

#include <cerrno>

#include <gtest/gtest.h>
#include <sensors/error.h>

namespace hwmonsensors {
namespace {

TEST(Mapping, FeatureKindsGiveTypeCodesAndValueSubfeatures)
{
    constexpr sensors_subfeature_type none = SENSORS_SUBFEATURE_UNKNOWN;
    struct Case {
        sensors_feature_type feature;
        ReadingType type;
        sensors_subfeature_type first;
        sensors_subfeature_type second;
    };
    const Case cases[] = {
        {SENSORS_FEATURE_TEMP, ReadingType::temperature, SENSORS_SUBFEATURE_TEMP_INPUT, none},
        {SENSORS_FEATURE_IN, ReadingType::voltage, SENSORS_SUBFEATURE_IN_INPUT, none},
        {SENSORS_FEATURE_VID, ReadingType::voltage, SENSORS_SUBFEATURE_VID, none},
        {SENSORS_FEATURE_FAN, ReadingType::fan, SENSORS_SUBFEATURE_FAN_INPUT, none},
        {SENSORS_FEATURE_CURR, ReadingType::current, SENSORS_SUBFEATURE_CURR_INPUT, none},
        {SENSORS_FEATURE_POWER, ReadingType::power, SENSORS_SUBFEATURE_POWER_INPUT,
         SENSORS_SUBFEATURE_POWER_AVERAGE},
        {SENSORS_FEATURE_ENERGY, ReadingType::other, SENSORS_SUBFEATURE_ENERGY_INPUT, none},
        {SENSORS_FEATURE_HUMIDITY, ReadingType::other, SENSORS_SUBFEATURE_HUMIDITY_INPUT, none},
        {SENSORS_FEATURE_INTRUSION, ReadingType::other, SENSORS_SUBFEATURE_INTRUSION_ALARM, none},
        // A kind newer than this build reads its input, numbered by libsensors'
        // rule, as "other".
        {static_cast<sensors_feature_type>(0x07), ReadingType::other,
         static_cast<sensors_subfeature_type>(0x700), none},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.feature));
        const std::optional<ReadingKind> kind = readingKindOf(c.feature);
        ASSERT_TRUE(kind.has_value());
        EXPECT_EQ(kind->type, c.type);
        EXPECT_EQ(kind->valueSubfeatures[0], c.first);
        EXPECT_EQ(kind->valueSubfeatures[1], c.second);
    }
    EXPECT_FALSE(readingKindOf(SENSORS_FEATURE_BEEP_ENABLE).has_value());
    EXPECT_FALSE(readingKindOf(SENSORS_FEATURE_UNKNOWN).has_value());
}

TEST(Mapping, LibsensorsErrorsBecomeErrnoValues)
{
    EXPECT_EQ(errorNumberFor(-SENSORS_ERR_KERNEL), ENODEV);
    EXPECT_EQ(errorNumberFor(-SENSORS_ERR_PARSE), EINVAL);
    EXPECT_EQ(errorNumberFor(SENSORS_ERR_PARSE), EINVAL);
    EXPECT_EQ(errorNumberFor(-SENSORS_ERR_ACCESS_R), EACCES);
    EXPECT_EQ(errorNumberFor(-SENSORS_ERR_NO_ENTRY), ENOENT);
    EXPECT_EQ(errorNumberFor(-SENSORS_ERR_DIV_ZERO), EDOM);
    EXPECT_EQ(errorNumberFor(-SENSORS_ERR_RECURSION), ELOOP);
    EXPECT_EQ(errorNumberFor(-SENSORS_ERR_IO), EIO);
    EXPECT_EQ(errorNumberFor(-99), EIO);
}

}  // namespace
}  // namespace hwmonsensors

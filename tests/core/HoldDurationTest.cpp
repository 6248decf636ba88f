#include "HoldDuration.h"
#include "MemoryUserDefaults.h"

#include <gtest/gtest.h>

#include <optional>

using namespace ow;

namespace {

struct Case {
    std::optional<qint64> user;
    std::optional<qint64> server;
    double expected;
};

class HoldDurationTest : public ::testing::TestWithParam<Case> {};

TEST_P(HoldDurationTest, UserWinsThenServerThenThreeSeconds)
{
    const Case c = GetParam();
    MemoryUserDefaults defaults;
    if (c.user)
        defaults.setValue(DefaultsKey::HoldSecondsUser, QVariant::fromValue<qint64>(*c.user));
    if (c.server)
        defaults.setValue(DefaultsKey::HoldSeconds, QVariant::fromValue<qint64>(*c.server));
    EXPECT_DOUBLE_EQ(holdDuration(defaults), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Values, HoldDurationTest, ::testing::Values(
    Case{std::nullopt, std::nullopt, 3.0},
    Case{0, 7, 7.0},
    Case{10, 7, 10.0},
    Case{1, std::nullopt, 1.0},
    Case{30, 5, 30.0},
    // Out of range is ignored, never clamped.
    Case{31, std::nullopt, 3.0},
    Case{-2, std::nullopt, 3.0},
    Case{45, 12, 12.0},
    Case{std::nullopt, 30, 30.0},
    Case{std::nullopt, 31, 3.0},
    Case{std::nullopt, 0, 3.0}));

TEST(HoldDuration, ReadAfreshAndIgnoresValuesOfTheWrongType)
{
    MemoryUserDefaults defaults;
    defaults.setValue(DefaultsKey::HoldSecondsUser, QStringLiteral("5"));
    EXPECT_DOUBLE_EQ(holdDuration(defaults), 3.0);
    defaults.setValue(DefaultsKey::HoldSecondsUser, true);
    EXPECT_DOUBLE_EQ(holdDuration(defaults), 3.0);
    defaults.setValue(DefaultsKey::HoldSecondsUser, 5);
    EXPECT_DOUBLE_EQ(holdDuration(defaults), 5.0);
}

} // namespace

#include "HoldDuration.h"
#include "MemoryUserDefaults.h"

#include <gtest/gtest.h>

using namespace ow;

namespace {

struct Case {
    QVariant user; // not set when invalid
    QVariant server;
    double expected;
};

class HoldDurationTest : public ::testing::TestWithParam<Case> {};

TEST_P(HoldDurationTest, UserWinsThenServerThenThreeSeconds)
{
    const Case c = GetParam();
    MemoryUserDefaults defaults;
    if (c.user.isValid())
        defaults.setValue(DefaultsKey::HoldSecondsUser, c.user);
    if (c.server.isValid())
        defaults.setValue(DefaultsKey::HoldSeconds, c.server);
    EXPECT_DOUBLE_EQ(holdDuration(defaults), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Values, HoldDurationTest, ::testing::Values(
    Case{{}, {}, 3.0},
    Case{0, 7, 7.0},
    Case{10, 7, 10.0},
    Case{1, {}, 1.0},
    Case{30, 5, 30.0},
    // Out of range is ignored, never clamped; so is a value of the wrong type.
    Case{31, {}, 3.0},
    Case{-2, {}, 3.0},
    Case{45, 12, 12.0},
    Case{{}, 30, 30.0},
    Case{{}, 31, 3.0},
    Case{{}, 0, 3.0},
    Case{QStringLiteral("5"), {}, 3.0},
    Case{true, {}, 3.0}));

} // namespace

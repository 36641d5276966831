#include "NotchDrawerKit/Spring.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace jw {
namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point at(Clock::time_point start, double seconds)
{
    return start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

} // namespace

TEST(Spring, UnderdampedMatchesTheClosedForm)
{
    // response 0.4, damping 0.7, from 1 at rest toward 0.
    const SpringMotion m{Spring{0.4, 0.7}, 1, 0};
    const double w0 = 2 * std::numbers::pi / 0.4;
    const double zeta = 0.7;
    const double wd = w0 * std::sqrt(1 - zeta * zeta);
    for (double t : {0.0, 0.05, 0.1, 0.2, 0.3, 0.5, 0.8}) {
        const double expected = std::exp(-zeta * w0 * t) * (std::cos(wd * t) + zeta * w0 / wd * std::sin(wd * t));
        EXPECT_NEAR(m.displacement(t), expected, 1e-12) << t;
    }
    // It crosses the target: a damping below 1 overshoots.
    double lowest = 1;
    for (double t = 0; t < 1; t += 0.001)
        lowest = std::min(lowest, m.displacement(t));
    EXPECT_LT(lowest, -0.01);
}

TEST(Spring, CriticallyDampedNeverOvershootsAndSettlesWithinASecond)
{
    const SpringMotion m{Spring{0.4, 1.0}, 100, 0};
    const double w0 = 2 * std::numbers::pi / 0.4;
    for (double t : {0.0, 0.1, 0.25, 0.4}) {
        EXPECT_NEAR(m.displacement(t), 100 * std::exp(-w0 * t) * (1 + w0 * t), 1e-9) << t;
    }
    for (double t = 0; t < 2; t += 0.001)
        ASSERT_GE(m.displacement(t), 0) << t;
    EXPECT_TRUE(m.isSettled(1.0, 0.01));
    EXPECT_FALSE(m.isSettled(0.1, 0.01));
}

TEST(Spring, OverdampedMatchesTheClosedFormAndVelocityIsTheDerivative)
{
    for (Spring spring : {Spring{0.5, 1.4}, Spring{0.4, 0.85}, Spring{0.5, 1.0}}) {
        const SpringMotion m{spring, -3, 12};
        EXPECT_NEAR(m.displacement(0), -3, 1e-12);
        EXPECT_NEAR(m.velocity(0), 12, 1e-9);
        for (double t : {0.05, 0.2, 0.45}) {
            const double h = 1e-6;
            const double numeric = (m.displacement(t + h) - m.displacement(t - h)) / (2 * h);
            EXPECT_NEAR(m.velocity(t), numeric, 1e-4) << spring.dampingFraction << " at " << t;
        }
    }
}

TEST(AnimatedValue, RetargetingStartsFromTheCurrentValueAndVelocity)
{
    const auto start = Clock::now();
    AnimatedValue v(0);
    EXPECT_TRUE(v.isAtRest(start));
    v.animateTo(100, Spring{0.4, 1.0}, start);
    EXPECT_DOUBLE_EQ(v.value(start), 0);
    const auto mid = at(start, 0.1);
    const double before = v.value(mid);
    const double speed = v.velocity(mid);
    EXPECT_GT(before, 0);
    EXPECT_LT(before, 100);
    EXPECT_GT(speed, 0);

    v.animateTo(-50, Spring{0.4, 0.85}, mid);
    EXPECT_NEAR(v.value(mid), before, 1e-9);
    EXPECT_NEAR(v.velocity(mid), speed, 1e-9);
    EXPECT_DOUBLE_EQ(v.target(), -50);
    EXPECT_FALSE(v.isAtRest(at(mid, 0.2)));
    EXPECT_TRUE(v.isAtRest(at(mid, 5)));
    EXPECT_DOUBLE_EQ(v.value(at(mid, 5)), -50);

    v.setImmediately(7);
    EXPECT_TRUE(v.isAtRest(mid));
    EXPECT_DOUBLE_EQ(v.value(mid), 7);
}

TEST(CubicTimingCurve, PassesThroughItsEndsAndFollowsTheControlPoints)
{
    const CubicTimingCurve linear{0, 0, 1, 1};
    EXPECT_NEAR(linear.progress(0.3), 0.3, 1e-6);
    const CubicTimingCurve easeOut{0, 0.55, 0.45, 1};
    EXPECT_NEAR(easeOut.progress(0), 0, 1e-9);
    EXPECT_NEAR(easeOut.progress(1), 1, 1e-9);
    // Front-loaded: well past half way at half time, and monotonic.
    EXPECT_GT(easeOut.progress(0.5), 0.7);
    double last = 0;
    for (double x = 0; x <= 1; x += 0.01) {
        const double p = easeOut.progress(x);
        ASSERT_GE(p, last - 1e-9);
        last = p;
    }
}

} // namespace jw

#pragma once

#include <chrono>

namespace jw {

// A spring named by its response (the period of the undamped oscillation, in seconds) and its
// damping fraction (1.0 is critically damped: no overshoot). It stands for the closed-form
// damped harmonic oscillator with omega0 = 2*pi / response and zeta = dampingFraction.
struct Spring
{
    double response = 0.4;
    double dampingFraction = 1.0;

    friend bool operator==(const Spring&, const Spring&) = default;
};

// One run of a spring: displacement x0 from the target and velocity v0 at t = 0.
// x(t) is the solution of x'' + 2*zeta*omega0*x' + omega0^2*x = 0.
struct SpringMotion
{
    Spring spring;
    double x0 = 0;
    double v0 = 0;

    double displacement(double t) const;
    double velocity(double t) const;
    // Moved less than the threshold from the target and nearly still.
    bool isSettled(double t, double threshold = 1e-3) const;
};

// A scalar that springs toward its target. Retargeting starts from the current value and
// velocity, so a change of mind mid-flight stays smooth.
class AnimatedValue
{
public:
    using Clock = std::chrono::steady_clock;

    explicit AnimatedValue(double value = 0);

    void setImmediately(double value);
    void animateTo(double target, Spring spring, Clock::time_point now);
    // Animates only when the target really changes.
    void retarget(double target, Spring spring, Clock::time_point now)
    {
        if (target != m_target)
            animateTo(target, spring, now);
    }

    double target() const { return m_target; }
    double value(Clock::time_point now) const;
    double velocity(Clock::time_point now) const;
    bool isAtRest(Clock::time_point now) const;

private:
    double elapsed(Clock::time_point now) const;

    double m_target = 0;
    bool m_moving = false;
    SpringMotion m_motion;
    Clock::time_point m_start;
};

// The cubic timing curve through (0, 0), c1, c2, (1, 1): maps elapsed fraction to progress.
struct CubicTimingCurve
{
    double c1x = 0, c1y = 0, c2x = 1, c2y = 1;

    double progress(double fraction) const;
};

} // namespace jw

#include "NotchDrawerKit/Spring.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace jw {
namespace {

constexpr double kCriticalBand = 1e-6;
// Past this a spring counts as settled whatever the numbers say, so a degenerate spring
// cannot keep a frame timer alive.
constexpr double kMaxDuration = 10.0;

double omega0(const Spring& s)
{
    return 2 * std::numbers::pi / std::max(s.response, 1e-6);
}

} // namespace

double SpringMotion::displacement(double t) const
{
    const double w0 = omega0(spring);
    const double z = std::max(spring.dampingFraction, 0.0);
    if (std::abs(z - 1) < kCriticalBand) {
        const double b = v0 + w0 * x0;
        return std::exp(-w0 * t) * (x0 + b * t);
    }
    if (z < 1) {
        const double wd = w0 * std::sqrt(1 - z * z);
        const double a = z * w0;
        const double b = (v0 + a * x0) / wd;
        return std::exp(-a * t) * (x0 * std::cos(wd * t) + b * std::sin(wd * t));
    }
    const double root = std::sqrt(z * z - 1);
    const double r1 = -w0 * (z - root);
    const double r2 = -w0 * (z + root);
    const double c2 = (v0 - r1 * x0) / (r2 - r1);
    const double c1 = x0 - c2;
    return c1 * std::exp(r1 * t) + c2 * std::exp(r2 * t);
}

double SpringMotion::velocity(double t) const
{
    const double w0 = omega0(spring);
    const double z = std::max(spring.dampingFraction, 0.0);
    if (std::abs(z - 1) < kCriticalBand) {
        const double b = v0 + w0 * x0;
        return std::exp(-w0 * t) * (b - w0 * (x0 + b * t));
    }
    if (z < 1) {
        const double wd = w0 * std::sqrt(1 - z * z);
        const double a = z * w0;
        const double b = (v0 + a * x0) / wd;
        return std::exp(-a * t) * ((b * wd - a * x0) * std::cos(wd * t) - (a * b + x0 * wd) * std::sin(wd * t));
    }
    const double root = std::sqrt(z * z - 1);
    const double r1 = -w0 * (z - root);
    const double r2 = -w0 * (z + root);
    const double c2 = (v0 - r1 * x0) / (r2 - r1);
    const double c1 = x0 - c2;
    return c1 * r1 * std::exp(r1 * t) + c2 * r2 * std::exp(r2 * t);
}

bool SpringMotion::isSettled(double t, double threshold) const
{
    if (t >= kMaxDuration)
        return true;
    return std::abs(displacement(t)) < threshold && std::abs(velocity(t)) < threshold * 10;
}

AnimatedValue::AnimatedValue(double value)
    : m_target(value)
{
}

void AnimatedValue::setImmediately(double value)
{
    m_target = value;
    m_moving = false;
}

void AnimatedValue::animateTo(double target, Spring spring, Clock::time_point now)
{
    const double current = value(now);
    const double speed = velocity(now);
    m_target = target;
    m_motion = SpringMotion{spring, current - target, speed};
    m_start = now;
    m_moving = !m_motion.isSettled(0);
}

double AnimatedValue::elapsed(Clock::time_point now) const
{
    return std::max(0.0, std::chrono::duration<double>(now - m_start).count());
}

double AnimatedValue::value(Clock::time_point now) const
{
    if (!m_moving)
        return m_target;
    const double t = elapsed(now);
    if (m_motion.isSettled(t))
        return m_target;
    return m_target + m_motion.displacement(t);
}

double AnimatedValue::velocity(Clock::time_point now) const
{
    if (!m_moving)
        return 0;
    const double t = elapsed(now);
    return m_motion.isSettled(t) ? 0 : m_motion.velocity(t);
}

bool AnimatedValue::isAtRest(Clock::time_point now) const
{
    return !m_moving || m_motion.isSettled(elapsed(now));
}

double CubicTimingCurve::progress(double fraction) const
{
    const double x = std::clamp(fraction, 0.0, 1.0);
    auto bezier = [](double p1, double p2, double s) {
        const double u = 1 - s;
        return 3 * u * u * s * p1 + 3 * u * s * s * p2 + s * s * s;
    };
    // Solve x(s) = x by bisection; x(s) is monotonic for control x in [0, 1].
    double lo = 0, hi = 1, s = x;
    for (int i = 0; i < 60; ++i) {
        s = (lo + hi) / 2;
        if (bezier(c1x, c2x, s) < x)
            lo = s;
        else
            hi = s;
    }
    return bezier(c1y, c2y, s);
}

} // namespace jw

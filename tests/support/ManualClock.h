#pragma once

#include "platform/Cancellation.h"

#include <QCoroTask>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace jw::test {

// Time that moves only when the test moves it. While one exists every sleepFor waits on it, so
// a pause of 0.4 s ends exactly when the clock has been advanced by 0.4 s: a test can tell a
// pause that is too short from one that is too long without looking at the wall clock.
// One at a time, on the GUI thread.
class ManualClock
{
public:
    ManualClock();
    // Gives sleepFor its timers back, then wakes every sleep still waiting as if its time had
    // come, so no coroutine is left suspended for ever.
    ~ManualClock();
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    // Seconds advanced so far.
    double now() const;
    // Moves time forward by `seconds`. Sleeps end in the order of their ends, each at its own
    // time, and the work they queue runs before the next one ends, as on a real clock.
    void advance(double seconds);
    // Runs queued work (started tasks, queued calls, sleeps of no length) without moving time.
    void runQueued() { advance(0); }
    // Seconds left for each sleep waiting now, soonest first.
    std::vector<double> pending() const;

private:
    struct Waiter;
    QCoro::Task<bool> sleep(std::chrono::nanoseconds duration, std::optional<CancellationToken> token);
    std::shared_ptr<Waiter> next(std::chrono::nanoseconds until) const;
    void wake(const std::shared_ptr<Waiter>& waiter, bool cancelled);

    std::chrono::nanoseconds m_now{0};
    std::uint64_t m_order = 0;
    std::vector<std::shared_ptr<Waiter>> m_waiters;
};

} // namespace jw::test

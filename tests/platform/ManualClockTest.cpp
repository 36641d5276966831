#include "tests/support/ManualClock.h"

#include "platform/Sleep.h"

#include <gtest/gtest.h>

#include <vector>

namespace jw {
namespace {

using test::ManualClock;

struct Woke
{
    int id;
    double at;
    bool result;
};

// Sleeps `first`, then (when given) `second`, noting the clock's time after each.
QCoro::Task<> sleeper(ManualClock* clock,
                      std::vector<Woke>* log,
                      int id,
                      double first,
                      std::optional<double> second = std::nullopt,
                      std::optional<CancellationToken> token = std::nullopt)
{
    const bool firstResult = co_await sleepFor(seconds(first), token);
    log->push_back({id, clock->now(), firstResult});
    if (!second)
        co_return;
    const bool secondResult = co_await sleepFor(seconds(*second));
    log->push_back({id, clock->now(), secondResult});
}

TEST(ManualClock, EndsEachSleepExactlyAtItsTimeInOrderAndMeasuresLaterSleepsFromTheirStart)
{
    ManualClock clock;
    std::vector<Woke> log;
    auto a = sleeper(&clock, &log, 1, 0.4);
    auto b = sleeper(&clock, &log, 2, 0.25, 0.25);
    EXPECT_EQ(clock.pending(), (std::vector{0.25, 0.4}));

    clock.advance(0.2499);
    EXPECT_TRUE(log.empty()) << "a sleep never ends early";
    // One step across three ends: each wakes at its own time, the chained one 0.25 after the first.
    clock.advance(0.5);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].id, 2);
    EXPECT_DOUBLE_EQ(log[0].at, 0.25);
    EXPECT_EQ(log[1].id, 1);
    EXPECT_DOUBLE_EQ(log[1].at, 0.4);
    EXPECT_EQ(log[2].id, 2);
    EXPECT_DOUBLE_EQ(log[2].at, 0.5);
    EXPECT_TRUE(clock.pending().empty());
}

TEST(ManualClock, CancellingWakesTheSleepAtOnceAndTheEndWakesWhatIsLeft)
{
    std::vector<Woke> log;
    CancellationToken token;
    {
        ManualClock clock;
        auto cancelled = sleeper(&clock, &log, 1, 30, std::nullopt, token);
        auto left = sleeper(&clock, &log, 2, 60);
        token.cancel();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_FALSE(log[0].result);
        EXPECT_DOUBLE_EQ(log[0].at, 0);
        EXPECT_EQ(clock.pending(), std::vector{60.0});
    }
    // The clock's end let the last sleeper finish instead of leaving it suspended.
    ASSERT_EQ(log.size(), 2u);
    EXPECT_TRUE(log[1].result);
}

} // namespace
} // namespace jw

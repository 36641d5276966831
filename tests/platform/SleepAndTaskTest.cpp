#include "platform/Log.h"
#include "platform/Sleep.h"
#include "platform/TaskStart.h"

#include <QProcess>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

namespace jw {
namespace {

QCoro::Task<> sleepAndRecord(std::chrono::nanoseconds d,
                             std::optional<CancellationToken> token,
                             bool* result,
                             SteadyClock::time_point* woke)
{
    *result = co_await sleepFor(d, token);
    *woke = SteadyClock::now();
}

TEST(Sleep, SleepsAtLeastItsDurationAndCancellingWakesItEarly)
{
    bool result = false;
    SteadyClock::time_point woke{};
    const auto start = SteadyClock::now();
    auto task = sleepAndRecord(seconds(0.2), std::nullopt, &result, &woke);
    ASSERT_TRUE(QTest::qWaitFor([&] { return woke != SteadyClock::time_point{}; }, 5000));
    EXPECT_TRUE(result);
    EXPECT_GE(woke - start, std::chrono::milliseconds(200));

    CancellationToken token;
    woke = {};
    const auto start2 = SteadyClock::now();
    auto task2 = sleepAndRecord(seconds(30), token, &result, &woke);
    QTimer::singleShot(50, [token] { token.cancel(); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return woke != SteadyClock::time_point{}; }, 5000));
    EXPECT_FALSE(result);
    EXPECT_LT(woke - start2, std::chrono::seconds(10));

    // A token cancelled before the sleep returns at once.
    woke = {};
    auto task3 = sleepAndRecord(seconds(30), token, &result, &woke);
    ASSERT_TRUE(QTest::qWaitFor([&] { return woke != SteadyClock::time_point{}; }, 1000));
    EXPECT_FALSE(result);
}

QCoro::Task<> appendAfterSleep(QStringList* order)
{
    order->append(QStringLiteral("task start"));
    co_await sleepFor(std::chrono::milliseconds(1));
    order->append(QStringLiteral("task end"));
}

TEST(TaskStart, RunsAfterTheCurrentMainThreadWorkAndToItsEnd)
{
    QStringList order;
    startTask([&order] { return appendAfterSleep(&order); });
    order.append(QStringLiteral("caller"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return order.size() == 3; }, 5000));
    EXPECT_EQ(order, (QStringList{QStringLiteral("caller"), QStringLiteral("task start"), QStringLiteral("task end")}));
}

// Two threads logging at once never mix their lines.
TEST(Log, ConcurrentLinesStayWhole)
{
    if (qEnvironmentVariableIsSet("JW_LOG_CHILD")) {
        std::thread other([] {
            for (int i = 0; i < 2000; ++i)
                log(QString(200, QLatin1Char('b')));
        });
        for (int i = 0; i < 2000; ++i)
            log(QString(200, QLatin1Char('a')));
        other.join();
        return;
    }
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("JW_LOG_CHILD"), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=Log.ConcurrentLinesStayWhole")});
    ASSERT_TRUE(child.waitForFinished(60000));
    int whole = 0;
    for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
        if (!line.startsWith("[Jotwarden] "))
            continue;
        const QByteArray body = line.mid(12);
        EXPECT_TRUE(body == QByteArray(200, 'a') || body == QByteArray(200, 'b'));
        ++whole;
    }
    EXPECT_EQ(whole, 4000);
}

} // namespace
} // namespace jw

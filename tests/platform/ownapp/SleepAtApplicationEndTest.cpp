#include "platform/Sleep.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

// These tests make and destroy their own application object, so they have a program of their own.
namespace jw {
namespace {

struct Record
{
    int sleepsEnded = 0;
    bool lastResult = true;
    bool framesReleased = false;
};

struct Releases
{
    Record* record;
    ~Releases() { record->framesReleased = true; }
};

QCoro::Task<> sleepTwice(Record* record)
{
    const Releases releases{record};
    record->lastResult = co_await sleepFor(seconds(60));
    ++record->sleepsEnded;
    // Begun after the application's end: must not wait either.
    record->lastResult = co_await sleepFor(seconds(60));
    ++record->sleepsEnded;
}

QCoro::Task<> outer(Record* record)
{
    co_await sleepTwice(record);
}

int argc = 1;
char arg0[] = "jw_tests_own_application";
char* argv[] = {arg0, nullptr};

TEST(SleepAtApplicationEnd, PendingSleepsEndCancelledAndTheirTasksRunToTheirEnd)
{
    Record record;
    {
        QCoreApplication application(argc, argv);
        outer(&record);
        QTimer::singleShot(20, &application, &QCoreApplication::quit);
        application.exec();
        EXPECT_EQ(record.sleepsEnded, 0);
    }
    EXPECT_EQ(record.sleepsEnded, 2);
    EXPECT_FALSE(record.lastResult);
    EXPECT_TRUE(record.framesReleased);
}

TEST(SleepAtApplicationEnd, TheNextApplicationSleepsAgain)
{
    {
        QCoreApplication first(argc, argv);
    }
    QCoreApplication second(argc, argv);
    Record record;
    [](Record* r) -> QCoro::Task<> {
        r->lastResult = co_await sleepFor(std::chrono::milliseconds(10));
        ++r->sleepsEnded;
        QCoreApplication::quit();
    }(&record);
    second.exec();
    EXPECT_EQ(record.sleepsEnded, 1);
    EXPECT_TRUE(record.lastResult);
}

} // namespace
} // namespace jw

#include "platform/SingleInstance.h"

#include <QFile>
#include <QLockFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>

namespace jw {
namespace {

constexpr int kWaitMs = 30000;

class SingleInstanceTest : public ::testing::Test
{
protected:
    // Asks as a later copy and waits for the answer.
    static std::optional<bool> ask(SingleInstance& later)
    {
        std::optional<bool> reached;
        later.askPrimaryToShow([&](bool r) { reached = r; });
        (void)QTest::qWaitFor([&] { return reached.has_value(); }, kWaitMs);
        return reached;
    }

    QTemporaryDir runtime;
};

TEST_F(SingleInstanceTest, OneCopyRunsAndALaterOneAsksItToShowItself)
{
    SingleInstance first(QStringLiteral("jw"), runtime.path());
    ASSERT_EQ(first.claim(), SingleInstance::Role::primary);
    QSignalSpy shows(&first, &SingleInstance::showRequested);

    SingleInstance second(QStringLiteral("jw"), runtime.path());
    ASSERT_EQ(second.claim(), SingleInstance::Role::secondary);
    EXPECT_EQ(ask(second), true);
    ASSERT_TRUE(shows.count() == 1 || shows.wait(kWaitMs));

    // Each launch asks once; another name is another program.
    SingleInstance third(QStringLiteral("jw"), runtime.path());
    ASSERT_EQ(third.claim(), SingleInstance::Role::secondary);
    EXPECT_EQ(ask(third), true);
    ASSERT_TRUE(shows.count() == 2 || shows.wait(kWaitMs));
    EXPECT_EQ(SingleInstance(QStringLiteral("other"), runtime.path()).claim(), SingleInstance::Role::primary);
}

TEST_F(SingleInstanceTest, WhenTheRunningCopyEndsTheNextLaunchRuns)
{
    {
        SingleInstance first(QStringLiteral("jw"), runtime.path());
        ASSERT_EQ(first.claim(), SingleInstance::Role::primary);
    }
    SingleInstance next(QStringLiteral("jw"), runtime.path());
    ASSERT_EQ(next.claim(), SingleInstance::Role::primary);
    QSignalSpy shows(&next, &SingleInstance::showRequested);
    SingleInstance later(QStringLiteral("jw"), runtime.path());
    ASSERT_EQ(later.claim(), SingleInstance::Role::secondary);
    EXPECT_EQ(ask(later), true);
    EXPECT_TRUE(shows.count() == 1 || shows.wait(kWaitMs));
}

TEST_F(SingleInstanceTest, ARunningCopyThatNeverAnswersIsReportedNotWaitedOnForever)
{
    // A live holder of the lock with nothing listening.
    QLockFile held(runtime.filePath(QStringLiteral("jw.lock")));
    ASSERT_TRUE(held.tryLock(0));
    SingleInstance later(QStringLiteral("jw"), runtime.path());
    ASSERT_EQ(later.claim(), SingleInstance::Role::secondary);
    EXPECT_EQ(ask(later), false);
}

TEST_F(SingleInstanceTest, AFolderWhereNoLockCanBeMadeLeavesTheCopyUnguarded)
{
    QFile notAFolder(runtime.filePath(QStringLiteral("file")));
    ASSERT_TRUE(notAFolder.open(QIODevice::WriteOnly));
    SingleInstance copy(QStringLiteral("jw"), notAFolder.fileName());
    EXPECT_EQ(copy.claim(), SingleInstance::Role::unguarded);
    EXPECT_FALSE(copy.errorText().isEmpty());
}

} // namespace
} // namespace jw

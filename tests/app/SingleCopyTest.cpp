#include "tests/support/ProgramRun.h"

#include <QDir>

#include <gtest/gtest.h>

namespace jw {
namespace {

using test::ProgramRun;
using test::RunningCopy;

const QString kReady = QStringLiteral("Bootstrap complete. Token: missing");

// The real binary, twice in one session (one runtime folder): the second launch hands over to
// the first and ends, so only one copy ever watches and files.
TEST(SingleCopy, ASecondLaunchShowsTheRunningCopysPanelAndExitsWithZero)
{
    ProgramRun program;
    RunningCopy first(program.environment());
    ASSERT_TRUE(first.waitForLine(kReady)) << first.logLines().join(QLatin1Char('\n')).toStdString();

    EXPECT_EQ(program.run(QString(), std::chrono::seconds(30)), 0) << program.standardError().toStdString();
    EXPECT_EQ(program.logLines().join(QLatin1Char('\n')).toStdString(),
              "Already running: asked the running copy to show its panel");
    EXPECT_TRUE(first.waitForLine(QStringLiteral("Showing the panel for another launch")))
        << first.logLines().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(first.isRunning());
    EXPECT_EQ(first.logLines().count(kReady), 1);

    // Another session (its own runtime folder) runs its own copy.
    ProgramRun other;
    EXPECT_EQ(other.run(kReady), -1) << other.standardOutput().toStdString();
}

TEST(SingleCopy, TheLockOfAKilledCopyDoesNotBlockTheNextStart)
{
    ProgramRun program;
    {
        RunningCopy crashed(program.environment());
        ASSERT_TRUE(crashed.waitForLine(kReady));
        crashed.killHard();
    }
    // It left its lock and socket behind.
    EXPECT_FALSE(QDir(program.runtimeDir()).entryList(QDir::Files | QDir::System | QDir::Hidden).isEmpty());

    EXPECT_EQ(program.run(kReady), -1) << program.standardOutput().toStdString();
    EXPECT_FALSE(
        program.logLines().contains(QStringLiteral("Already running: asked the running copy to show its panel")));

    // And the copy that took over answers later launches.
    RunningCopy next(program.environment());
    ASSERT_TRUE(next.waitForLine(kReady));
    EXPECT_EQ(program.run(QString(), std::chrono::seconds(30)), 0);
    EXPECT_TRUE(next.waitForLine(QStringLiteral("Showing the panel for another launch")));
}

} // namespace
} // namespace jw

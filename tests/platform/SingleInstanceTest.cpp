#include "platform/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>
#include <pwd.h>
#include <unistd.h>
#include <utility>

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

// Each launch may come with its own runtime folder (another session, an ssh log-in, a sandbox), or
// with none that Qt finds usable; the lock beside the store still admits one copy, and a later
// launch still reaches it. Nothing lands in the shared temporary folder, where the name Qt would
// fall back to is held by someone else.
class SingleInstanceRuntimeFolders : public SingleInstanceTest, public ::testing::WithParamInterface<bool>
{
protected:
    void SetUp() override
    {
        saved = {qgetenv("XDG_RUNTIME_DIR"), qgetenv("TMPDIR")};
        qputenv("TMPDIR", temp.path().toUtf8());
        QFile held(temp.filePath(QStringLiteral("runtime-") + QString::fromLocal8Bit(getpwuid(geteuid())->pw_name)));
        ASSERT_TRUE(held.open(QIODevice::WriteOnly));
    }
    void TearDown() override
    {
        qputenv("XDG_RUNTIME_DIR", saved.first);
        qputenv("TMPDIR", saved.second);
    }
    // A private runtime folder, or one that Qt refuses (open to others).
    static void useRuntimeFolder(const QTemporaryDir& folder, bool usable)
    {
        if (!usable)
            QFile::setPermissions(folder.path(),
                                  QFile::permissions(folder.path()) | QFile::ReadOther | QFile::ExeOther);
        qputenv("XDG_RUNTIME_DIR", folder.path().toUtf8());
    }
    static QStringList entries(const QString& folder)
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    QTemporaryDir temp;
    std::pair<QByteArray, QByteArray> saved;
};

TEST_P(SingleInstanceRuntimeFolders, OneCopyRunsPerLockFolderAndALaterLaunchReachesIt)
{
    const bool usable = GetParam();
    const QString store = runtime.filePath(QStringLiteral("data/jotwarden")); // not made yet
    QTemporaryDir firstRuntime(runtime.filePath(QStringLiteral("first-XXXXXX")));
    QTemporaryDir laterRuntime(runtime.filePath(QStringLiteral("later-XXXXXX")));
    const QStringList inTemp = entries(temp.path());

    useRuntimeFolder(firstRuntime, usable);
    SingleInstance first(QStringLiteral("jw"), store);
    ASSERT_EQ(first.claim(), SingleInstance::Role::primary);
    EXPECT_EQ(first.errorText(), QString());
    QSignalSpy shows(&first, &SingleInstance::showRequested);
    // The socket: in the private runtime folder, else beside the lock.
    EXPECT_EQ(entries(firstRuntime.path()).size(), usable ? 1 : 0);
    EXPECT_EQ(entries(store).contains(QStringLiteral("jw.socket")), !usable);

    useRuntimeFolder(laterRuntime, usable);
    SingleInstance later(QStringLiteral("jw"), store);
    ASSERT_EQ(later.claim(), SingleInstance::Role::secondary);
    EXPECT_EQ(ask(later), true);
    EXPECT_TRUE(shows.count() == 1 || shows.wait(kWaitMs));
    EXPECT_EQ(entries(temp.path()), inTemp);
}

INSTANTIATE_TEST_SUITE_P(Usable, SingleInstanceRuntimeFolders, ::testing::Bool());

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

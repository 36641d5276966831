#include "app/github/KeychainHelper.h"
#include "app/models/Schema.h"
#include "app/models/WatchedDirectory.h"
#include "tests/app/views/ViewTestSupport.h"
#include "tests/support/FakeGitHubServer.h"
#include "tests/support/KeyringTools.h"
#include "tests/support/PrivateSession.h"
#include "tests/support/ProgramRun.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace jw {
namespace {

using test::ProgramRun;
using test::RunningCopy;

const QString kReady = QStringLiteral("Bootstrap complete. Token: missing");
const QString kHandedOver = QStringLiteral("Already running: asked the running copy to show its panel");

// The real binary, twice in one session (one runtime folder): the second launch hands over to
// the first and ends, so only one copy ever watches and files.
TEST(SingleCopy, ASecondLaunchShowsTheRunningCopysPanelAndExitsWithZero)
{
    ProgramRun program;
    RunningCopy first(program.environment());
    ASSERT_TRUE(first.waitForLine(kReady)) << first.logLines().join(QLatin1Char('\n')).toStdString();

    EXPECT_EQ(program.run(QString(), std::chrono::seconds(30)), 0) << program.standardError().toStdString();
    EXPECT_EQ(program.logLines().join(QLatin1Char('\n')).toStdString(), kHandedOver.toStdString());
    EXPECT_TRUE(first.waitForLine(QStringLiteral("Showing the panel for another launch")))
        << first.logLines().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(first.isRunning());
    EXPECT_EQ(first.logLines().count(kReady), 1);

    // Another store runs its own copy.
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
    EXPECT_TRUE(QFile::exists(program.dataHome() + QStringLiteral("/jotwarden/jotwarden.lock")));
    EXPECT_FALSE(QDir(program.runtimeDir()).entryList(QDir::Files | QDir::System | QDir::Hidden).isEmpty());

    EXPECT_EQ(program.run(kReady), -1) << program.standardOutput().toStdString();
    EXPECT_FALSE(program.logLines().contains(kHandedOver));

    // And the copy that took over answers later launches.
    RunningCopy next(program.environment());
    ASSERT_TRUE(next.waitForLine(kReady));
    EXPECT_EQ(program.run(QString(), std::chrono::seconds(30)), 0);
    EXPECT_TRUE(next.waitForLine(QStringLiteral("Showing the panel for another launch")));
}

// A store that watches a GitHub work tree with one C file, the token in the keyring and the
// API address in the environment: a TODO appended to the file is for the program to file.
void prepareFiling(ProgramRun& program, const test::PrivateKeyring& keyring, const QUrl& api, QFile& source)
{
    const QString repo = program.home() + QStringLiteral("/work/demo");
    ASSERT_TRUE(test::makeGitTree(repo, QStringLiteral("git@github.com:octo/demo.git")));
    source.setFileName(repo + QStringLiteral("/main.c"));
    ASSERT_TRUE(source.open(QIODevice::WriteOnly));
    source.write("int main(void) { return 0; }\n");
    source.close();
    store::ModelConfiguration config = jotwardenConfiguration();
    config.filePath = program.storePath();
    ASSERT_TRUE(QDir().mkpath(program.dataHome() + QStringLiteral("/jotwarden")));
    auto container = store::ModelContainer::open(jotwardenSchema(), config);
    ASSERT_TRUE(container);
    container.value()->mainContext()->insert(std::make_shared<WatchedDirectory>(repo + QLatin1Char('/'), true));
    ASSERT_TRUE(container.value()->mainContext()->save().ok());

    QProcessEnvironment& env = program.environment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromUtf8(keyring.bus().address()));
    env.insert(QStringLiteral("JOTWARDEN_GITHUB_API_URL"), api.toString());
}

// Another session, an ssh log-in or a sandbox gives a launch another runtime folder; on the same
// store it still hands over and ends, so a TODO written afterwards becomes one issue, not two.
TEST(SingleCopy, ALaunchWithAnotherRuntimeFolderOnTheSameStoreEndsAndTheTodoIsFiledOnce)
{
    JW_REQUIRE_PRIVATE_SESSION();
    test::PrivateKeyring keyring;
    ASSERT_TRUE(keyring.isRunning());
    ASSERT_TRUE(keyring.store(KeychainHelper::kAccount, "ghp_single_copy"));
    test::FakeGitHubServer server;
    ASSERT_TRUE(server.start());

    ProgramRun program;
    QFile source;
    ASSERT_NO_FATAL_FAILURE(prepareFiling(program, keyring, server.baseUrl(), source));
    QProcessEnvironment& env = program.environment();
    RunningCopy first(env);
    ASSERT_TRUE(first.waitForLine(QStringLiteral("Bootstrap complete. Token: present")))
        << first.logLines().join(QLatin1Char('\n')).toStdString();

    QTemporaryDir otherRuntime;
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), otherRuntime.path());
    RunningCopy second(env);
    EXPECT_EQ(second.waitForExit(std::chrono::seconds(30)), 0);
    EXPECT_EQ(second.logLines().join(QLatin1Char('\n')).toStdString(), kHandedOver.toStdString());
    EXPECT_TRUE(first.waitForLine(QStringLiteral("Showing the panel for another launch")));

    ASSERT_TRUE(source.open(QIODevice::WriteOnly | QIODevice::Append));
    source.write("// TODO: File me once\n");
    source.close();
    ASSERT_TRUE(server.waitForRequests(1, std::chrono::seconds(60)));
    // The annotation comes a second after the request; a second copy's request would be in by then.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            QFile f(source.fileName());
            return f.open(QIODevice::ReadOnly) && f.readAll().contains(" (#");
        },
        60000));
    EXPECT_EQ(server.requests().size(), 1);
}

// Only the tests' own build of the program takes the API address from the environment: the one
// users run holds no trace of the variable, so a stray export cannot send the token elsewhere.
// Read off the binaries rather than run: the shipped one would try GitHub's host itself.
TEST(SingleCopy, TheShippedProgramCannotReadTheApiAddressFromTheEnvironment)
{
    const auto holdsTheName = [](const QString& path) {
        QFile binary(path);
        EXPECT_TRUE(binary.open(QIODevice::ReadOnly)) << path.toStdString();
        return binary.readAll().contains("JOTWARDEN_GITHUB_API_URL");
    };
    EXPECT_TRUE(holdsTheName(test::programPath()));
    EXPECT_FALSE(holdsTheName(test::shippedProgramPath()));
}

} // namespace
} // namespace jw

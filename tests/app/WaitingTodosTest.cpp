#include "app/github/KeychainHelper.h"
#include "tests/app/views/ViewTestSupport.h"
#include "tests/support/FakeGitHubServer.h"
#include "tests/support/KeyringTools.h"
#include "tests/support/PrivateSession.h"
#include "tests/support/ProgramRun.h"

#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

namespace jw {
namespace {

using test::ProgramRun;
using test::RunningCopy;

// The real binary on a work tree whose origin is on GitHub, watched, against the fake API, with
// a private keyring holding the token.
class WaitingTodos : public ::testing::Test
{
protected:
    void SetUp() override
    {
        JW_REQUIRE_PRIVATE_SESSION();
        ASSERT_TRUE(keyring.isRunning());
        ASSERT_TRUE(keyring.store(KeychainHelper::kAccount, "ghp_waiting"));
        ASSERT_TRUE(server.start());
        repo = program.home() + QStringLiteral("/work/demo");
        ASSERT_TRUE(test::makeGitTree(repo, QStringLiteral("git@github.com:octo/demo.git")));
        write("int main(void) { return 0; }\n");
        ASSERT_TRUE(program.watch(repo + QLatin1Char('/')));
        program.environment().insert(QStringLiteral("JOTWARDEN_GITHUB_API_URL"), server.baseUrl().toString());
    }

    QProcessEnvironment onTheKeyringsBus()
    {
        QProcessEnvironment env = program.environment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromUtf8(keyring.bus().address()));
        return env;
    }
    void write(const QByteArray& bytes, QIODevice::OpenMode mode = QIODevice::WriteOnly)
    {
        QFile f(repo + QStringLiteral("/main.c"));
        ASSERT_TRUE(f.open(mode));
        f.write(bytes);
    }
    QByteArray source() const
    {
        QFile f(repo + QStringLiteral("/main.c"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool waitForAnnotations(int count)
    {
        return QTest::qWaitFor([&] { return source().count(" (#") == count; }, 60000);
    }

    test::PrivateKeyring keyring;
    test::FakeGitHubServer server;
    ProgramRun program;
    QString repo;
};

// The Secret Service starts after the program, as at many log-ins: the TODO waits, and is filed
// once the keyring appears on the bus.
TEST_F(WaitingTodos, ATodoWaitsForAKeyringThatStartsLaterAndIsFiledOnce)
{
    keyring.stop();
    RunningCopy copy(onTheKeyringsBus());
    ASSERT_TRUE(copy.waitForLine(QStringLiteral("Bootstrap complete. Token: missing")))
        << copy.logLines().join(QLatin1Char('\n')).toStdString();
    write("// TODO: wait for the keyring\n", QIODevice::Append);
    ASSERT_TRUE(copy.waitForLine(QStringLiteral("Keyring not running: 1 TODO waits for it to start")))
        << copy.logLines().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(server.requests().isEmpty());

    ASSERT_TRUE(keyring.start());
    ASSERT_TRUE(waitForAnnotations(1)) << copy.logLines().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(server.requests().size(), 1);
}

// What waits at the end of one run is filed by the next, if its TODO still stands in its file.
TEST_F(WaitingTodos, WhatWaitedWhenTheProgramEndedIsFiledOnceByTheNextRun)
{
    {
        // No keyring reachable: both wait.
        RunningCopy first(program.environment());
        ASSERT_TRUE(first.waitForLine(QStringLiteral("Bootstrap complete. Token: missing")));
        write("// TODO: still here\n// TODO: gone by then\n", QIODevice::Append);
        ASSERT_TRUE(first.waitForLine(QStringLiteral("Keyring not running: 2 TODOs wait for it to start")))
            << first.logLines().join(QLatin1Char('\n')).toStdString();
    }
    write("int main(void) { return 0; }\n// TODO: still here\n");

    {
        RunningCopy second(onTheKeyringsBus());
        ASSERT_TRUE(waitForAnnotations(1)) << second.logLines().join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(second.logLines().contains(
            QStringLiteral("Offering again 1 TODO left waiting when the program last ended")));
        ASSERT_EQ(server.requests().size(), 1);
        EXPECT_EQ(server.requests().first().json().value(QStringLiteral("title")).toString(),
                  QStringLiteral("still here"));
    }

    // Filed: a third run offers nothing.
    RunningCopy third(onTheKeyringsBus());
    ASSERT_TRUE(third.waitForLine(QStringLiteral("Bootstrap complete. Token: present")));
    EXPECT_EQ(server.requests().size(), 1);
}

} // namespace
} // namespace jw

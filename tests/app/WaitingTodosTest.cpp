#include "app/github/KeychainHelper.h"
#include "tests/app/views/ViewTestSupport.h"
#include "tests/support/FakeGitHubServer.h"
#include "tests/support/KeyringTools.h"
#include "tests/support/PrivateSession.h"
#include "tests/support/ProgramRun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

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
    static void writeBytes(const QByteArray& localPath, const QByteArray& bytes, std::ios::openmode mode = {})
    {
        std::ofstream(localPath.toStdString(), std::ios::binary | mode) << bytes.toStdString();
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
    // A name that is not UTF-8, and a file that is gone by the next run.
    const QByteArray latin1 = QFile::encodeName(repo) + "/caf\xe9.c";
    const QByteArray removed = QFile::encodeName(repo) + "/removed.c";
    writeBytes(latin1, "int x;\n");
    writeBytes(removed, "int y;\n");
    {
        // No keyring reachable: all wait.
        RunningCopy first(program.environment());
        ASSERT_TRUE(first.waitForLine(QStringLiteral("Bootstrap complete. Token: missing")));
        write("// TODO: still here\n// TODO: gone by then\n", QIODevice::Append);
        writeBytes(latin1, "// TODO: in a Latin-1 name\n", std::ios::app);
        writeBytes(removed, "// TODO: in a removed file\n", std::ios::app);
        ASSERT_TRUE(first.waitForLine(QStringLiteral("Keyring not running: 4 TODOs wait for it to start")))
            << first.logLines().join(QLatin1Char('\n')).toStdString();
    }
    write("int main(void) { return 0; }\n// TODO: still here\n");
    ASSERT_EQ(::unlink(removed.constData()), 0);

    {
        RunningCopy second(onTheKeyringsBus());
        ASSERT_TRUE(waitForAnnotations(1)) << second.logLines().join(QLatin1Char('\n')).toStdString();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return second.logLines().filter(QStringLiteral("Issue created")).size() == 2; },
                            60000))
            << second.logLines().join(QLatin1Char('\n')).toStdString();
        const QStringList lines = second.logLines();
        EXPECT_TRUE(lines.contains(QStringLiteral("Offering again 2 TODOs left waiting when the program last ended")));
        EXPECT_EQ(lines.filter(QStringLiteral("Not offering again ")),
                  QStringList{QStringLiteral("Not offering again %1/removed.c:2: the file cannot be read").arg(repo)});
        QStringList titles;
        for (const test::RecordedRequest& r : server.requests())
            titles << r.json().value(QStringLiteral("title")).toString();
        titles.sort();
        EXPECT_EQ(titles, (QStringList{QStringLiteral("in a Latin-1 name"), QStringLiteral("still here")}));
    }

    // Filed: a third run offers nothing. The line comes before the start-up line.
    RunningCopy third(onTheKeyringsBus());
    ASSERT_TRUE(third.waitForLine(QStringLiteral("Bootstrap complete. Token: present")));
    EXPECT_TRUE(third.logLines().filter(QStringLiteral("Offering again")).isEmpty());
    EXPECT_EQ(server.requests().size(), 2);
}

// The run ends hard with one creation out, unanswered, and another waiting for its turn: GitHub
// may have taken the first, so only the second is offered again.
TEST_F(WaitingTodos, ARunEndingWithACreationOutOffersAgainOnlyWhatWasNotSent)
{
    {
        RunningCopy first(program.environment());
        ASSERT_TRUE(first.waitForLine(QStringLiteral("Bootstrap complete. Token: missing")));
        write("// TODO: sent once\n", QIODevice::Append);
        ASSERT_TRUE(first.waitForLine(QStringLiteral("Keyring not running: 1 TODO waits for it to start")));
    }
    {
        server.enqueue("/repos/octo/demo/issues", test::FakeResponse::neverAnswer());
        RunningCopy second(onTheKeyringsBus());
        ASSERT_TRUE(server.waitForRequests(1, std::chrono::seconds(60)))
            << second.logLines().join(QLatin1Char('\n')).toStdString();
        write("// TODO: waits its turn\n", QIODevice::Append);
        QFile waiting(QFileInfo(program.storePath()).dir().filePath(QStringLiteral("Jotwarden.waiting.json")));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                if (!waiting.open(QIODevice::ReadOnly))
                    return false;
                const QByteArray kept = waiting.readAll();
                waiting.close();
                return kept.contains("waits its turn") && !kept.contains("sent once");
            },
            20000))
            << second.logLines().join(QLatin1Char('\n')).toStdString();
        second.killHard();
    }

    RunningCopy third(onTheKeyringsBus());
    ASSERT_TRUE(waitForAnnotations(1)) << third.logLines().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(
        third.logLines().contains(QStringLiteral("Offering again 1 TODO left waiting when the program last ended")));
    ASSERT_EQ(server.requests().size(), 2);
    EXPECT_EQ(server.requests().last().json().value(QStringLiteral("title")).toString(),
              QStringLiteral("waits its turn"));
}

} // namespace
} // namespace jw

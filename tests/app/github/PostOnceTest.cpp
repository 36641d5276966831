// A server may have acted on a POST whose answer never came: the clients must not send it again.
#include "app/github/GitHubClient.h"
#include "app/github/GitHubProjectsClient.h"
#include "tests/support/AwaitTask.h"
#include "tests/support/FakeGitHubServer.h"

#include <QDateTime>

#include <gtest/gtest.h>

#include <functional>

namespace jw {
namespace {

using test::awaitTask;
using test::FakeGitHubServer;
using test::FakeResponse;

const QString kToken = QStringLiteral("ghp_postonce0123456789");

// How one call of a client ended: nothing when it succeeded, its error when it failed.
using Outcome = std::optional<Error>;
using Call = std::function<Outcome(const QUrl&)>;

template <typename T>
Outcome outcome(const std::optional<Expected<T>>& r)
{
    if (!r)
        return Error{QStringLiteral("Test"), QStringLiteral("hung"), QStringLiteral("no result"), {}, {}};
    return r->ok() ? Outcome() : Outcome(r->error());
}

struct PostCase
{
    const char* name;
    Call call;
    bool reuseConnection; // an answered call first keeps the connection alive for the dropped one
};

void PrintTo(const PostCase& c, std::ostream* os)
{
    *os << c.name;
}

Outcome createIssue(const QUrl& base)
{
    const auto r = awaitTask(GitHubClient(base).createIssue(QStringLiteral("octo"),
                                                            QStringLiteral("demo"),
                                                            QStringLiteral("t"),
                                                            QStringLiteral("b"),
                                                            kToken));
    return outcome(r);
}

Outcome addToBoard(const QUrl& base)
{
    const auto board = std::make_shared<ProjectCache>(QStringLiteral("PVT_1"),
                                                      QStringLiteral("Roadmap"),
                                                      QStringLiteral("octo"),
                                                      true,
                                                      QStringLiteral("https://github.com/users/octo/projects/1"),
                                                      QDateTime::currentDateTimeUtc());
    const auto r = awaitTask(GitHubProjectsClient(base).addIssueToProject(QStringLiteral("I_1"), board, kToken));
    return outcome(r);
}

Outcome listBoards(const QUrl& base)
{
    const auto r = awaitTask(GitHubProjectsClient(base).fetchOwnerProjects(QStringLiteral("octo"), kToken));
    return outcome(r);
}

class PostOnce : public ::testing::TestWithParam<PostCase>
{
protected:
    void SetUp() override { ASSERT_TRUE(server.start()); }
    FakeGitHubServer server;
};

TEST_P(PostOnce, AConnectionDroppedBeforeTheAnswerFailsWithoutSendingAgain)
{
    const PostCase& c = GetParam();
    int before = 0;
    if (c.reuseConnection) {
        ASSERT_FALSE(c.call(server.baseUrl()).has_value());
        ASSERT_EQ(server.openConnections(), 1);
        before = 1;
    }
    // Read in full, then the connection closes without a byte of answer; later requests are answered.
    server.enqueue(FakeResponse::drop());
    const Outcome dropped = c.call(server.baseUrl());
    ASSERT_TRUE(dropped.has_value());
    EXPECT_EQ(dropped->caseName, HttpErrorCase::sessionTaskFailed);
    EXPECT_EQ(dropped->description,
              QStringLiteral("The connection closed before an answer came; the request was not sent again."));
    EXPECT_EQ(server.requests().size(), before + 1);

    // The failed call leaves nothing behind that sends it later.
    EXPECT_FALSE(c.call(server.baseUrl()).has_value());
    EXPECT_EQ(server.requests().size(), before + 2);
}

INSTANTIATE_TEST_SUITE_P(Clients,
                         PostOnce,
                         ::testing::Values(PostCase{"Issue", createIssue, false},
                                           PostCase{"IssueOnKeptConnection", createIssue, true},
                                           PostCase{"BoardMutation", addToBoard, false},
                                           PostCase{"BoardMutationOnKeptConnection", addToBoard, true},
                                           PostCase{"BoardQuery", listBoards, false},
                                           PostCase{"BoardQueryOnKeptConnection", listBoards, true}),
                         [](const auto& p) { return std::string(p.param.name); });

} // namespace
} // namespace jw

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
using test::FakeResponse;

const QString kToken = QStringLiteral("ghp_postonce0123456789");

// One call of a client: nothing when it succeeded, else its error.
using Outcome = std::optional<Error>;

template <typename T>
Outcome outcome(QCoro::Task<Expected<T>> task)
{
    const auto r = awaitTask(std::move(task));
    if (!r)
        return Error{QStringLiteral("Test"), QStringLiteral("hung"), QStringLiteral("no result"), {}, {}};
    return r->ok() ? Outcome() : Outcome(r->error());
}

const std::vector<std::pair<const char*, std::function<Outcome(const QUrl&)>>> kCalls{
    {"Issue",
     [](const QUrl& base) {
         return outcome(GitHubClient(base).createIssue(QStringLiteral("octo"),
                                                       QStringLiteral("demo"),
                                                       QStringLiteral("t"),
                                                       QStringLiteral("b"),
                                                       kToken));
     }},
    {"BoardMutation",
     [](const QUrl& base) {
         const auto board = std::make_shared<ProjectCache>(QStringLiteral("PVT_1"),
                                                           QStringLiteral("Roadmap"),
                                                           QStringLiteral("octo"),
                                                           true,
                                                           QStringLiteral("https://github.com/users/octo/projects/1"),
                                                           QDateTime::currentDateTimeUtc());
         return outcome(GitHubProjectsClient(base).addIssueToProject(QStringLiteral("I_1"), board, kToken));
     }},
    {"BoardQuery",
     [](const QUrl& base) {
         return outcome(GitHubProjectsClient(base).fetchOwnerProjects(QStringLiteral("octo"), kToken));
     }},
};

// Which call, and whether an answered call first leaves the connection open for the dropped one.
class PostOnce : public ::testing::TestWithParam<std::tuple<size_t, bool>>
{};

TEST_P(PostOnce, AConnectionDroppedBeforeTheAnswerFailsWithoutSendingAgain)
{
    const auto& call = kCalls[std::get<0>(GetParam())].second;
    const bool reuse = std::get<1>(GetParam());
    test::FakeGitHubServer server;
    ASSERT_TRUE(server.start());
    if (reuse) {
        ASSERT_FALSE(call(server.baseUrl()).has_value());
        ASSERT_EQ(server.openConnections(), 1);
    }
    // Read in full, then closed without a byte of answer; a request sent again would be answered.
    server.enqueue(FakeResponse::drop());
    const Outcome dropped = call(server.baseUrl());
    ASSERT_TRUE(dropped.has_value());
    EXPECT_EQ(dropped->caseName, HttpErrorCase::sessionTaskFailed);
    EXPECT_EQ(dropped->description,
              QStringLiteral("The connection closed before an answer came; the request was not sent again."));
    EXPECT_EQ(server.requests().size(), reuse ? 2 : 1);
}

INSTANTIATE_TEST_SUITE_P(Clients,
                         PostOnce,
                         ::testing::Combine(::testing::Range<size_t>(0, 3), ::testing::Bool()),
                         [](const auto& p) {
                             return std::string(kCalls[std::get<0>(p.param)].first)
                                    + (std::get<1>(p.param) ? "OnKeptConnection" : "");
                         });

} // namespace
} // namespace jw

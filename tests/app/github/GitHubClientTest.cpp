#include "app/github/GitHubClient.h"

#include "tests/support/AwaitTask.h"
#include "tests/support/FakeGitHubServer.h"

#include <gtest/gtest.h>

#include <QJsonDocument>

namespace jw {
namespace {

using test::awaitTask;
using test::FakeGitHubServer;
using test::FakeResponse;

const QString kToken = QStringLiteral("ghp_testtoken0123456789");

class GitHubClientTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(server.start()); }

    Expected<GitHubIssueResponse> create(const QString& owner = QStringLiteral("octo"),
                                         const QString& repo = QStringLiteral("demo"))
    {
        GitHubClient client(server.baseUrl());
        auto result = awaitTask(client.createIssue(owner, repo, QStringLiteral("Fix the parser"),
                                                   QStringLiteral("Found in src/a.cpp:12"), kToken));
        if (!result)
            return Error{QStringLiteral("Test"), QStringLiteral("hung"), QStringLiteral("no result"), {}, {}};
        return std::move(*result);
    }

    FakeGitHubServer server;
};

TEST_F(GitHubClientTest, SendsTheDocumentedRequest)
{
    const auto result = create();
    ASSERT_TRUE(result.ok()) << result.error().description.toStdString();
    ASSERT_EQ(server.requests().size(), 1);
    const auto request = server.requests().first();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/repos/octo/demo/issues");
    EXPECT_EQ(request.json(), (QJsonObject{{QStringLiteral("title"), QStringLiteral("Fix the parser")},
                                           {QStringLiteral("body"), QStringLiteral("Found in src/a.cpp:12")}}));
    EXPECT_EQ(request.header("Authorization"), "Bearer " + kToken.toUtf8());
    EXPECT_EQ(request.header("Accept"), "application/vnd.github+json");
    EXPECT_EQ(request.header("X-GitHub-Api-Version"), "2022-11-28");
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    EXPECT_EQ(request.header("User-Agent"), "Jotwarden/2.0.0");
    const auto names = request.headerNames();
    EXPECT_LT(names.indexOf("Authorization"), names.indexOf("Accept"));
    EXPECT_LT(names.indexOf("Accept"), names.indexOf("X-GitHub-Api-Version"));
    for (const auto& n : names)
        std::cerr << n.toStdString() << "\n";
}

} // namespace
} // namespace jw

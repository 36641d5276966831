#include "app/github/GitHubProjectsClient.h"

#include "tests/support/AwaitTask.h"
#include "tests/support/FakeGitHubServer.h"
#include "tests/support/LogCapture.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

namespace jw {
namespace {

using test::awaitTask;
using test::FakeGitHubServer;
using test::FakeResponse;

const QString kToken = QStringLiteral("ghp_projects0123456789");
const QString kPartialLog = QStringLiteral("GraphQL partial errors (non-fatal): ");

Error hung()
{
    return Error{QStringLiteral("Test"), QStringLiteral("hung"), QStringLiteral("no result"), {}, {}};
}

class ProjectsTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(server.start()); }

    Expected<Unit> add(std::shared_ptr<ProjectCache> project = board())
    {
        GitHubProjectsClient client(server.baseUrl());
        auto result = awaitTask(client.addIssueToProject(QStringLiteral("I_kwDOHrjsK85OBUJp"), project, kToken));
        return result ? std::move(*result) : Expected<Unit>(hung());
    }

    Expected<std::vector<std::shared_ptr<ProjectCache>>> fetch(const QString& owner = QStringLiteral("octo"))
    {
        GitHubProjectsClient client(server.baseUrl());
        auto result = awaitTask(client.fetchOwnerProjects(owner, kToken));
        return result ? std::move(*result) : Expected<std::vector<std::shared_ptr<ProjectCache>>>(hung());
    }

    static std::shared_ptr<ProjectCache> board()
    {
        return std::make_shared<ProjectCache>(QStringLiteral("PVT_kwHOAA1"),
                                              QStringLiteral("Roadmap"),
                                              QStringLiteral("octo"),
                                              true,
                                              QStringLiteral("https://github.com/users/octo/projects/1"),
                                              QDateTime::currentDateTime());
    }

    FakeGitHubServer server;
    test::LogCapture logs;
};

TEST_F(ProjectsTest, TheDocumentsAreExact)
{
    EXPECT_EQ(GitHubProjectsClient::addItemMutation().size(), 168);
    EXPECT_EQ(GitHubProjectsClient::fetchProjectsQuery().size(), 235);
    EXPECT_EQ(GitHubProjectsClient::addItemMutation().count(QLatin1Char('\n')), 4);
    EXPECT_EQ(GitHubProjectsClient::fetchProjectsQuery().count(QLatin1Char('\n')), 11);
    EXPECT_TRUE(GitHubProjectsClient::addItemMutation().endsWith(QLatin1String("  }\n}")));
    EXPECT_TRUE(GitHubProjectsClient::fetchProjectsQuery().startsWith(
        QLatin1String("query FetchOwnerProjects($owner: String!) {\n  organization(login: $owner) {\n")));
}

void expectGraphQLRequest(const test::RecordedRequest& request, const QString& document, const QJsonObject& variables)
{
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/graphql");
    EXPECT_EQ(request.json(),
              (QJsonObject{{QStringLiteral("query"), document}, {QStringLiteral("variables"), variables}}));
    EXPECT_EQ(request.header("Authorization"), "Bearer " + kToken.toUtf8());
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    EXPECT_FALSE(request.header("Accept").has_value());
    EXPECT_FALSE(request.header("X-GitHub-Api-Version").has_value());
    const auto names = request.headerNames();
    EXPECT_LT(names.indexOf("Authorization"), names.indexOf("Content-Type"));
}

TEST_F(ProjectsTest, TheMutationSendsTheBoardAndTheIssue)
{
    ASSERT_TRUE(add().ok());
    ASSERT_EQ(server.requests().size(), 1);
    expectGraphQLRequest(server.requests().first(),
                         GitHubProjectsClient::addItemMutation(),
                         {{QStringLiteral("projectId"), QStringLiteral("PVT_kwHOAA1")},
                          {QStringLiteral("contentId"), QStringLiteral("I_kwDOHrjsK85OBUJp")}});
}

TEST_F(ProjectsTest, TheQuerySendsTheOwner)
{
    ASSERT_TRUE(fetch(QStringLiteral("OctoCat")).ok());
    ASSERT_EQ(server.requests().size(), 1);
    expectGraphQLRequest(server.requests().first(),
                         GitHubProjectsClient::fetchProjectsQuery(),
                         {{QStringLiteral("owner"), QStringLiteral("OctoCat")}});
}

TEST_F(ProjectsTest, WithoutABoardNothingIsSent)
{
    const auto result = add(nullptr);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().caseName, QStringLiteral("assignmentFailed"));
    EXPECT_TRUE(server.requests().isEmpty());
}

struct MutationCase
{
    const char* name;
    QByteArray body;
    QString domain; // empty: success
    QString caseName;
    QString description; // checked when not empty
    QString textualForm; // checked when not empty
};

void PrintTo(const MutationCase& c, std::ostream* os)
{
    *os << c.name;
}

class ProjectsMutationTest : public ProjectsTest, public ::testing::WithParamInterface<MutationCase>
{};

TEST_P(ProjectsMutationTest, Answers)
{
    const MutationCase& c = GetParam();
    server.enqueue(FakeResponse::json(200, c.body));
    const auto result = add();
    if (c.domain.isEmpty()) {
        EXPECT_TRUE(result.ok()) << result.error().description.toStdString();
        return;
    }
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().domain, c.domain);
    EXPECT_EQ(result.error().caseName, c.caseName) << result.error().description.toStdString();
    if (!c.description.isEmpty()) {
        EXPECT_EQ(result.error().description, c.description);
    }
    if (!c.textualForm.isEmpty()) {
        EXPECT_EQ(result.error().textualForm, c.textualForm);
    }
    EXPECT_TRUE(logs.lines().isEmpty());
}

const QString kProjects = GitHubProjectsError::kDomain;
const QString kHttp = HttpClient::kErrorDomain;
const QString kDecoding = HttpErrorCase::responseSerializationFailed;
const QByteArray kItem = R"("data":{"addProjectV2ItemById":{"item":{"id":"PVTI_1"}}})";

INSTANTIATE_TEST_SUITE_P(
    Bodies,
    ProjectsMutationTest,
    ::testing::Values(
        MutationCase{"Recorded",
                     FakeGitHubServer::fixture(QStringLiteral("graphql-addProjectV2ItemById-200.recorded.json")),
                     {},
                     {},
                     {},
                     {}},
        MutationCase{"EmptyErrorsListIsNoError", "{" + kItem + R"(,"errors":[]})", {}, {}, {}, {}},
        MutationCase{"NullErrorsIsNoError", "{" + kItem + R"(,"errors":null})", {}, {}, {}, {}},
        MutationCase{"ErrorsBesideAnItemStillFail",
                     "{" + kItem + R"(,"errors":[{"message":"a"},{"message":"b"}]})",
                     kProjects,
                     "graphQLError",
                     "a; b",
                     "graphQLError(\"a; b\")"},
        MutationCase{"ErrorWithoutData",
                     R"({"data":null,"errors":[{"message":"Could not resolve to a node"}]})",
                     kProjects,
                     "graphQLError",
                     "Could not resolve to a node",
                     {}},
        MutationCase{"QuotesInTheMessageAreEscapedWhenPrinted",
                     R"({"errors":[{"message":"bad \"id\""}]})",
                     kProjects,
                     "graphQLError",
                     "bad \"id\"",
                     "graphQLError(\"bad \\\"id\\\"\")"},
        MutationCase{"NullResult",
                     R"({"data":{"addProjectV2ItemById":null}})",
                     kProjects,
                     "assignmentFailed",
                     "Failed to assign issue to project",
                     "assignmentFailed"},
        MutationCase{"NullItem",
                     R"({"data":{"addProjectV2ItemById":{"item":null}}})",
                     kProjects,
                     "assignmentFailed",
                     {},
                     {}},
        MutationCase{"NullData", R"({"data":null})", kProjects, "assignmentFailed", {}, {}},
        MutationCase{"EmptyObject", "{}", kProjects, "assignmentFailed", {}, {}},
        MutationCase{"ItemIdNotAString",
                     R"({"data":{"addProjectV2ItemById":{"item":{"id":5}}}})",
                     kHttp,
                     kDecoding,
                     {},
                     {}},
        MutationCase{"ErrorWithoutMessage", R"({"errors":[{"type":"NOT_FOUND"}]})", kHttp, kDecoding, {}, {}},
        MutationCase{"ErrorsNotAList", R"({"errors":"boom"})", kHttp, kDecoding, {}, {}}),
    [](const auto& p) { return std::string(p.param.name); });

struct QueryCase
{
    const char* name;
    QByteArray body;
    QStringList boardIds;  // expected, in order
    QString partialErrors; // the logged text after the prefix; empty: no line
    QString errorCase;     // empty: success
};

void PrintTo(const QueryCase& c, std::ostream* os)
{
    *os << c.name;
}

class ProjectsQueryTest : public ProjectsTest, public ::testing::WithParamInterface<QueryCase>
{};

TEST_P(ProjectsQueryTest, Answers)
{
    const QueryCase& c = GetParam();
    if (!c.body.isNull())
        server.enqueue(FakeResponse::json(200, c.body));
    const auto result = fetch();
    if (!c.errorCase.isEmpty()) {
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().caseName, c.errorCase) << result.error().description.toStdString();
    } else {
        ASSERT_TRUE(result.ok()) << result.error().description.toStdString();
        QStringList ids;
        for (const auto& project : result.value())
            ids << project->projectNodeId();
        EXPECT_EQ(ids, c.boardIds);
    }
    const QStringList expectedLines =
        c.partialErrors.isEmpty() ? QStringList() : QStringList{kPartialLog + c.partialErrors};
    EXPECT_EQ(logs.lines(), expectedLines);
}

QByteArray nodes(std::initializer_list<const char*> ids)
{
    QJsonArray array;
    for (const char* id : ids)
        array.append(QJsonObject{{QStringLiteral("id"), QString::fromUtf8(id)},
                                 {QStringLiteral("title"), QStringLiteral("Board ") + QString::fromUtf8(id)},
                                 {QStringLiteral("url"), QStringLiteral("https://github.com/orgs/x/projects/1")}});
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

QByteArray owners(const QByteArray& organization, const QByteArray& user)
{
    return R"({"organization":)" + organization + R"(,"user":)" + user + "}";
}

QByteArray withNodes(const QByteArray& list)
{
    return R"({"projectsV2":{"nodes":)" + list + "}}";
}

INSTANTIATE_TEST_SUITE_P(
    Bodies,
    ProjectsQueryTest,
    ::testing::Values(
        // The fake server's own answer for a user login: the organisation part null with its error.
        QueryCase{"UserLogin",
                  QByteArray(),
                  {"PVT_kwHOAA1", "PVT_kwHOAA2"},
                  "Could not resolve to an Organization with the login of 'octo'.",
                  {}},
        QueryCase{"OrganisationFirstThenUserInResponseOrder",
                  R"({"data":)" + owners(withNodes(nodes({"O2", "O1"})), withNodes(nodes({"U9", "U1", "U5"})))
                      + R"(,"errors":[]})",
                  {"O2", "O1", "U9", "U1", "U5"},
                  {},
                  {}},
        QueryCase{"DuplicatesAreKept",
                  R"({"data":)" + owners(withNodes(nodes({"P"})), withNodes(nodes({"P"}))) + "}",
                  {"P", "P"},
                  {},
                  {}},
        QueryCase{"BothOwnersNullWithAnError",
                  R"({"data":{"organization":null,"user":null},"errors":[{"message":"first"},{"message":"second"}]})",
                  {},
                  "first; second",
                  {}},
        QueryCase{"RecordedPartialData",
                  FakeGitHubServer::fixture(QStringLiteral("graphql-error-partial-data-NOT_FOUND.recorded.json")),
                  {},
                  "Could not resolve to a ProjectV2 with the number 99999.",
                  {}},
        QueryCase{"NullDataWithAnError",
                  R"({"data":null,"errors":[{"message":"Bad credentials"}]})",
                  {},
                  {},
                  "graphQLError"},
        QueryCase{"NullDataNoErrors", R"({"data":null})", {}, {}, {}},
        QueryCase{"EmptyObject", "{}", {}, {}, {}},
        QueryCase{"NullProjectsCountAsNone",
                  R"({"data":)" + owners(R"({"projectsV2":null})", withNodes(nodes({"U1"}))) + "}",
                  {"U1"},
                  {},
                  {}},
        QueryCase{"NullNodeFailsTheWholeQuery",
                  R"({"data":)" + owners("null", withNodes(R"([{"id":"U1","title":"t","url":"u"},null])")) + "}",
                  {},
                  {},
                  "responseSerializationFailed"},
        QueryCase{"NodeWithoutUrlFails",
                  R"({"data":)" + owners("null", withNodes(R"([{"id":"U1","title":"t"}])")) + "}",
                  {},
                  {},
                  "responseSerializationFailed"},
        QueryCase{"MissingNodesFails",
                  R"({"data":)" + owners("null", R"({"projectsV2":{}})") + "}",
                  {},
                  {},
                  "responseSerializationFailed"},
        QueryCase{"HtmlPage", "<!DOCTYPE html><title>502</title>", {}, {}, "responseSerializationFailed"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(ProjectsTest, EveryBoardIsANewV2RecordOwnedByTheLoginAsQueried)
{
    const QDateTime before = QDateTime::currentDateTime();
    server.enqueue(FakeResponse::json(
        200,
        R"({"data":)"
            + owners(
                withNodes(
                    R"([{"id":"PVT_o","title":"Org board","url":"https://github.com/orgs/octo-org/projects/3"}])"),
                withNodes(R"([{"id":"PVT_u","title":"Mine","url":"https://github.com/users/octocat/projects/1"}])"))
            + "}"));
    const auto result = fetch(QStringLiteral("OctoCat"));
    ASSERT_TRUE(result.ok());
    ASSERT_EQ(result.value().size(), 2u);
    const auto& org = *result.value()[0];
    EXPECT_EQ(org.projectNodeId(), QStringLiteral("PVT_o"));
    EXPECT_EQ(org.displayName(), QStringLiteral("Org board"));
    EXPECT_EQ(org.projectURL(), QStringLiteral("https://github.com/orgs/octo-org/projects/3"));
    for (const auto& project : result.value()) {
        EXPECT_EQ(project->owner(), QStringLiteral("OctoCat"));
        EXPECT_TRUE(project->isV2());
        EXPECT_GE(project->cachedAt(), before);
        EXPECT_LE(project->cachedAt(), QDateTime::currentDateTime());
        EXPECT_EQ(project->persistentId(), 0);
        EXPECT_EQ(project->context(), nullptr);
    }
}

// Status failures are the HTTP layer's, unchanged: only the REST client maps 403 and 404. Their
// texts are the HTTP layer's too, the same for every caller.
class ProjectsStatusTest : public ProjectsTest, public ::testing::WithParamInterface<int>
{};

TEST_P(ProjectsStatusTest, PassThrough)
{
    server.enqueue(FakeResponse::json(GetParam(), R"({"message":"nope"})"));
    server.enqueue(FakeResponse::json(GetParam(), R"({"message":"nope"})"));
    const auto added = add();
    const auto fetched = fetch();
    for (const Error& e : {added.error(), fetched.error()}) {
        EXPECT_EQ(e.domain, HttpClient::kErrorDomain);
        EXPECT_EQ(e.caseName, HttpErrorCase::responseValidationFailed);
        EXPECT_EQ(e.responseCode, GetParam());
        EXPECT_EQ(e.description, HttpClient::statusFailureDescription(GetParam(), R"({"message":"nope"})"));
        EXPECT_TRUE(e.description.contains(QStringLiteral("(HTTP %1)").arg(GetParam())));
        EXPECT_EQ(e.textualForm, e.description + QStringLiteral(" [POST /graphql]"));
    }
}

INSTANTIATE_TEST_SUITE_P(Statuses, ProjectsStatusTest, ::testing::Values(401, 403, 404), [](const auto& p) {
    return std::to_string(p.param);
});

} // namespace
} // namespace jw

#include "app/github/GitHubClient.h"

#include "tests/support/AwaitTask.h"
#include "tests/support/FakeGitHubServer.h"

#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

namespace jw {
namespace {

using namespace std::chrono_literals;
using test::awaitTask;
using test::FakeGitHubServer;
using test::FakeResponse;

const QString kToken = QStringLiteral("ghp_testtoken0123456789");

Expected<GitHubIssueResponse> createIssue(const QUrl& baseUrl,
                                          const QString& owner = QStringLiteral("octo"),
                                          const QString& repo = QStringLiteral("demo"),
                                          const QString& token = kToken,
                                          std::optional<CancellationToken> cancellation = std::nullopt)
{
    GitHubClient client(baseUrl);
    auto result = awaitTask(client.createIssue(owner,
                                               repo,
                                               QStringLiteral("Fix the parser"),
                                               QStringLiteral("Found in src/a.cpp:12"),
                                               token,
                                               std::move(cancellation)));
    if (!result)
        return Error{QStringLiteral("Test"), QStringLiteral("hung"), QStringLiteral("no result"), {}, {}};
    return std::move(*result);
}

class GitHubClientTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(server.start()); }
    void TearDown() override { HttpClient::setInactivityTimeout(HttpClient::kDefaultInactivityTimeout); }

    FakeGitHubServer server;
};

TEST_F(GitHubClientTest, SendsOnePostWithTheTitleBodyAndHeadersInOrder)
{
    const auto result = createIssue(server.baseUrl());
    ASSERT_TRUE(result.ok()) << result.error().description.toStdString();
    ASSERT_EQ(server.requests().size(), 1);
    const auto request = server.requests().first();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/repos/octo/demo/issues");
    EXPECT_EQ(QJsonDocument::fromJson(request.body).object(),
              (QJsonObject{{QStringLiteral("title"), QStringLiteral("Fix the parser")},
                           {QStringLiteral("body"), QStringLiteral("Found in src/a.cpp:12")}}));
    EXPECT_EQ(request.header("Authorization"), "Bearer " + kToken.toUtf8());
    EXPECT_EQ(request.header("Accept"), "application/vnd.github+json");
    EXPECT_EQ(request.header("X-GitHub-Api-Version"), "2022-11-28");
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    EXPECT_EQ(request.header("User-Agent"), "Jotwarden/2.0.0");

    const QList<QByteArray> ours{"Authorization", "Accept", "X-GitHub-Api-Version", "Content-Type"};
    QList<QByteArray> sent;
    for (const QByteArray& name : request.headerNames())
        if (ours.contains(name))
            sent << name;
    EXPECT_EQ(sent, ours);
}

TEST_F(GitHubClientTest, DecodesTheRecordedIssueIgnoringOtherMembers)
{
    const auto result = createIssue(server.baseUrl());
    ASSERT_TRUE(result.ok()) << result.error().description.toStdString();
    EXPECT_EQ(result.value(),
              (GitHubIssueResponse{1308967529,
                                   QStringLiteral("I_kwDOHrjsK85OBUJp"),
                                   1,
                                   QStringLiteral("https://github.com/octokit-fixture-org/"
                                                  "tmp-scenario-add-labels-to-issue-20220719043651190-v2c1k/issues/1"),
                                   QStringLiteral("Issue without a label")}));
}

// Bodies of a 2xx answer that must fail as decoding errors of the HTTP layer.
struct BadBody
{
    const char* name;
    QByteArray contentType;
    QByteArray body;
};

void PrintTo(const BadBody& c, std::ostream* os)
{
    *os << c.name;
}

class GitHubClientBadBodyTest : public GitHubClientTest, public ::testing::WithParamInterface<BadBody>
{};

TEST_P(GitHubClientBadBodyTest, FailsAsADecodingError)
{
    FakeResponse response = FakeResponse::json(201, GetParam().body);
    response.headers = {{QByteArrayLiteral("Content-Type"), GetParam().contentType}};
    server.enqueue(response);
    const auto result = createIssue(server.baseUrl());
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().domain, HttpClient::kErrorDomain);
    EXPECT_EQ(result.error().caseName, HttpErrorCase::responseSerializationFailed)
        << result.error().description.toStdString();
    EXPECT_FALSE(result.error().description.isEmpty());
    EXPECT_EQ(result.error().textualForm, result.error().description);
}

const QByteArray kJsonType = "application/json; charset=utf-8";

INSTANTIATE_TEST_SUITE_P(
    Bodies,
    GitHubClientBadBodyTest,
    ::testing::Values(
        BadBody{"MissingNodeId", kJsonType, R"({"id":1,"number":7,"html_url":"u","title":"t"})"},
        BadBody{"CamelCaseKeysOnly", kJsonType, R"({"id":1,"nodeId":"I_1","number":7,"htmlUrl":"u","title":"t"})"},
        BadBody{"NullTitle", kJsonType, R"({"id":1,"node_id":"I_1","number":7,"html_url":"u","title":null})"},
        BadBody{"NumberAsString", kJsonType, R"({"id":"1","node_id":"I_1","number":7,"html_url":"u","title":"t"})"},
        BadBody{"NumberBeyond64Bits",
                kJsonType,
                R"({"id":18446744073709551616,"node_id":"I_1","number":7,"html_url":"u","title":"t"})"},
        BadBody{"HtmlErrorPage", "text/html", "<!DOCTYPE html><html><body><h1>Unicorn!</h1></body></html>"},
        BadBody{"EmptyBody", kJsonType, ""},
        BadBody{"DeepNesting", kJsonType, QByteArray(100000, '[')}),
    [](const auto& p) { return std::string(p.param.name); });

struct StatusCase
{
    const char* name;
    int status;
    QByteArray body;
    QString domain;
    QString caseName;
    QString description;
    QString textualForm;
};

void PrintTo(const StatusCase& c, std::ostream* os)
{
    *os << c.name;
}

class GitHubClientStatusTest : public GitHubClientTest, public ::testing::WithParamInterface<StatusCase>
{};

TEST_P(GitHubClientStatusTest, MapsTheStatus)
{
    const StatusCase& c = GetParam();
    server.enqueue(FakeResponse::json(c.status, c.body));
    const auto result = createIssue(server.baseUrl());
    ASSERT_FALSE(result.ok());
    const Error& error = result.error();
    EXPECT_EQ(error.domain, c.domain);
    EXPECT_EQ(error.caseName, c.caseName);
    EXPECT_EQ(error.description.toStdString(), c.description.toStdString());
    EXPECT_EQ(error.textualForm.toStdString(), c.textualForm.toStdString());
    if (c.domain == HttpClient::kErrorDomain) {
        EXPECT_EQ(error.responseCode, c.status);
    }
    for (const QString& text : {error.description, error.textualForm}) {
        EXPECT_FALSE(text.contains(kToken));
        EXPECT_FALSE(text.contains(server.baseUrl().host())) << text.toStdString();
    }
}

const QString kHttp = HttpClient::kErrorDomain;
const QString kGh = GitHubClientError::kDomain;
const QString kStatusFailed = HttpErrorCase::responseValidationFailed;
const QString kIssuesPath = QStringLiteral(" [POST /repos/octo/demo/issues]");

StatusCase httpCase(const char* name, int status, const QByteArray& body, const QString& description)
{
    return StatusCase{name, status, body, kHttp, kStatusFailed, description, description + kIssuesPath};
}

INSTANTIATE_TEST_SUITE_P(
    Statuses,
    GitHubClientStatusTest,
    ::testing::Values(
        StatusCase{"NotFound",
                   404,
                   R"({"message":"Not Found"})",
                   kGh,
                   "repoNotFound",
                   "Repository not found: octo/demo",
                   "repoNotFound(\"octo/demo\")"},
        StatusCase{"ForbiddenRateLimit",
                   403,
                   R"({"message":"API rate limit exceeded"})",
                   kGh,
                   "rateLimited",
                   "GitHub API rate limit exceeded",
                   "rateLimited"},
        httpCase("ForbiddenOtherCause",
                 403,
                 R"({"message":"Resource not accessible by personal access token"})",
                 "The token lacks access (HTTP 403): Resource not accessible by personal access token"),
        StatusCase{"ForbiddenSecondaryRateLimit",
                   403,
                   R"({"message":"You have exceeded a secondary rate limit. Please wait a few minutes."})",
                   kGh,
                   "rateLimited",
                   "GitHub API rate limit exceeded",
                   "rateLimited"},
        httpCase("Unauthorized",
                 401,
                 R"({"message":"Bad credentials"})",
                 "GitHub refused the token (HTTP 401); change it in the panel"),
        httpCase("Gone",
                 410,
                 R"({"message":"Issues are disabled for this repo"})",
                 "Issues are turned off for this repository (HTTP 410)"),
        httpCase("ValidationFailed",
                 422,
                 FakeGitHubServer::fixture(QStringLiteral("rest-422-validation-failed.json")),
                 "GitHub refused the issue (HTTP 422): Validation Failed"),
        httpCase("ValidationFailedWithReasons",
                 422,
                 R"json({"message":"Validation Failed","errors":[{"resource":"Issue","code":"custom",)json"
                 R"json("field":"title","message":"title is too long (maximum is 256 characters)"},"a\nb"]})json",
                 "GitHub refused the issue (HTTP 422): Validation Failed: title is too long (maximum is 256 "
                 "characters)"),
        httpCase("ValidationFailedWithoutJson", 422, "no", "GitHub refused the issue (HTTP 422)"),
        httpCase("ValidationFailedAtLength",
                 422,
                 "{\"message\":\"" + QByteArray(1000, 'x') + "\"}",
                 "GitHub refused the issue (HTTP 422): " + QString(199, QLatin1Char('x')) + QChar(0x2026)),
        httpCase("ServerError", 500, "", "GitHub is unavailable (HTTP 500)"),
        httpCase("BadGateway", 502, "<html>Unicorn!</html>", "GitHub is unavailable (HTTP 502)"),
        httpCase("OtherRefusal",
                 400,
                 R"({"message":"Problems parsing JSON"})",
                 "GitHub refused the request (HTTP 400): Problems parsing JSON"),
        StatusCase{"TooManyRequests",
                   429,
                   R"({"message":"You have exceeded a secondary rate limit"})",
                   kGh,
                   "rateLimited",
                   "GitHub API rate limit exceeded",
                   "rateLimited"}),
    [](const auto& p) { return std::string(p.param.name); });

// Titles against GitHub's limit of 256 code points, which the fake server enforces as GitHub does.
struct TitleCase
{
    const char* name;
    QString title;
    QString sentTitle; // empty: sent as it is, with the body unchanged
};

void PrintTo(const TitleCase& c, std::ostream* os)
{
    *os << c.name;
}

class GitHubClientTitleTest : public GitHubClientTest, public ::testing::WithParamInterface<TitleCase>
{};

TEST_P(GitHubClientTitleTest, FitsTheLimitAndTheBodyStartsWithTheWholeTitle)
{
    const TitleCase& c = GetParam();
    GitHubClient client(server.baseUrl());
    const QString body = QStringLiteral("more\n\n---\n`src/a.cpp:12`");
    const auto result =
        awaitTask(client.createIssue(QStringLiteral("octo"), QStringLiteral("demo"), c.title, body, kToken));
    ASSERT_TRUE(result && result->ok()) << (result ? result->error().description.toStdString() : "hung");
    ASSERT_EQ(server.requests().size(), 1);
    const QJsonObject sent = server.requests().first().json();
    if (c.sentTitle.isEmpty()) {
        EXPECT_EQ(sent.value(QStringLiteral("title")).toString(), c.title);
        EXPECT_EQ(sent.value(QStringLiteral("body")).toString(), body);
        return;
    }
    EXPECT_EQ(sent.value(QStringLiteral("title")).toString().toStdString(), c.sentTitle.toStdString());
    EXPECT_EQ(sent.value(QStringLiteral("body")).toString(), c.title + QLatin1Char('\n') + body);
}

const QString kGrin = QString::fromUcs4(U"\U0001F600");
const QString kEllipsis(QChar(0x2026));

INSTANTIATE_TEST_SUITE_P(
    Titles,
    GitHubClientTitleTest,
    ::testing::Values(
        TitleCase{"AtTheLimit",
                  QStringLiteral("fix") + QStringLiteral(" parser").repeated(36) + QStringLiteral("!"),
                  {}},
        // Two UTF-16 units, one character to GitHub.
        TitleCase{"AstralCharactersCountOnce", kGrin.repeated(256), {}},
        TitleCase{"CutAfterTheLastWholeWord",
                  QStringLiteral("fix") + QStringLiteral(" parser").repeated(50),
                  QStringLiteral("fix") + QStringLiteral(" parser").repeated(36) + kEllipsis},
        TitleCase{"CutBeforeABlankRun",
                  QString(250, QLatin1Char('a')) + QStringLiteral("    ") + QString(10, QLatin1Char('b')),
                  QString(250, QLatin1Char('a')) + kEllipsis},
        TitleCase{"OneLongWordIsCutInside", QString(300, QLatin1Char('x')), QString(255, QLatin1Char('x')) + kEllipsis},
        TitleCase{"NoCharacterIsSplit", kGrin.repeated(300), kGrin.repeated(255) + kEllipsis},
        // An accent on the letter at the cut goes with it.
        TitleCase{"NoLetterLosesItsAccent",
                  QString(254, QLatin1Char('x')) + QStringLiteral("e\u0301\u0301") + QStringLiteral("tail"),
                  QString(254, QLatin1Char('x')) + kEllipsis}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(GitHubClientTest, ABodyOverTheLimitKeepsItsLastParagraphAndFits)
{
    GitHubClient client(server.baseUrl());
    const QString title = QStringLiteral("split") + QStringLiteral(" this").repeated(60);
    const QString place = QStringLiteral("\n\n---\n`src/a.cpp:12`");
    const QString body = QStringLiteral("lorem ipsum ").repeated(7000) + place;
    const auto result =
        awaitTask(client.createIssue(QStringLiteral("octo"), QStringLiteral("demo"), title, body, kToken));
    ASSERT_TRUE(result && result->ok()) << (result ? result->error().description.toStdString() : "hung");
    ASSERT_EQ(server.requests().size(), 1);
    const QString sent = server.requests().first().json().value(QStringLiteral("body")).toString();
    EXPECT_TRUE(sent.startsWith(title + QStringLiteral("\nlorem ipsum lorem")));
    EXPECT_TRUE(sent.endsWith(QStringLiteral("ipsum") + kEllipsis + place)) << sent.right(40).toStdString();
    EXPECT_LE(sent.size(), 65536);
    EXPECT_GT(sent.size(), 65500);
}

TEST_F(GitHubClientTest, ADroppedConnectionFailsCleanly)
{
    server.setAnswer("/repos/octo/demo/issues", FakeResponse::drop());
    const auto result = createIssue(server.baseUrl());
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().caseName, HttpErrorCase::sessionTaskFailed);
    EXPECT_FALSE(result.error().responseCode.has_value());
    EXPECT_FALSE(result.error().description.isEmpty());
    // The request may have reached GitHub: sending it again could file the issue twice.
    EXPECT_EQ(result.error().retry, Error::Retry::never);
}

TEST_F(GitHubClientTest, ARefusedConnectionFailsCleanly)
{
    const QUrl closed = server.baseUrl();
    server.close();
    const auto result = createIssue(closed);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().caseName, HttpErrorCase::sessionTaskFailed);
    EXPECT_EQ(result.error().description, QStringLiteral("GitHub could not be reached: connection refused"));
    EXPECT_EQ(result.error().textualForm, result.error().description + kIssuesPath);
    EXPECT_EQ(result.error().retry, Error::Retry::whenReachable);
}

TEST_F(GitHubClientTest, AFailedTlsHandshakeSaysGitHubCouldNotBeReached)
{
    // Something that answers a TLS greeting with plain text.
    QTcpServer plain;
    ASSERT_TRUE(plain.listen(QHostAddress::LocalHost));
    QObject::connect(&plain, &QTcpServer::newConnection, &plain, [&plain] {
        QTcpSocket* socket = plain.nextPendingConnection();
        socket->write("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
        socket->disconnectFromHost();
    });
    const auto result = createIssue(QUrl(QStringLiteral("https://127.0.0.1:%1").arg(plain.serverPort())));
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().caseName, HttpErrorCase::sessionTaskFailed);
    EXPECT_TRUE(result.error().description.startsWith(QStringLiteral("GitHub could not be reached: TLS")))
        << result.error().description.toStdString();
    EXPECT_FALSE(result.error().description.contains(QStringLiteral("127.0.0.1")));
    EXPECT_EQ(result.error().retry, Error::Retry::whenReachable);
}

TEST_F(GitHubClientTest, AServerThatNeverAnswersTimesOut)
{
    HttpClient::setInactivityTimeout(300ms);
    server.enqueue(FakeResponse::neverAnswer());
    const auto result = createIssue(server.baseUrl());
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().caseName, HttpErrorCase::timedOut);
    EXPECT_EQ(result.error().description, QStringLiteral("GitHub could not be reached: the request timed out"));
    EXPECT_EQ(result.error().retry, Error::Retry::never);
}

TEST_F(GitHubClientTest, AConnectThatTimesOutIsRetriedOnceReachable)
{
    // A listener with no room left: the kernel drops further handshakes, as an upstream that
    // never answers does.
    QTcpServer full;
    full.setListenBacklogSize(0);
    ASSERT_TRUE(full.listen(QHostAddress::LocalHost));
    full.pauseAccepting();
    QTcpSocket filler;
    filler.connectToHost(QHostAddress::LocalHost, full.serverPort());
    ASSERT_TRUE(filler.waitForConnected(5000));

    HttpClient::setInactivityTimeout(300ms);
    const auto result = createIssue(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(full.serverPort())));
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().caseName, HttpErrorCase::timedOut);
    EXPECT_EQ(result.error().retry, Error::Retry::whenReachable);
}

TEST_F(GitHubClientTest, CancellingAbortsTheRequest)
{
    server.enqueue(FakeResponse::neverAnswer());
    CancellationToken cancellation;
    QObject::connect(&server, &FakeGitHubServer::requestReceived, &server, [cancellation] { cancellation.cancel(); });
    const auto result =
        createIssue(server.baseUrl(), QStringLiteral("octo"), QStringLiteral("demo"), kToken, cancellation);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().caseName, HttpErrorCase::explicitlyCancelled);
    EXPECT_TRUE(server.waitForOpenConnections(0));
}

TEST_F(GitHubClientTest, ATokenThatWouldSplitTheHeaderIsRefusedBeforeSending)
{
    const QString bad = QStringLiteral("ghp_abc\r\nX-Injected: 1");
    const auto result = createIssue(server.baseUrl(), QStringLiteral("octo"), QStringLiteral("demo"), bad);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().caseName, HttpErrorCase::invalidHeader);
    EXPECT_FALSE(result.error().description.contains(QStringLiteral("ghp_abc")));
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(GitHubClientTest, AnOwnerThatMakesNoValidUrlIsRefusedBeforeSending)
{
    const auto result = createIssue(server.baseUrl(), QStringLiteral("oc to"), QStringLiteral("demo"));
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().caseName, HttpErrorCase::invalidURL);
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(GitHubClientTest, ABodyBeyondTheLimitIsRefused)
{
    const QByteArray huge(HttpClient::kMaxResponseBytes + 1024, 'x');
    server.enqueue(FakeResponse::json(201, huge)); // declared by Content-Length
    FakeResponse streamed = FakeResponse::json(201, huge);
    streamed.omitContentLength = true; // only the bytes received tell
    server.enqueue(streamed);
    for (int i = 0; i < 2; ++i) {
        const auto result = createIssue(server.baseUrl());
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().caseName, HttpErrorCase::responseTooLarge) << i;
    }
}

TEST_F(GitHubClientTest, ASmallBodyThatInflatesBeyondTheLimitFailsAsATransfer)
{
    const QByteArray huge(HttpClient::kMaxResponseBytes + 1024, '0');
    server.enqueue(FakeResponse::json(201, qCompress(huge).mid(4)).withHeader("Content-Encoding", "deflate"));
    const auto result = createIssue(server.baseUrl());
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().caseName, HttpErrorCase::sessionTaskFailed);
    EXPECT_EQ(result.error().description, QStringLiteral("Decompression failed"));
}

// Redirect answers to the issue POST.
class GitHubClientRedirectTest : public GitHubClientTest, public ::testing::WithParamInterface<int>
{};

TEST_P(GitHubClientRedirectTest, NeverFollowsToAnotherOrigin)
{
    FakeGitHubServer other;
    ASSERT_TRUE(other.start());
    server.enqueue(FakeResponse::redirect(GetParam(), other.url(QStringLiteral("/repositories/515436299/issues"))));
    const auto result = createIssue(server.baseUrl());
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().caseName, HttpErrorCase::responseValidationFailed);
    EXPECT_EQ(result.error().responseCode, GetParam());
    EXPECT_TRUE(other.requests().isEmpty());
    EXPECT_EQ(server.requests().size(), 1);
}

TEST_P(GitHubClientRedirectTest, FollowsTheSameOriginOnlyFor307And308KeepingThePost)
{
    const int status = GetParam();
    server.enqueue(FakeResponse::redirect(status, server.url(QStringLiteral("/repositories/515436299/issues"))));
    server.setAnswer("/repositories/515436299/issues",
                     FakeResponse::fixture(201, QStringLiteral("rest-create-issue-201.json")));
    const auto result = createIssue(server.baseUrl());
    const bool keepsMethod = status == 307 || status == 308;
    ASSERT_EQ(result.ok(), keepsMethod);
    if (!keepsMethod) {
        EXPECT_EQ(result.error().responseCode, status);
        EXPECT_EQ(server.requests().size(), 1);
        return;
    }
    ASSERT_EQ(server.requests().size(), 2);
    const auto first = server.requests().at(0);
    const auto second = server.requests().at(1);
    EXPECT_EQ(second.method, "POST");
    EXPECT_EQ(second.path, "/repositories/515436299/issues");
    EXPECT_EQ(second.body, first.body);
    EXPECT_EQ(second.header("Authorization"), first.header("Authorization"));
    EXPECT_EQ(second.header("X-GitHub-Api-Version"), "2022-11-28");
}

INSTANTIATE_TEST_SUITE_P(Statuses,
                         GitHubClientRedirectTest,
                         ::testing::Values(301, 302, 303, 307, 308),
                         [](const auto& p) { return std::to_string(p.param); });

TEST_F(GitHubClientTest, ARedirectLoopEnds)
{
    server.setAnswer("/repos/octo/demo/issues",
                     FakeResponse::redirect(307, server.url(QStringLiteral("/repos/octo/demo/issues"))));
    const auto result = createIssue(server.baseUrl());
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().caseName, HttpErrorCase::tooManyRedirects);
    EXPECT_EQ(server.requests().size(), HttpClient::kMaxRedirects + 1);
}

} // namespace
} // namespace jw

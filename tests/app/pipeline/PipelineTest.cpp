#include "app/detection/FileWatcher.h"
#include "app/detection/TodoParser.h"
#include "app/models/ProjectCache.h"
#include "app/models/SeenTodo.h"
#include "app/models/WatchedDirectory.h"
#include "app/views/NotchViewModel.h"
#include "platform/AtomicFile.h"
#include "tests/app/pipeline/PipelineFixture.h"
#include "tests/support/ManualClock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QSemaphore>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace jw::test {
namespace {

using Kind = IslandState::Kind;

QList<QByteArray> lines(const QByteArray& bytes)
{
    return bytes.split('\n');
}

class Pipeline : public PipelineFixture
{
protected:
    std::vector<std::shared_ptr<SeenTodo>> records()
    {
        return m_delegate->modelContainer()->mainContext()->fetch<SeenTodo>().value();
    }

    // Moves `clock` on in small steps, letting real work (requests, timers) run between them.
    static bool runClockUntil(ManualClock& clock, const std::function<bool()>& done)
    {
        return QTest::qWaitFor(
            [&] {
                clock.advance(0.25);
                return done();
            },
            30000);
    }
    static bool waitsFor(const ManualClock& clock, double seconds, double tolerance = 0.01)
    {
        const auto pending = clock.pending();
        return std::any_of(pending.begin(), pending.end(), [&](double s) { return std::abs(s - seconds) < tolerance; });
    }
    bool waitForLogPrefix(const QString& prefix)
    {
        return QTest::qWaitFor([&] { return !m_log.lines().filter(prefix).isEmpty(); }, 20000);
    }
    // Launches against a loopback port with nothing listening: nothing ever reaches it.
    void launchAgainstAClosedPort(quint16& port)
    {
        launch();
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
        probe.close();
        m_delegate->setGitHubApiBaseUrl(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port)));
    }
};

// Nothing reached GitHub (a loopback port with nothing listening): the TODOs (two of one text) wait, are tried
// again after 5 s and then 10 s, and each is filed once the server is up there.
TEST_F(Pipeline, TodosWaitWhileGitHubCannotBeReachedAndAreFiledOnceWhenItAnswers)
{
    quint16 port = 0;
    ASSERT_NO_FATAL_FAILURE(launchAgainstAClosedPort(port));
    ManualClock clock;

    appendToFile(QStringLiteral("main.c"), "// TODO: first\n// TODO: second\n// TODO: second\n");
    // All runs are in their first second.
    ASSERT_TRUE(QTest::qWaitFor([&] { return clock.pending().size() == 3; }, 20000));
    clock.advance(1);
    const QString notice = QStringLiteral("GitHub could not be reached: 3 TODOs wait");
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_log.contains(notice); }, 20000))
        << m_log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(m_shown.last(), IslandState::error(notice));
    EXPECT_TRUE(waitsFor(clock, 5));
    clock.advance(5);
    clock.advance(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return waitsFor(clock, 10); }, 20000));
    EXPECT_EQ(kinds().count(Kind::error), 1);

    FakeGitHubServer comingUp;
    ASSERT_TRUE(comingUp.start(port));
    comingUp.enqueue(issueAnswer(1));
    comingUp.enqueue(issueAnswer(2));
    comingUp.enqueue(issueAnswer(3));
    ASSERT_TRUE(
        runClockUntil(clock, [&] { return m_log.lines().filter(QStringLiteral("Issue created")).size() == 3; }));
    EXPECT_EQ(comingUp.requests().size(), 3);
    EXPECT_EQ(readFile(QStringLiteral("main.c")).count(" (#"), 3);
    EXPECT_EQ(m_log.count(notice), 1);
    EXPECT_EQ(m_log.lines().filter(QStringLiteral("Error creating issue")).size(), 0);
    // The tries again are quiet: each TODO's steps were shown once, and each confirmation.
    EXPECT_EQ(kinds().count(Kind::detecting), 3);
    EXPECT_EQ(kinds().count(Kind::confirmed), 3);
}

// The wait ends in a refusal that is not tried again: the next outage is said anew.
TEST_F(Pipeline, AfterAWaitEndsInARefusalTheNextOutageIsSaid)
{
    quint16 port = 0;
    ASSERT_NO_FATAL_FAILURE(launchAgainstAClosedPort(port));
    ManualClock clock;

    appendToFile(QStringLiteral("main.c"), "// TODO: refused\n");
    const QString notice = QStringLiteral("GitHub could not be reached: 1 TODO waits");
    ASSERT_TRUE(runClockUntil(clock, [&] { return m_log.contains(notice); }));
    {
        FakeGitHubServer comingUp;
        ASSERT_TRUE(comingUp.start(port));
        FakeResponse refused = FakeResponse::json(422, R"({"message":"Validation Failed"})");
        refused.closeConnection = true;
        comingUp.enqueue(refused);
        ASSERT_TRUE(
            runClockUntil(clock, [&] { return !m_log.lines().filter(QStringLiteral("Error creating")).isEmpty(); }));
    }
    appendToFile(QStringLiteral("main.c"), "// TODO: next outage\n");
    ASSERT_TRUE(runClockUntil(clock, [&] { return m_log.count(notice) == 2; }))
        << m_log.lines().join(QLatin1Char('\n')).toStdString();
}

// GitHub's rate-limit answers, with their real headers: nothing more is sent until the time
// they name, then each TODO is filed once.
struct RateLimitCase
{
    const char* name;
    int status;
    QByteArray header;
    qint64 value; // seconds from now
    QByteArray message;
    double wait; // seconds the program waits
};

void PrintTo(const RateLimitCase& c, std::ostream* os)
{
    *os << c.name;
}

class RateLimit : public Pipeline, public ::testing::WithParamInterface<RateLimitCase>
{};

TEST_P(RateLimit, SendsNothingUntilTheTimeGitHubNamesThenFilesEachOnce)
{
    const RateLimitCase& c = GetParam();
    launch();
    ManualClock clock;
    FakeResponse limited =
        FakeResponse::json(c.status, QByteArrayLiteral("{\"message\":\"") + c.message + QByteArrayLiteral("\"}"));
    if (c.header == "x-ratelimit-reset")
        limited.withHeader("x-ratelimit-limit", "5000").withHeader("x-ratelimit-remaining", "0");
    if (!c.header.isEmpty())
        limited.withHeader(
            c.header,
            QByteArray::number(c.header == "retry-after" ? c.value : QDateTime::currentSecsSinceEpoch() + c.value));
    m_server.enqueue("/repos/octo/demo/issues", limited);
    m_server.enqueue("/repos/octo/demo/issues", issueAnswer(1));
    m_server.enqueue("/repos/octo/demo/issues", issueAnswer(2));

    appendToFile(QStringLiteral("main.c"), "// TODO: first\n// TODO: second\n");
    // Both runs are in their first second.
    ASSERT_TRUE(QTest::qWaitFor([&] { return clock.pending().size() == 2; }, 20000));
    clock.advance(1);
    ASSERT_TRUE(waitForLogPrefix(QStringLiteral("GitHub API rate limit exceeded: 2 TODOs wait until ")))
        << m_log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(waitsFor(clock, c.wait, 2.0)) << ::testing::PrintToString(clock.pending());
    EXPECT_EQ(issueRequests(), 1);
    clock.advance(c.wait - 3);
    appendToFile(QStringLiteral("main.c"), "// TODO: third\n");
    ASSERT_TRUE(waitForLogPrefix(QStringLiteral("TODO detected: \"third\"")));
    clock.runQueued();
    EXPECT_EQ(issueRequests(), 1);

    m_server.enqueue("/repos/octo/demo/issues", issueAnswer(3));
    ASSERT_TRUE(
        runClockUntil(clock, [&] { return m_log.lines().filter(QStringLiteral("Issue created")).size() == 3; }));
    EXPECT_EQ(issueRequests(), 4);
    EXPECT_EQ(readFile(QStringLiteral("main.c")).count(" (#"), 3);
}

INSTANTIATE_TEST_SUITE_P(
    Answers,
    RateLimit,
    ::testing::Values(
        RateLimitCase{"PrimaryUntilTheReset", 403, "x-ratelimit-reset", 120, "API rate limit exceeded", 120},
        RateLimitCase{"SecondaryRetryAfter", 403, "retry-after", 30, "secondary rate limit", 30},
        RateLimitCase{"SecondaryByItsMessage",
                      403,
                      "",
                      0,
                      "You have exceeded a secondary rate limit. Please wait a few minutes",
                      60},
        RateLimitCase{"TooManyRequests", 429, "retry-after", 45, "", 45},
        // A clock far behind, or an absurd answer: an hour at most, then GitHub is asked again.
        RateLimitCase{"AnHourAtMost", 403, "retry-after", 40 * 24 * 3600, "secondary rate limit", 3600}),
    [](const auto& p) { return std::string(p.param.name); });

// A TODO written while the keyring is still answering at start waits for the token instead of
// ending in "No GitHub token configured".
TEST_F(Pipeline, ATodoBeforeTheKeyringsFirstAnswerWaitsForTheToken)
{
    writeFile(QStringLiteral("main.c"), "// TODO: early\n");
    launch(false);
    const QList<ParsedTodo> todos =
        TodoParser::parse(QStringLiteral("// TODO: early\n"), file(QStringLiteral("main.c")));
    ASSERT_EQ(todos.size(), 1);
    ParsedTodo early = todos.first();
    early.localPath = QFile::encodeName(early.filePath);
    ASSERT_FALSE(m_delegate->appState()->githubToken().has_value());
    m_delegate->handleDetectedTodo(early, m_delegate->modelContainer()->mainContext());

    ASSERT_TRUE(waitForStates(Kind::confirmed)) << m_log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(kinds().contains(Kind::error));
    EXPECT_EQ(issueRequests(), 1);
}

TEST_F(Pipeline, EditorSavesBecomeIssuesAnnotatedLinesAndRecords)
{
    launch();
    const QString path = file(QStringLiteral("main.c"));
    m_server.enqueue("/repos/octo/demo/issues", issueAnswer(41));
    m_server.enqueue("/repos/octo/demo/issues", issueAnswer(42));
    m_server.enqueue("/repos/octo/demo/issues", issueAnswer(43));
    m_server.enqueue("/repos/octo/demo/issues", issueAnswer(44));

    // Appending in place.
    appendToFile(QStringLiteral("main.c"), "// TODO: fix the cache\n");
    ASSERT_TRUE(waitForStates(Kind::confirmed, 1));
    ASSERT_EQ(issueRequests(), 1);
    const RecordedRequest request = m_server.requests().first();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/repos/octo/demo/issues");
    EXPECT_EQ(request.json().value(QStringLiteral("title")).toString(), QStringLiteral("fix the cache"));
    EXPECT_EQ(request.json().value(QStringLiteral("body")).toString(), QStringLiteral("\n\n---\n`%1:2`").arg(path));
    EXPECT_EQ(request.header("Authorization"), std::optional<QByteArray>("Bearer " + kToken.toUtf8()));
    EXPECT_EQ(lines(readFile(QStringLiteral("main.c")))[1],
              "// TODO: fix the cache (#41 https://github.com/octo/demo/issues/41)");
    EXPECT_TRUE(m_log.contains(QStringLiteral("TODO detected: \"fix the cache\" in %1:2").arg(path)));
    EXPECT_TRUE(m_log.contains(QStringLiteral("Issue created: #41 on octo/demo")));

    // A temporary file renamed over the target.
    replaceAtomically(QStringLiteral("main.c"),
                      readFile(QStringLiteral("main.c")) + "# not a c comment\n// TODO: second one\n");
    ASSERT_TRUE(waitForStates(Kind::confirmed, 2));
    EXPECT_EQ(lines(readFile(QStringLiteral("main.c")))[3],
              "// TODO: second one (#42 https://github.com/octo/demo/issues/42)");

    // sed -i writes a new file and renames it; the TODOs below move down a line.
    sedInPlace(QStringLiteral("main.c"), QStringLiteral("1a // TODO: third via sed"));
    ASSERT_TRUE(waitForStates(Kind::confirmed, 3));
    const QList<QByteArray> now = lines(readFile(QStringLiteral("main.c")));
    EXPECT_EQ(now[1], "// TODO: third via sed (#43 https://github.com/octo/demo/issues/43)");
    EXPECT_EQ(now[2], "// TODO: fix the cache (#41 https://github.com/octo/demo/issues/41)");

    // The program's own rewrites report nothing new: only the next real TODO is filed.
    appendToFile(QStringLiteral("main.c"), "// TODO: fourth\n");
    ASSERT_TRUE(waitForStates(Kind::confirmed, 4));
    EXPECT_EQ(issueRequests(), 4);

    const auto stored = records();
    ASSERT_EQ(stored.size(), 4u);
    for (const auto& r : stored) {
        EXPECT_EQ(r->repoFullName(), std::optional<QString>(QStringLiteral("octo/demo")));
        EXPECT_EQ(r->issueURL(), std::optional<QString>(issueUrl(*r->issueNumber())));
        EXPECT_EQ(r->filePath(), path);
    }
    const auto& recent = m_delegate->appState()->recentIssues();
    ASSERT_EQ(recent.size(), 4);
    EXPECT_EQ(recent[0].issueNumber, 44);
    EXPECT_EQ(recent[3].issueNumber, 41);
    EXPECT_EQ(kinds(),
              (QList<Kind>{Kind::detecting,
                           Kind::creating,
                           Kind::confirmed,
                           Kind::detecting,
                           Kind::creating,
                           Kind::confirmed,
                           Kind::detecting,
                           Kind::creating,
                           Kind::confirmed,
                           Kind::detecting,
                           Kind::creating,
                           Kind::confirmed}));
    EXPECT_EQ(m_shown[2],
              IslandState::confirmed(QStringLiteral("fix the cache"),
                                     QStringLiteral("octo/demo"),
                                     41,
                                     issueUrl(41),
                                     std::nullopt,
                                     std::nullopt,
                                     false,
                                     false));
}

TEST_F(Pipeline, ATodoThatArrivesWithItsReferenceWasFiledAlready)
{
    writeFile(QStringLiteral("other.c"), "int other;\n");
    launch();
    m_server.enqueue("/repos/octo/demo/issues", issueAnswer(50));
    m_server.enqueue("/repos/octo/demo/issues", issueAnswer(51));
    const auto detected = [&](const QString& title) {
        return !m_log.lines().filter(QStringLiteral("TODO detected: \"%1\"").arg(title)).isEmpty();
    };

    // A pull brings a TODO filed elsewhere, in a block comment too; the same save brings a new one.
    const QByteArray pulled = "// TODO: retry on 502 (#41 https://github.com/octo/demo/issues/41)\n"
                              "/* TODO: drop the cache (#7 https://github.com/octo/demo/issues/7) */\n";
    const QByteArray before = readFile(QStringLiteral("main.c"));
    replaceAtomically(QStringLiteral("main.c"), before + pulled + "// TODO: first new one\n");
    ASSERT_TRUE(waitForStates(Kind::confirmed, 1));
    EXPECT_FALSE(detected(QStringLiteral("retry on 502")));
    EXPECT_FALSE(detected(QStringLiteral("drop the cache")));
    EXPECT_EQ(issueRequests(), 1);
    EXPECT_EQ(m_server.requests().last().json().value(QStringLiteral("title")).toString(),
              QStringLiteral("first new one"));
    EXPECT_TRUE(readFile(QStringLiteral("main.c")).startsWith(before + pulled));

    // From then on its text counts as filed, also without the reference.
    appendToFile(QStringLiteral("other.c"), "// TODO: Retry on 502\nint x;\n// TODO: second new one\n");
    ASSERT_TRUE(waitForStates(Kind::confirmed, 2));
    EXPECT_FALSE(detected(QStringLiteral("Retry on 502")));
    EXPECT_EQ(issueRequests(), 2);
    EXPECT_EQ(records().size(), 2u);
}

TEST_F(Pipeline, FailedCreationShowsTheErrorAndIsFiledOnlyOnceItsTextChanges)
{
    launch();
    m_server.enqueue("/repos/octo/demo/issues", FakeResponse::json(404, R"({"message": "Not Found"})"));
    const QByteArray before = readFile(QStringLiteral("main.c"));
    appendToFile(QStringLiteral("main.c"), "// TODO: flaky\n");
    ASSERT_TRUE(waitForStates(Kind::error));
    EXPECT_EQ(m_shown.last(), IslandState::error(QStringLiteral("Repository not found: octo/demo")));
    EXPECT_TRUE(m_log.contains(
        QStringLiteral("Error creating issue: repoNotFound(\"octo/demo\") (not filed: %1:2)").arg(file("main.c"))));
    EXPECT_EQ(readFile(QStringLiteral("main.c")), before + "// TODO: flaky\n");
    EXPECT_TRUE(records().empty());
    EXPECT_TRUE(m_delegate->appState()->recentIssues().isEmpty());

    // Saving again, and adding another TODO: only the new one is filed.
    m_server.enqueue("/repos/octo/demo/issues", FakeResponse::json(500, "oops"));
    replaceAtomically(QStringLiteral("main.c"), readFile(QStringLiteral("main.c")) + "// TODO: other\n");
    ASSERT_TRUE(waitForStates(Kind::error, 2));
    EXPECT_EQ(issueRequests(), 2);
    EXPECT_EQ(m_server.requests().last().json().value(QStringLiteral("title")).toString(), QStringLiteral("other"));
    EXPECT_EQ(m_shown.last(), IslandState::error(QStringLiteral("GitHub is unavailable (HTTP 500)")));
    EXPECT_TRUE(m_log.contains(QStringLiteral("Error creating issue: GitHub is unavailable (HTTP 500) [POST "
                                              "/repos/octo/demo/issues] (not filed: %1:3)")
                                   .arg(file("main.c"))));

    // Once its text changes it counts as new.
    m_server.enqueue("/repos/octo/demo/issues", issueAnswer(8));
    sedInPlace(QStringLiteral("main.c"), QStringLiteral("s/TODO: flaky/TODO: flaky test/"));
    ASSERT_TRUE(waitForStates(Kind::confirmed));
    EXPECT_EQ(issueRequests(), 3);
    EXPECT_EQ(m_server.requests().last().json().value(QStringLiteral("title")).toString(),
              QStringLiteral("flaky test"));
}

// The fake server refuses a title over 256 characters as GitHub does; nothing is scripted here.
TEST_F(Pipeline, ATitleTooLongForGitHubIsFiledCutWhileItsHashAndAnnotationKeepTheWholeText)
{
    launch();
    const QString title = QStringLiteral("rework") + QStringLiteral(" the cache").repeated(40);
    appendToFile(QStringLiteral("main.c"), "// TODO: " + title.toUtf8() + "\n");
    ASSERT_TRUE(waitForStates(Kind::confirmed));
    EXPECT_EQ(issueRequests(), 1);
    const QString body = m_server.requests().first().json().value(QStringLiteral("body")).toString();
    EXPECT_TRUE(body.startsWith(title + QStringLiteral("\n\n---\n`"))) << body.toStdString();
    EXPECT_TRUE(
        lines(readFile(QStringLiteral("main.c")))[1].startsWith("// TODO: " + title.toUtf8() + " (#1 https://"));
    const auto stored = records();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored.front()->contentHash(), TodoParser::contentHash(title));
    EXPECT_EQ(stored.front()->title(), title);
}

TEST_F(Pipeline, ChecksBeforeCreationStopTheRun)
{
    const QString plain = m_home.path() + QStringLiteral("/plain");
    ASSERT_TRUE(QDir().mkpath(plain));
    {
        QFile f(plain + QStringLiteral("/tool.py"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("print(1)\n");
    }
    launch();
    auto* context = m_delegate->modelContainer()->mainContext();
    context->insert(std::make_shared<WatchedDirectory>(plain + QLatin1Char('/'), true));
    ASSERT_TRUE(context->save().ok());
    m_delegate->appState()->fileWatcher()->start({m_repo + QLatin1Char('/'), plain + QLatin1Char('/')}, true);
    AppState* state = m_delegate->appState();

    // Paused: detected and logged, but nothing else, and never brought back.
    state->setIsWatchingEnabled(false);
    appendToFile(QStringLiteral("main.c"), "// TODO: while paused\n");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !m_log.lines().filter(QStringLiteral("TODO detected: \"while paused\"")).isEmpty(); },
        20000));
    // The hop to the main thread follows the log line at once; let it find the switch still off.
    QTest::qWait(500);
    state->setIsWatchingEnabled(true);
    m_server.enqueue("/repos/octo/demo/issues", issueAnswer(5));
    appendToFile(QStringLiteral("main.c"), "// TODO: after resuming\n");
    ASSERT_TRUE(waitForStates(Kind::confirmed));
    EXPECT_EQ(issueRequests(), 1);
    EXPECT_EQ(kinds(), (QList<Kind>{Kind::detecting, Kind::creating, Kind::confirmed}));

    // No token: straight to the error, without detecting.
    state->setGithubToken(std::nullopt);
    appendToFile(QStringLiteral("main.c"), "// TODO: without token\n");
    ASSERT_TRUE(waitForStates(Kind::error));
    EXPECT_EQ(m_shown.last(), IslandState::error(QStringLiteral("No GitHub token configured")));
    EXPECT_EQ(m_shown[m_shown.size() - 2].kind, Kind::confirmed);

    // Outside a GitHub work tree: detecting, then the error. An empty token counts as present.
    state->setGithubToken(QString());
    QFile py(plain + QStringLiteral("/tool.py"));
    ASSERT_TRUE(py.open(QIODevice::WriteOnly | QIODevice::Append));
    py.write("# TODO: not on github\n");
    py.close();
    ASSERT_TRUE(waitForStates(Kind::error, 2));
    EXPECT_EQ(m_shown.last(), IslandState::error(QStringLiteral("Not a GitHub repository")));
    EXPECT_EQ(m_shown[m_shown.size() - 2], IslandState::detecting(QStringLiteral("not on github")));
    EXPECT_EQ(issueRequests(), 1);
}

TEST_F(Pipeline, ChosenBoardReceivesTheIssueAndItsFailureOnlyMarksTheConfirmation)
{
    {
        AppDelegate setup;
        auto* context = setup.modelContainer()->mainContext();
        auto dir = std::make_shared<WatchedDirectory>(m_repo + QLatin1Char('/'), true);
        dir->setSelectedProjectNodeId(QStringLiteral("PVT_board"));
        context->insert(dir);
        context->insert(std::make_shared<ProjectCache>(QStringLiteral("PVT_board"),
                                                       QStringLiteral("Roadmap"),
                                                       QStringLiteral("octo"),
                                                       true,
                                                       QStringLiteral("https://github.com/orgs/octo/projects/1"),
                                                       QDateTime::currentDateTimeUtc()));
        ASSERT_TRUE(context->save().ok());
    }
    launch();
    m_server.enqueue("/repos/octo/demo/issues", issueAnswer(1));
    appendToFile(QStringLiteral("main.c"), "// TODO: on the board\n");
    ASSERT_TRUE(waitForStates(Kind::confirmed));
    EXPECT_EQ(m_shown.last(),
              IslandState::confirmed(QStringLiteral("on the board"),
                                     QStringLiteral("octo/demo"),
                                     1,
                                     issueUrl(1),
                                     QStringLiteral("Roadmap"),
                                     QStringLiteral("https://github.com/orgs/octo/projects/1"),
                                     false,
                                     true));
    EXPECT_TRUE(m_log.contains(QStringLiteral("Issue #1 added to project 'Roadmap'")));
    const RecordedRequest mutation = m_server.requests().last();
    EXPECT_EQ(mutation.path, "/graphql");
    const QJsonObject variables = mutation.json().value(QStringLiteral("variables")).toObject();
    EXPECT_EQ(variables.value(QStringLiteral("projectId")).toString(), QStringLiteral("PVT_board"));
    EXPECT_EQ(variables.value(QStringLiteral("contentId")).toString(), QStringLiteral("I_node1"));

    m_server.enqueue("/repos/octo/demo/issues", issueAnswer(2));
    m_server.enqueue("/graphql", FakeResponse::json(200, R"({"errors": [{"message": "nope"}]})"));
    appendToFile(QStringLiteral("main.c"), "// TODO: board refuses\n");
    ASSERT_TRUE(waitForStates(Kind::confirmed, 2));
    EXPECT_TRUE(m_shown.last().projectFailed);
    EXPECT_EQ(m_shown.last().projectName, std::optional<QString>(QStringLiteral("Roadmap")));
    EXPECT_TRUE(m_log.contains(QStringLiteral("Project assignment failed: graphQLError(\"nope\")")));
    EXPECT_TRUE(m_log.contains(QStringLiteral("Issue created: #2 on octo/demo")));
    EXPECT_EQ(records().size(), 2u);

    // A board chosen but never listed: no project step at all.
    auto dirs = m_delegate->modelContainer()->mainContext()->fetch<WatchedDirectory>().value();
    dirs[0]->setSelectedProjectNodeId(QStringLiteral("PVT_unknown"));
    m_server.clearRequests();
    m_server.enqueue("/repos/octo/demo/issues", issueAnswer(3));
    appendToFile(QStringLiteral("main.c"), "// TODO: unlisted board\n");
    ASSERT_TRUE(waitForStates(Kind::confirmed, 3));
    EXPECT_FALSE(m_shown.last().projectName.has_value());
    EXPECT_EQ(m_server.requests().size(), 1);
    EXPECT_EQ(m_log.lines().filter(QStringLiteral("added to project")).size(), 1);
}

TEST_F(Pipeline, OneTodoDrivesTheIslandUpAndItClosesAboutThreeSecondsLater)
{
    m_useRealIsland = true;
    launch();
    ASSERT_NE(m_island, nullptr);
    QList<NotchDrawer*> created;
    QList<NotchDrawer*> released;
    SteadyClock::time_point releasedAt{};
    QObject::connect(m_island, &DynamicIslandController::notchCreated, [&](NotchDrawer* n) { created << n; });
    QObject::connect(m_island, &DynamicIslandController::notchReleased, [&](NotchDrawer* n) {
        released << n;
        releasedAt = SteadyClock::now();
    });

    m_server.enqueue("/repos/octo/demo/issues", issueAnswer(42));
    appendToFile(QStringLiteral("main.c"), "// TODO: show the island\n");
    ASSERT_TRUE(waitForStates(Kind::confirmed));
    EXPECT_EQ(kinds(), (QList<Kind>{Kind::detecting, Kind::creating, Kind::confirmed}));
    ASSERT_EQ(created.size(), 1);
    ASSERT_NE(m_island->notch(), nullptr);
    EXPECT_EQ(m_island->notch()->state(), NotchDrawerState::expanded);
    EXPECT_NE(m_island->notch()->panel(), nullptr);
    EXPECT_EQ(m_island->viewModel()->title(), QStringLiteral("Pushed #42"));

    ASSERT_TRUE(QTest::qWaitFor([&] { return !released.isEmpty(); }, 15000));
    EXPECT_EQ(released, created);
    const auto afterConfirmation = releasedAt - m_shownAt[2];
    EXPECT_GE(afterConfirmation, std::chrono::milliseconds(3000));
    EXPECT_LT(afterConfirmation, std::chrono::milliseconds(8000));
    EXPECT_EQ(m_island->notch(), nullptr);
    EXPECT_FALSE(m_island->isVisible());
}

class PipelineTiming : public PipelineFixture, public ::testing::WithParamInterface<int>
{};

TEST_P(PipelineTiming, CreatingStaysOnScreenAtLeastOneSecond)
{
    const int answerMs = GetParam();
    launch();
    m_server.enqueue("/repos/octo/demo/issues", issueAnswer(9).after(std::chrono::milliseconds(answerMs)));
    appendToFile(QStringLiteral("main.c"), "// TODO: timed\n");
    ASSERT_TRUE(waitForStates(Kind::confirmed));
    ASSERT_EQ(kinds(), (QList<Kind>{Kind::detecting, Kind::creating, Kind::confirmed}));
    using std::chrono::milliseconds;
    EXPECT_GE(m_shownAt[1] - m_shownAt[0], milliseconds(1000));
    const auto creating = m_shownAt[2] - m_shownAt[1];
    EXPECT_GE(creating, milliseconds(std::max(1000, answerMs)));
    EXPECT_LT(creating, milliseconds(std::max(1000, answerMs) + 5000));
}

INSTANTIATE_TEST_SUITE_P(AnswerDelay, PipelineTiming, ::testing::Values(300, 2000));

TEST_F(Pipeline, TwoTodosInOneWriteGiveTwoIssuesOnTheirOwnLines)
{
    launch();
    // A slow first answer: the second creation waits for it, on the same connection.
    m_server.enqueue("/repos/octo/demo/issues", issueAnswer(11).after(std::chrono::milliseconds(500)));
    m_server.enqueue("/repos/octo/demo/issues", issueAnswer(12));
    int mostConnections = 0;
    QObject::connect(&m_server, &FakeGitHubServer::requestReceived, &m_server, [&] {
        mostConnections = std::max(mostConnections, m_server.openConnections());
    });
    appendToFile(QStringLiteral("main.c"), "// TODO: first of two\nint a;\n// TODO: second of two\n");
    ASSERT_TRUE(waitForStates(Kind::confirmed, 2));
    EXPECT_EQ(mostConnections, 1) << "creations sent side by side";
    const auto stored = records();
    ASSERT_EQ(stored.size(), 2u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return readFile(QStringLiteral("main.c")).count("(#1") == 2; }, 5000));
    const QList<QByteArray> now = lines(readFile(QStringLiteral("main.c")));
    for (const auto& r : stored) {
        const QByteArray line = now[r->lineNumber() - 1];
        EXPECT_TRUE(line.startsWith(("// TODO: " + r->title()).toUtf8())) << line.toStdString();
        EXPECT_TRUE(line.endsWith(QStringLiteral(" (#%1 %2)").arg(*r->issueNumber()).arg(*r->issueURL()).toUtf8()))
            << line.toStdString();
    }
    EXPECT_EQ(issueRequests(), 2);
}

TEST_F(Pipeline, ATodoAfterTheOriginMovedIsFiledInTheNewRepository)
{
    launch();
    m_server.enqueue("/repos/octo/demo/issues", issueAnswer(3));
    appendToFile(QStringLiteral("main.c"), "// TODO: before the move\n");
    ASSERT_TRUE(waitForStates(Kind::confirmed));
    ASSERT_EQ(QProcess::execute(QStringLiteral("/usr/bin/git"),
                                {QStringLiteral("-C"),
                                 m_repo,
                                 QStringLiteral("remote"),
                                 QStringLiteral("set-url"),
                                 QStringLiteral("origin"),
                                 QStringLiteral("git@github.com:octo/moved.git")}),
              0);

    m_server.enqueue("/repos/octo/moved/issues", issueAnswer(4));
    appendToFile(QStringLiteral("main.c"), "// TODO: after the move\n");
    ASSERT_TRUE(waitForStates(Kind::confirmed, 2));
    ASSERT_EQ(issueRequests(), 2);
    EXPECT_EQ(m_server.requests().last().path.toStdString(), "/repos/octo/moved/issues");
    EXPECT_EQ(m_shown.last().repoFullName.toStdString(), "octo/moved");
}

TEST_F(Pipeline, ATodoInAWorkTreeWithALatin1NameInsideAnotherIsFiledThereAndAnnotated)
{
    // The inner work tree's directory is named by the Latin-1 bytes of "café", which no text names.
    const QByteArray inner = QFile::encodeName(m_repo) + "/caf\xe9";
    ASSERT_EQ(::mkdir(inner.constData(), 0755), 0);
    // The temporary home removes its tree by text, which cannot name this directory.
    const auto removeInner = qScopeGuard([&] { std::filesystem::remove_all(inner.toStdString()); });
    QProcess sh;
    sh.setWorkingDirectory(m_repo);
    sh.start(QStringLiteral("/bin/sh"),
             {QStringLiteral("-c"),
              QStringLiteral("cd \"$(printf 'caf\\351')\" && git init -q"
                             " && git remote add origin https://github.com/octo/cafe.git")});
    ASSERT_TRUE(sh.waitForFinished(30000));
    ASSERT_EQ(sh.exitCode(), 0) << sh.readAllStandardError().toStdString();
    const QByteArray code = inner + "/brew.c";
    const auto append = [&](const char* bytes) {
        std::ofstream(code.constData(), std::ios::app | std::ios::binary) << bytes;
    };
    append("int brew(void);\n");
    launch();

    m_server.enqueue("/repos/octo/cafe/issues", issueAnswer(7));
    append("// TODO: grind finer\n");
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return kinds().contains(Kind::confirmed) || kinds().contains(Kind::error); }, 20000));
    EXPECT_EQ(m_shown.last().repoFullName.toStdString(), "octo/cafe") << m_shown.last().message.toStdString();
    ASSERT_EQ(m_server.requests().size(), 1);
    EXPECT_EQ(m_server.requests().first().path.toStdString(), "/repos/octo/cafe/issues");
    std::ifstream in(code.constData(), std::ios::binary);
    const std::string annotated((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(annotated, "int brew(void);\n// TODO: grind finer (#7 " + issueUrl(7).toStdString() + ")\n");
}

TEST_F(Pipeline, TheDetectionLineKeepsPercentSignsOfTheTitle)
{
    launch();
    ParsedTodo todo;
    todo.title = QStringLiteral("use %1 and %2 here");
    todo.filePath = m_home.path() + QStringLiteral("/elsewhere/a.c");
    todo.lineNumber = 7;
    m_delegate->todoDetected(todo, m_delegate->modelContainer()->mainContext());
    EXPECT_TRUE(m_log.contains(QStringLiteral("TODO detected: \"use %1 and %2 here\" in ") + todo.filePath
                               + QStringLiteral(":7")))
        << m_log.lines().join(QLatin1Char('\n')).toStdString();
    ASSERT_TRUE(waitForStates(Kind::error));
}

class Annotation : public PipelineFixture
{
protected:
    void TearDown() override
    {
        setBeforeReplaceHook({});
        PipelineFixture::TearDown();
    }
    void annotate(const QString& name, qint64 line, const QString& title, qint64 number = 42)
    {
        m_delegate->annotateSourceFile(QFile::encodeName(file(name)),
                                       line,
                                       number,
                                       issueUrl(number),
                                       TodoParser::contentHash(title));
    }
};

TEST_F(Annotation, OnlyTheTodoLineChangesByteForByte)
{
    launch();
    const QByteArray url = issueUrl(42).toUtf8();

    // Carriage returns with line feeds, a byte-order mark and no final line break.
    const QByteArray crlf = "\xEF\xBB\xBF// head\r\n// TODO: crlf thing\r\nint x;";
    writeFile(QStringLiteral("crlf.c"), crlf);
    annotate(QStringLiteral("crlf.c"), 3, QStringLiteral("crlf thing"));
    EXPECT_EQ(readFile(QStringLiteral("crlf.c")),
              "\xEF\xBB\xBF// head\r\n// TODO: crlf thing (#42 " + url + ")\r\nint x;");

    // Moved two lines down since detection: the line that holds it now is annotated.
    writeFile(QStringLiteral("moved.c"), "a;\nb;\nint y;\n// TODO: moved\nz;\n");
    annotate(QStringLiteral("moved.c"), 2, QStringLiteral("moved"));
    EXPECT_EQ(readFile(QStringLiteral("moved.c")), "a;\nb;\nint y;\n// TODO: moved (#42 " + url + ")\nz;\n");

    // Two of the same text, detected on lines 1 and 3 and moved down since: each its own reference.
    writeFile(QStringLiteral("twice.c"), "a;\nb;\n// TODO: twice\nc;\n// TODO: twice\n");
    annotate(QStringLiteral("twice.c"), 1, QStringLiteral("twice"), 42);
    annotate(QStringLiteral("twice.c"), 3, QStringLiteral("twice"), 43);
    EXPECT_EQ(readFile(QStringLiteral("twice.c")).toStdString(),
              ("a;\nb;\n// TODO: twice (#42 " + url + ")\nc;\n// TODO: twice (#43 " + issueUrl(43).toUtf8() + ")\n")
                  .toStdString());

    // Gone, or beyond the end: nothing is written.
    writeFile(QStringLiteral("gone.c"), "int a;\n");
    annotate(QStringLiteral("gone.c"), 12, QStringLiteral("gone"));
    EXPECT_EQ(readFile(QStringLiteral("gone.c")), "int a;\n");

    // Annotated already for this number; "(#420" is another issue.
    const QByteArray done = "// TODO: done (#42 " + url + ")\n";
    writeFile(QStringLiteral("done.c"), done);
    annotate(QStringLiteral("done.c"), 1, QStringLiteral("done"));
    EXPECT_EQ(readFile(QStringLiteral("done.c")), done);
    // A line where the reference could not stand without changing what the TODO reads as; the
    // "%2" of the name stays in the log line.
    const QByteArray odd = " * TODO: odd */*/ /\n";
    writeFile(QStringLiteral("odd%2.c"), odd);
    ASSERT_EQ(TodoParser::parse(QString::fromUtf8(odd), file(QStringLiteral("odd%2.c"))).value(0).title,
              QStringLiteral("odd  /"));
    annotate(QStringLiteral("odd%2.c"), 1, QStringLiteral("odd  /"));
    EXPECT_EQ(readFile(QStringLiteral("odd%2.c")), odd);
    EXPECT_TRUE(m_log.contains(QStringLiteral("Left ") + file(QStringLiteral("odd%2.c"))
                               + QStringLiteral(":1 without the issue reference: it would change the TODO's text")))
        << m_log.lines().filter(QStringLiteral("Left ")).join(QLatin1Char('\n')).toStdString();
    writeFile(QStringLiteral("other.c"), "// TODO: other (#420 https://x/420)\n");
    annotate(QStringLiteral("other.c"), 1, QStringLiteral("other"));
    EXPECT_EQ(readFile(QStringLiteral("other.c")), "// TODO: other (#420 https://x/420) (#42 " + url + ")\n");
}

// A save that lands after the file was read for annotating is never replaced by older content.
TEST_F(Annotation, ASaveWhileAnnotatingIsKept)
{
    launch();
    const QByteArray url = issueUrl(42).toUtf8();
    int replaces = 0;
    const auto onReplace = [&](auto change) {
        replaces = 0;
        setBeforeReplaceHook([&replaces, change](const QByteArray& path) { change(path, ++replaces); });
    };

    // A line appended meanwhile: annotated again from the new content.
    writeFile(QStringLiteral("busy.c"), "// TODO: busy\n");
    onReplace([&](const QByteArray&, int n) {
        if (n == 1)
            appendToFile(QStringLiteral("busy.c"), "int saved;\n");
    });
    annotate(QStringLiteral("busy.c"), 1, QStringLiteral("busy"));
    EXPECT_EQ(readFile(QStringLiteral("busy.c")).toStdString(),
              ("// TODO: busy (#42 " + url + ")\nint saved;\n").toStdString());
    EXPECT_EQ(replaces, 2);

    // Same inode, size and modification time, other bytes: changed all the same.
    writeFile(QStringLiteral("same.c"), "// TODO: same\nint a;\n");
    onReplace([&](const QByteArray& path, int n) {
        if (n == 1) {
            struct stat st;
            ::stat(path.constData(), &st);
            const int fd = ::open(path.constData(), O_WRONLY);
            EXPECT_EQ(::pwrite(fd, "b", 1, 18), 1);
            const struct timespec times[2] = {st.st_atim, st.st_mtim};
            ::futimens(fd, times);
            ::close(fd);
        }
    });
    annotate(QStringLiteral("same.c"), 1, QStringLiteral("same"));
    EXPECT_EQ(readFile(QStringLiteral("same.c")).toStdString(),
              ("// TODO: same (#42 " + url + ")\nint b;\n").toStdString());

    // A file that never holds still is left as the user saved it last, after a few tries.
    writeFile(QStringLiteral("restless.c"), "// TODO: restless\n");
    onReplace([&](const QByteArray&, int) { appendToFile(QStringLiteral("restless.c"), "x;\n"); });
    annotate(QStringLiteral("restless.c"), 1, QStringLiteral("restless"));
    EXPECT_EQ(readFile(QStringLiteral("restless.c")).toStdString(), "// TODO: restless\nx;\nx;\nx;\n");
    EXPECT_TRUE(m_log.contains(QStringLiteral("Left ") + file(QStringLiteral("restless.c"))
                               + QStringLiteral(":1 without the issue reference: the file kept changing")));

    // An editor saving in pieces, pausing after the first one (which still holds the TODO): its
    // later pieces would go to the file that the reference replaced.
    writeFile(QStringLiteral("pieces.c"), "// TODO: pieces\nint a;\n");
    int editor = -1;
    onReplace([&](const QByteArray& path, int n) {
        if (n == 1) {
            editor = ::open(path.constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            EXPECT_EQ(::write(editor, "// TODO: pieces\n", 16), 16);
        }
    });
    annotate(QStringLiteral("pieces.c"), 1, QStringLiteral("pieces"));
    ASSERT_GE(editor, 0);
    EXPECT_EQ(::write(editor, "int a;\nint b;\n", 14), 14);
    ::close(editor);
    EXPECT_EQ(readFile(QStringLiteral("pieces.c")).toStdString(), "// TODO: pieces\nint a;\nint b;\n");
    EXPECT_TRUE(m_log.contains(QStringLiteral("Left ") + file(QStringLiteral("pieces.c"))
                               + QStringLiteral(":1 without the issue reference: the file kept changing")));
}

// A TODO saved while its file is being annotated is still found by the save's own event, however
// late the watcher gets to it.
TEST_F(Annotation, ATodoSavedWhileAnnotatingIsStillDetected)
{
    writeFile(QStringLiteral("late.c"), "// TODO: first\n");
    launch();
    FileWatcher* watcher = m_delegate->appState()->fileWatcher();
    QSemaphore held;
    watcher->queue().async([&held] { held.acquire(); });
    setBeforeReplaceHook([this, saved = false](const QByteArray&) mutable {
        if (!std::exchange(saved, true))
            appendToFile(QStringLiteral("late.c"), "// TODO: saved meanwhile\n");
    });
    annotate(QStringLiteral("late.c"), 1, QStringLiteral("first"));
    held.release();

    m_server.enqueue("/repos/octo/demo/issues", issueAnswer(43));
    ASSERT_TRUE(waitForStates(IslandState::Kind::confirmed));
    EXPECT_EQ(issueRequests(), 1);
    EXPECT_EQ(m_server.requests().last().json().value(QStringLiteral("title")).toString(),
              QStringLiteral("saved meanwhile"));
    EXPECT_TRUE(m_log.lines().filter(QStringLiteral("TODO detected: \"first\"")).isEmpty());
}

// Where the reference goes so that the comment still holds it, and what the line then parses as.
struct PlaceCase
{
    const char* name;
    QByteArray line;
    QByteArray annotated; // "#" stands for the reference's text without its leading blank
};

void PrintTo(const PlaceCase& c, std::ostream* os)
{
    *os << c.name;
}

class AnnotationPlace : public PipelineFixture, public ::testing::WithParamInterface<PlaceCase>
{};

TEST_P(AnnotationPlace, KeepsTheReferenceInsideTheCommentAndTheHashUnchanged)
{
    const PlaceCase& c = GetParam();
    launch();
    const QString url = issueUrl(42);
    const QList<ParsedTodo> before = TodoParser::parse(QString::fromUtf8(c.line), file(QStringLiteral("place.c")));
    ASSERT_EQ(before.size(), 1);
    writeFile(QStringLiteral("place.c"), c.line + "\nint z;\n");
    const auto annotate = [&] {
        m_delegate->annotateSourceFile(QFile::encodeName(file(QStringLiteral("place.c"))),
                                       1,
                                       42,
                                       url,
                                       before[0].contentHash);
    };

    annotate();
    QByteArray expected = c.annotated;
    expected.replace("#", "(#42 " + url.toUtf8() + ")");
    EXPECT_EQ(readFile(QStringLiteral("place.c")).toStdString(), (expected + "\nint z;\n").toStdString());
    const QList<ParsedTodo> after =
        TodoParser::parse(QString::fromUtf8(readFile(QStringLiteral("place.c"))), file(QStringLiteral("place.c")));
    ASSERT_EQ(after.size(), 1);
    EXPECT_EQ(after[0].contentHash, before[0].contentHash);
    EXPECT_TRUE(after[0].isAnnotated);

    // Annotated already, wherever the reference stands.
    annotate();
    EXPECT_EQ(readFile(QStringLiteral("place.c")).toStdString(), (expected + "\nint z;\n").toStdString());
}

INSTANTIATE_TEST_SUITE_P(
    Annotation,
    AnnotationPlace,
    ::testing::Values(PlaceCase{"LineEnd", "// TODO: plain", "// TODO: plain #"},
                      PlaceCase{"BeforeCloser", "/* TODO: tidy up */", "/* TODO: tidy up # */"},
                      PlaceCase{"BeforeTightCloser", "  /* TODO: tidy up*/", "  /* TODO: tidy up #*/"},
                      PlaceCase{"BeforeLastCloser", "/* TODO: a */ int a; /* b */", "/* TODO: a */ int a; /* b # */"},
                      PlaceCase{"MiddleLineCloser", " * TODO: a\t*/", " * TODO: a #\t*/"},
                      // A closer in a line comment is text: the reference goes at the end.
                      PlaceCase{"LineCommentEndingInACloser", "// TODO: a */", "// TODO: a */ #"},
                      PlaceCase{"CloserInLineText", "// TODO: strip */ from input", "// TODO: strip */ from input #"},
                      PlaceCase{"CloserInDashComment", "  -- TODO: a */ b", "  -- TODO: a */ b #"},
                      PlaceCase{"BeforeBackslash", "// TODO: a \\", "// TODO: a # \\"},
                      PlaceCase{"BeforeTightBackslash", "// TODO: a\\  ", "// TODO: a #\\  "},
                      // Once the closer is dropped, the code after it follows the reference.
                      PlaceCase{"CloserFollowedByCode", "/* TODO: tidy*/);", "/* TODO: tidy #*/);"},
                      PlaceCase{"NoBreakSpaceBeforeCloser", "/* TODO: a\u00A0*/x", "/* TODO: a #\u00A0*/x"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(Pipeline, AnnotatedCommentsStillCompile)
{
    const QString compiler = QStandardPaths::findExecutable(QStringLiteral("cc"));
    if (compiler.isEmpty())
        GTEST_SKIP() << "no C compiler";
    launch();
    m_server.enqueue("/repos/octo/demo/issues", issueAnswer(4));
    m_server.enqueue("/repos/octo/demo/issues", issueAnswer(5));
    // The backslash carries the comment on into the line after it.
    appendToFile(QStringLiteral("main.c"), "/* TODO: in a block */\n// TODO: continued \\\nint broken = ;\n");
    ASSERT_TRUE(waitForStates(Kind::confirmed, 2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return readFile(QStringLiteral("main.c")).count("(#") == 2; }, 5000));

    QProcess cc;
    cc.start(compiler, {QStringLiteral("-fsyntax-only"), QStringLiteral("-w"), file(QStringLiteral("main.c"))});
    ASSERT_TRUE(cc.waitForFinished(60000));
    EXPECT_EQ(cc.exitCode(), 0) << cc.readAllStandardError().toStdString();
}

TEST_F(Annotation, ScriptsStayExecutableAndLinksStayLinks)
{
    launch();
    writeFile(QStringLiteral("run.sh"), "#!/bin/sh\n# TODO: make it faster\n");
    QFile::setPermissions(file(QStringLiteral("run.sh")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    annotate(QStringLiteral("run.sh"), 2, QStringLiteral("make it faster"));
    EXPECT_TRUE(readFile(QStringLiteral("run.sh")).contains("(#42 "));
    EXPECT_TRUE(QFileInfo(file(QStringLiteral("run.sh"))).isExecutable());

    writeFile(QStringLiteral("real.c"), "// TODO: through the link\n");
    ASSERT_TRUE(QFile::link(file(QStringLiteral("real.c")), file(QStringLiteral("link.c"))));
    annotate(QStringLiteral("link.c"), 1, QStringLiteral("through the link"));
    EXPECT_TRUE(QFileInfo(file(QStringLiteral("link.c"))).isSymLink());
    EXPECT_TRUE(readFile(QStringLiteral("real.c")).contains("(#42 "));
    EXPECT_TRUE(QDir(m_repo).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral("jotwarden")).isEmpty());
}

// A rewrite that cannot land, or would undo how the user protects or shares the file, leaves the
// file as it was; the issue, record and confirmation follow.
class UnwritableFile : public PipelineFixture, public ::testing::WithParamInterface<const char*>
{};

TEST_P(UnwritableFile, LeavesTheOriginalAndStillConfirms)
{
    const QByteArray kind = GetParam();
    if (kind == "other-owner" && ::geteuid() != 0)
        GTEST_SKIP() << "only root can give a file to another user";
    const QString mountPoint = m_home.path() + QStringLiteral("/small");
    ASSERT_TRUE(QDir().mkpath(mountPoint));
    const QByteArray mp = QFile::encodeName(mountPoint);
    if (::mount("tmpfs", mp.constData(), "tmpfs", 0, "size=512k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    m_repo = mountPoint;
    QProcess git;
    git.start(QStringLiteral("/usr/bin/git"),
              {QStringLiteral("init"), QStringLiteral("-q"), QStringLiteral("--template="), m_repo});
    git.waitForFinished();
    git.start(QStringLiteral("/usr/bin/git"),
              {QStringLiteral("-C"),
               m_repo,
               QStringLiteral("remote"),
               QStringLiteral("add"),
               QStringLiteral("origin"),
               QStringLiteral("https://github.com/octo/demo.git")});
    git.waitForFinished();
    writeFile(QStringLiteral("big.c"), QByteArray(40 * 1024, '\n'));
    launch();

    m_server.enqueue("/repos/octo/demo/issues", issueAnswer(77));
    appendToFile(QStringLiteral("big.c"), "// TODO: no room to annotate\n");
    ASSERT_TRUE(waitForStates(Kind::detecting));
    const QByteArray before = readFile(QStringLiteral("big.c"));
    // The user's protections: the file's mode and owner decide, not whether root could write it.
    const QByteArray big = QFile::encodeName(file(QStringLiteral("big.c")));
    QString reason;
    if (kind == "full") {
        QFile filler(mountPoint + QStringLiteral("/.filler"));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        const QByteArray chunk(4096, 'f');
        while (filler.write(chunk) == chunk.size() && filler.flush()) {
        }
    } else if (kind == "read-only") {
        ASSERT_EQ(::mount("tmpfs", mp.constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=512k"), 0);
    } else if (kind == "mode-0444") {
        ASSERT_EQ(::chmod(big.constData(), 0444), 0);
        reason = QStringLiteral("the file is read-only");
    } else if (kind == "other-owner") {
        ASSERT_EQ(::chown(big.constData(), 4242, 4242), 0);
        reason = QStringLiteral("the file belongs to another user");
    } else {
        ASSERT_EQ(::link(big.constData(), QFile::encodeName(file(QStringLiteral("twin.c"))).constData()), 0);
        reason = QStringLiteral("the file has more than one hard link");
    }
    ASSERT_TRUE(waitForStates(Kind::confirmed));
    const QByteArray after = readFile(QStringLiteral("big.c"));
    EXPECT_EQ(m_delegate->appState()->recentIssues().size(), 1);
    EXPECT_EQ(m_delegate->modelContainer()->mainContext()->fetch<SeenTodo>().value().size(), 1u);
    const QStringList left = QDir(mountPoint).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral("jotwarden"));
    m_delegate.reset();
    ::umount2(mp.constData(), MNT_DETACH);
    EXPECT_EQ(after, before);
    EXPECT_TRUE(left.isEmpty());
    EXPECT_TRUE(m_log.contains(QStringLiteral("Issue created: #77 on octo/demo")));
    if (!reason.isEmpty()) {
        const QString line = QStringLiteral("Left ") + file(QStringLiteral("big.c"))
                             + QStringLiteral(":40961 without the issue reference: ") + reason;
        EXPECT_EQ(m_log.lines().filter(QStringLiteral("Left ")).join(QLatin1Char('\n')).toStdString(),
                  line.toStdString());
    }
}

INSTANTIATE_TEST_SUITE_P(Rewrite,
                         UnwritableFile,
                         ::testing::Values("full", "read-only", "mode-0444", "other-owner", "hard-link"));

TEST_F(Pipeline, TheTokenNeverReachesOutputOrTheStore)
{
    // Everything this process writes to its standard output and error goes to files meanwhile.
    const QString outPath = m_home.path() + QStringLiteral("/stdout");
    const QString errPath = m_home.path() + QStringLiteral("/stderr");
    std::fflush(stdout);
    std::fflush(stderr);
    const int savedOut = ::dup(1);
    const int savedErr = ::dup(2);
    ASSERT_TRUE(std::freopen(QFile::encodeName(outPath).constData(), "w", stdout));
    ASSERT_TRUE(std::freopen(QFile::encodeName(errPath).constData(), "w", stderr));

    launch();
    m_server.enqueue("/repos/octo/demo/issues", issueAnswer(3));
    m_server.enqueue("/repos/octo/demo/issues", FakeResponse::json(401, R"({"message": "Bad credentials"})"));
    appendToFile(QStringLiteral("main.c"), "// TODO: keep it secret\n");
    const bool confirmed = waitForStates(Kind::confirmed);
    appendToFile(QStringLiteral("main.c"), "// TODO: refused\n");
    const bool refused = waitForStates(Kind::error);
    m_delegate.reset();

    std::fflush(stdout);
    std::fflush(stderr);
    ::dup2(savedOut, 1);
    ::dup2(savedErr, 2);
    ::close(savedOut);
    ::close(savedErr);
    ASSERT_TRUE(confirmed);
    ASSERT_TRUE(refused);

    QByteArray everything;
    for (const QString& p : {outPath, errPath}) {
        QFile f(p);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        everything += f.readAll();
    }
    QDir data(m_home.path() + QStringLiteral("/data/jotwarden"));
    for (const QString& name : data.entryList(QDir::Files)) {
        QFile f(data.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        everything += f.readAll();
    }
    EXPECT_TRUE(everything.contains("Issue created: #3 on octo/demo"));
    EXPECT_FALSE(everything.contains(kToken.toUtf8()));
    EXPECT_FALSE(everything.contains("pipelineSecret"));
}

} // namespace
} // namespace jw::test

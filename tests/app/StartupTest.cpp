#include "app/AppDelegate.h"
#include "app/github/KeychainHelper.h"
#include "app/models/AppSettings.h"
#include "app/models/Schema.h"
#include "app/models/SeenTodo.h"
#include "app/models/WatchedDirectory.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ProgramRun.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include <gtest/gtest.h>

namespace jw {
namespace {

using test::ProgramRun;

int settingsRecords(const QString& storePath, bool* watching = nullptr)
{
    store::ModelConfiguration config = jotwardenConfiguration();
    config.filePath = storePath;
    auto container = store::ModelContainer::open(jotwardenSchema(), config);
    if (!container)
        return -1;
    auto records = container.value()->mainContext()->fetch<AppSettings>();
    if (watching && !records.value().empty())
        *watching = records.value()[0]->isWatchingEnabled();
    return static_cast<int>(records.value().size());
}

TEST(Startup, FirstLaunchCreatesOneSettingsRecordAndLaterLaunchesNone)
{
    ProgramRun program;
    EXPECT_EQ(program.run(QStringLiteral("Bootstrap complete. Token: missing")), -1);
    // The run has no session bus, so no keyring either.
    EXPECT_EQ(program.logLines(),
              (QStringList{QStringLiteral("No watched directories configured"),
                           QStringLiteral("Keyring not reachable: no Secret Service is running on the session bus"),
                           QStringLiteral("Bootstrap complete. Token: missing")}))
        << program.standardOutput().toStdString();
    bool watching = false;
    EXPECT_EQ(settingsRecords(program.storePath(), &watching), 1);
    EXPECT_TRUE(watching);

    EXPECT_EQ(program.run(QStringLiteral("Bootstrap complete. Token: missing")), -1);
    EXPECT_EQ(settingsRecords(program.storePath()), 1);
}

class UnopenableStore : public ::testing::TestWithParam<const char*>
{};

TEST_P(UnopenableStore, StopsWithTheFatalMessageBeforeAnyLogLine)
{
    ProgramRun program;
    const QString kind = QString::fromLatin1(GetParam());
    QByteArray before;
    if (kind == QLatin1String("folder-is-a-file")) {
        QFile file(program.dataHome() + QStringLiteral("/jotwarden"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    } else {
        ASSERT_TRUE(QDir().mkpath(program.dataHome() + QStringLiteral("/jotwarden")));
        if (kind == QLatin1String("not-a-database")) {
            QFile file(program.storePath());
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(4096, 'j'));
        } else {
            {
                auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("newer"));
                db.setDatabaseName(program.storePath());
                ASSERT_TRUE(db.open());
                QSqlQuery(db).exec(QStringLiteral("CREATE TABLE jw_metadata (key TEXT PRIMARY KEY, value TEXT)"));
                QSqlQuery(db).exec(QStringLiteral("INSERT INTO jw_metadata VALUES ('schemaVersion', '1.1.0')"));
                db.close();
            }
            QSqlDatabase::removeDatabase(QStringLiteral("newer"));
        }
        QFile file(program.storePath());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        before = file.readAll();
    }

    const int exitCode = program.run(QString());
    EXPECT_GT(exitCode, 0);
    EXPECT_TRUE(program.standardError().contains("Failed to create model container: "))
        << program.standardError().toStdString();
    EXPECT_TRUE(program.logLines().isEmpty());
    if (!before.isEmpty()) {
        QFile file(program.storePath());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), before); // never silently rewritten
    }
}

INSTANTIATE_TEST_SUITE_P(Store,
                         UnopenableStore,
                         ::testing::Values("folder-is-a-file", "not-a-database", "newer-schema"));

class DelegateTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        qputenv("XDG_DATA_HOME", home.path().toUtf8());
        // Keyring tests run in parallel against the same daemon: use an item of our own.
        KeychainHelper::setAccountForTesting(
            QStringLiteral("jw-test-delegate-%1").arg(QCoreApplication::applicationPid()));
        delegate = std::make_unique<AppDelegate>();
    }

    QTemporaryDir home;
    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(DelegateTest, RecentIssuesAreTheTwentyNewestWithAnAddress)
{
    auto* context = delegate->modelContainer()->mainContext();
    const QDateTime base = QDateTime::currentDateTimeUtc().addDays(-1);
    for (int i = 0; i < 25; ++i) {
        context->insert(std::make_shared<SeenTodo>(QStringLiteral("h%1").arg(i),
                                                   QStringLiteral("/p"),
                                                   1,
                                                   QStringLiteral("https://github.com/o/r/issues/%1").arg(i),
                                                   i,
                                                   QStringLiteral("o/r"),
                                                   QStringLiteral("t%1").arg(i),
                                                   base.addSecs(i * 60)));
    }
    // Newest of all, but without an address: neither shown nor counted.
    context->insert(std::make_shared<SeenTodo>(QStringLiteral("no-url"),
                                               QStringLiteral("/p"),
                                               1,
                                               std::nullopt,
                                               99,
                                               QStringLiteral("o/r"),
                                               QStringLiteral("nourl"),
                                               base.addSecs(100000)));
    // Has an address but neither number nor repository.
    context->insert(std::make_shared<SeenTodo>(QStringLiteral("bare"),
                                               QStringLiteral("/p"),
                                               1,
                                               QStringLiteral("https://x"),
                                               std::nullopt,
                                               std::nullopt,
                                               QStringLiteral("bare"),
                                               base.addSecs(90000)));
    ASSERT_TRUE(context->save().ok());

    test::LogCapture log;
    delegate->bootstrap();
    const auto& recent = delegate->appState()->recentIssues();
    ASSERT_EQ(recent.size(), 20);
    EXPECT_EQ(recent[0].title, QStringLiteral("bare"));
    EXPECT_EQ(recent[0].issueNumber, 0);
    EXPECT_EQ(recent[0].repoFullName, QString());
    EXPECT_EQ(recent[1].title, QStringLiteral("t24"));
    EXPECT_EQ(recent[19].title, QStringLiteral("t6"));
    EXPECT_NE(recent[1].id, CreatedIssue(*std::make_shared<SeenTodo>()).id);
    // The token comes from the keyring off the GUI thread; the line waits for its answer.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return log.contains(QStringLiteral("Bootstrap complete. Token: missing")); }, 30000));
    EXPECT_EQ(log.lines().last(), QStringLiteral("Bootstrap complete. Token: missing"));
}

TEST_F(DelegateTest, StartsTheWatcherOnTheEnabledDirectoriesOnly)
{
    const QString quoted = home.path() + QStringLiteral("/my \"proj\"/");
    const QString disabled = home.path() + QStringLiteral("/off/");
    QDir().mkpath(quoted);
    QDir().mkpath(disabled);
    auto* context = delegate->modelContainer()->mainContext();
    context->insert(std::make_shared<WatchedDirectory>(quoted, true));
    context->insert(std::make_shared<WatchedDirectory>(disabled, false));
    ASSERT_TRUE(context->save().ok());

    test::LogCapture log;
    delegate->bootstrap();
    const QString escaped = home.path() + QStringLiteral("/my \\\"proj\\\"/");
    EXPECT_TRUE(
        log.contains(QStringLiteral("Starting watcher for 1 directory(ies): [\"") + escaped + QStringLiteral("\"]")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("FSEvents streams started for 1 directory(ies)")));
    EXPECT_TRUE(delegate->appState()->fileWatcher()->isRunning());
}

} // namespace
} // namespace jw

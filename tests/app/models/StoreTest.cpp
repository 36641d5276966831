#include "app/models/AppSettings.h"
#include "app/models/ProjectCache.h"
#include "app/models/Schema.h"
#include "app/models/SeenTodo.h"
#include "app/models/WatchedDirectory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <pwd.h>
#include <unistd.h>

namespace jw {
namespace {

using store::ModelContainer;

class StoreTest : public ::testing::Test
{
protected:
    std::unique_ptr<ModelContainer> open()
    {
        store::ModelConfiguration config = jotwardenConfiguration();
        config.filePath = dir.filePath(QStringLiteral("Jotwarden.store"));
        auto container = ModelContainer::open(jotwardenSchema(), config);
        EXPECT_TRUE(container.ok()) << container.error().toStdString();
        return container ? std::move(container.value()) : nullptr;
    }

    std::shared_ptr<SeenTodo> seen(const QString& hash, const QString& title, qint64 number)
    {
        return std::make_shared<SeenTodo>(hash,
                                          QStringLiteral("/p/a.c"),
                                          3,
                                          QStringLiteral("https://x/%1").arg(number),
                                          number,
                                          QStringLiteral("octo/demo"),
                                          title,
                                          QDateTime::currentDateTimeUtc());
    }

    QTemporaryDir dir;
};

TEST_F(StoreTest, DefaultLocationFollowsXdgDataHome)
{
    qputenv("XDG_DATA_HOME", dir.path().toUtf8());
    EXPECT_EQ(jotwardenConfiguration().resolvedFilePath(), dir.path() + QStringLiteral("/jotwarden/Jotwarden.store"));
}

TEST_F(StoreTest, InsertedRecordsSurviveReopeningWithTheirValues)
{
    {
        auto container = open();
        auto* context = container->mainContext();
        EXPECT_EQ(context->fetchCount<AppSettings>().value(), 0);
        auto dirRecord = std::make_shared<WatchedDirectory>(QStringLiteral("/home/me/app/"), true);
        dirRecord->setSelectedProjectNodeId(QStringLiteral("PVT_1"));
        context->insert(dirRecord);
        context->insert(std::make_shared<AppSettings>(true));
        auto s = std::make_shared<SeenTodo>(QStringLiteral("h"),
                                            QStringLiteral("/p"),
                                            7,
                                            std::nullopt,
                                            std::nullopt,
                                            std::nullopt,
                                            QStringLiteral("t"),
                                            QDateTime::currentDateTimeUtc());
        context->insert(s);
        ASSERT_TRUE(context->save().ok());
    }
    auto container = open();
    auto* context = container->mainContext();
    auto dirs = context->fetch<WatchedDirectory>();
    ASSERT_TRUE(dirs.ok());
    ASSERT_EQ(dirs.value().size(), 1u);
    EXPECT_EQ(dirs.value()[0]->path(), QStringLiteral("/home/me/app/"));
    EXPECT_EQ(dirs.value()[0]->selectedProjectNodeId(), std::optional<QString>(QStringLiteral("PVT_1")));
    auto seens = context->fetch<SeenTodo>();
    ASSERT_EQ(seens.value().size(), 1u);
    EXPECT_FALSE(seens.value()[0]->issueURL().has_value());
    EXPECT_FALSE(seens.value()[0]->issueNumber().has_value());
    EXPECT_EQ(seens.value()[0]->lineNumber(), 7);
    EXPECT_EQ(context->fetchCount<AppSettings>().value(), 1);
}

TEST_F(StoreTest, UniqueAttributeReplacesTheStoredValuesAndKeepsTheIdentity)
{
    auto container = open();
    auto* context = container->mainContext();
    auto first = seen(QStringLiteral("same"), QStringLiteral("old"), 1);
    context->insert(first);
    ASSERT_TRUE(context->save().ok());
    const qint64 id = first->persistentId();

    context->insert(seen(QStringLiteral("same"), QStringLiteral("new"), 2));
    ASSERT_TRUE(context->save().ok());
    auto all = context->fetch<SeenTodo>();
    ASSERT_EQ(all.value().size(), 1u);
    EXPECT_EQ(all.value()[0]->title(), QStringLiteral("new"));
    EXPECT_EQ(all.value()[0]->issueNumber(), std::optional<qint64>(2));
    EXPECT_EQ(all.value()[0]->persistentId(), id);
    EXPECT_EQ(first->title(), QStringLiteral("new")); // the object already standing for it follows

    context->insert(std::make_shared<ProjectCache>(QStringLiteral("PVT"),
                                                   QStringLiteral("Old"),
                                                   QStringLiteral("o"),
                                                   true,
                                                   QStringLiteral("u1"),
                                                   QDateTime::currentDateTimeUtc()));
    context->insert(std::make_shared<ProjectCache>(QStringLiteral("PVT"),
                                                   QStringLiteral("New"),
                                                   QStringLiteral("o"),
                                                   true,
                                                   QStringLiteral("u2"),
                                                   QDateTime::currentDateTimeUtc()));
    ASSERT_TRUE(context->save().ok());
    auto boards = context->fetch<ProjectCache>();
    ASSERT_EQ(boards.value().size(), 1u);
    EXPECT_EQ(boards.value()[0]->displayName(), QStringLiteral("New"));
}

TEST_F(StoreTest, FetchesSeePendingChangesAndHandOutOneObjectPerRecord)
{
    auto container = open();
    auto* context = container->mainContext();
    QSignalSpy changed(context, &store::ModelContext::changed);
    auto a = std::make_shared<WatchedDirectory>(QStringLiteral("/a/"), true);
    context->insert(a);
    EXPECT_EQ(context->fetch<WatchedDirectory>().value().size(), 1u);
    ASSERT_TRUE(context->save().ok());
    auto fetched = context->fetch<WatchedDirectory>().value();
    ASSERT_EQ(fetched.size(), 1u);
    EXPECT_EQ(fetched[0], a);

    a->setSelectedProjectNodeId(QStringLiteral("X"));
    context->remove(a);
    EXPECT_TRUE(context->fetch<WatchedDirectory>().value().empty());
    EXPECT_EQ(context->fetchCount<WatchedDirectory>().value(), 0);
    ASSERT_TRUE(context->save().ok());
    EXPECT_TRUE(context->fetch<WatchedDirectory>().value().empty());
    EXPECT_GE(changed.count(), 5);
}

// A model whose table the store does not have: every save holding it fails.
class Unstorable : public store::PersistentModel
{
public:
    static const store::EntityDescription& entityDescription()
    {
        static const store::EntityDescription e{QStringLiteral("Unstorable"),
                                                {{QStringLiteral("text"), store::ColumnType::Text}},
                                                {}};
        return e;
    }
    const store::EntityDescription& entity() const override { return entityDescription(); }
    QVariantList values() const override { return {QStringLiteral("x")}; }
    void setValues(const QVariantList&) override {}
};

TEST_F(StoreTest, AFailedSaveRollsBackEveryPendingChangeAndTheNextSaveWorks)
{
    {
        auto container = open();
        auto* context = container->mainContext();
        auto a = std::make_shared<WatchedDirectory>(QStringLiteral("/a/"), true);
        a->setSelectedProjectNodeId(QStringLiteral("PVT_1"));
        auto b = std::make_shared<WatchedDirectory>(QStringLiteral("/b/"), true);
        context->insert(a);
        context->insert(b);
        ASSERT_TRUE(context->save().ok());

        a->setSelectedProjectNodeId(QStringLiteral("PVT_2"));
        context->remove(b);
        auto bad = std::make_shared<Unstorable>();
        context->insert(bad);
        context->insert(seen(QStringLiteral("lost"), QStringLiteral("lost"), 1));
        QSignalSpy changed(context, &store::ModelContext::changed);
        EXPECT_FALSE(context->save().ok());

        // The context is back to what the store holds, and says so to live queries.
        EXPECT_FALSE(context->hasChanges());
        EXPECT_GE(changed.count(), 1);
        EXPECT_EQ(a->selectedProjectNodeId(), std::optional<QString>(QStringLiteral("PVT_1")));
        EXPECT_EQ(context->fetch<WatchedDirectory>().value().size(), 2u);
        EXPECT_TRUE(context->fetch<SeenTodo>().value().empty());
        EXPECT_EQ(bad->context(), nullptr);

        context->insert(seen(QStringLiteral("kept"), QStringLiteral("kept"), 2));
        ASSERT_TRUE(context->save().ok());
    }
    auto container = open();
    auto* context = container->mainContext();
    const auto stored = context->fetch<SeenTodo>().value();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0]->title(), QStringLiteral("kept"));
    EXPECT_EQ(context->fetch<WatchedDirectory>().value().size(), 2u);
}

TEST_F(StoreTest, EmptyTextIsStoredAsAValueNotAsAbsence)
{
    {
        auto container = open();
        auto* context = container->mainContext();
        // Null and empty texts alike, in required and in optional properties.
        context->insert(std::make_shared<SeenTodo>(QStringLiteral("h"),
                                                   QString(),
                                                   1,
                                                   QString(),
                                                   std::nullopt,
                                                   QStringLiteral(""),
                                                   QStringLiteral(""),
                                                   QDateTime::currentDateTimeUtc()));
        ASSERT_TRUE(context->save().ok());
    }
    auto container = open();
    const auto stored = container->mainContext()->fetch<SeenTodo>().value();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0]->filePath(), QStringLiteral(""));
    EXPECT_EQ(stored[0]->title(), QStringLiteral(""));
    EXPECT_EQ(stored[0]->issueURL(), std::optional<QString>(QStringLiteral("")));
    EXPECT_EQ(stored[0]->repoFullName(), std::optional<QString>(QStringLiteral("")));
    EXPECT_FALSE(stored[0]->issueNumber().has_value());
}

TEST_F(StoreTest, SortedFetchNewestFirst)
{
    auto container = open();
    auto* context = container->mainContext();
    const QDateTime base = QDateTime::currentDateTimeUtc();
    for (int i : {2, 0, 1}) {
        context->insert(std::make_shared<SeenTodo>(QString::number(i),
                                                   QStringLiteral("/p"),
                                                   1,
                                                   std::nullopt,
                                                   std::nullopt,
                                                   std::nullopt,
                                                   QString::number(i),
                                                   base.addSecs(i)));
    }
    ASSERT_TRUE(context->save().ok());
    auto sorted = context->fetch<SeenTodo>(store::SortDescriptor<SeenTodo>::by(&SeenTodo::createdAt, true));
    ASSERT_EQ(sorted.value().size(), 3u);
    EXPECT_EQ(sorted.value()[0]->title(), QStringLiteral("2"));
    EXPECT_EQ(sorted.value()[2]->title(), QStringLiteral("0"));
}

TEST_F(StoreTest, RefusesStoresItCannotOwn)
{
    const QString path = dir.filePath(QStringLiteral("Jotwarden.store"));
    store::ModelConfiguration config = jotwardenConfiguration();
    config.filePath = path;

    QFile junk(path);
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(8192, 'x'));
    junk.close();
    EXPECT_FALSE(ModelContainer::open(jotwardenSchema(), config).ok());
    QFile::remove(path);

    {
        auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("newer"));
        db.setDatabaseName(path);
        ASSERT_TRUE(db.open());
        QSqlQuery(db).exec(QStringLiteral("CREATE TABLE jw_metadata (key TEXT PRIMARY KEY, value TEXT)"));
        QSqlQuery(db).exec(QStringLiteral("INSERT INTO jw_metadata VALUES ('schemaVersion', '2.0.0')"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("newer"));
    QFile before(path);
    ASSERT_TRUE(before.open(QIODevice::ReadOnly));
    const QByteArray bytes = before.readAll();
    before.close();
    auto refused = ModelContainer::open(jotwardenSchema(), config);
    ASSERT_FALSE(refused.ok());
    EXPECT_TRUE(refused.error().contains(QStringLiteral("2.0.0")));
    QFile after(path);
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), bytes);
}

TEST(WatchedDirectory, DisplayPathShortensOnlyPathsUnderHome)
{
    const QString home = QStringLiteral("/Users/me");
    EXPECT_EQ(WatchedDirectory::displayPath(QStringLiteral("/Users/me/code/app/"), home),
              QStringLiteral("~/code/app/"));
    EXPECT_EQ(WatchedDirectory::displayPath(QStringLiteral("/Volumes/work/app/"), home),
              QStringLiteral("/Volumes/work/app/"));
    EXPECT_EQ(WatchedDirectory::displayPath(QStringLiteral("/Users/me"), home), QStringLiteral("/Users/me"));
    EXPECT_EQ(WatchedDirectory::displayPath(QStringLiteral("/Users/meadow/x/"), home),
              QStringLiteral("/Users/meadow/x/"));
    EXPECT_EQ(WatchedDirectory::displayPath(QStringLiteral("/Users/me/"), QStringLiteral("/Users/me/")),
              QStringLiteral("~/"));
    EXPECT_EQ(WatchedDirectory::displayPath(QStringLiteral("/Users/me/code/app/"), QStringLiteral("/Users/me//")),
              QStringLiteral("~/code/app/"));
    // A home of "/" (or none) shortens nothing: every path would otherwise read as under it.
    for (const QString& root : {QStringLiteral("/"), QStringLiteral("//"), QString()})
        EXPECT_EQ(WatchedDirectory::displayPath(QStringLiteral("/srv/app/"), root), QStringLiteral("/srv/app/"));
}

TEST(WatchedDirectory, WithoutHomeInTheEnvironmentTheAccountsHomeIsUsed)
{
    const struct passwd* account = ::getpwuid(::getuid());
    ASSERT_NE(account, nullptr);
    const QString home = QFile::decodeName(account->pw_dir);
    if (QDir::cleanPath(home) == QLatin1String("/"))
        GTEST_SKIP() << "this account's home is /";
    const QByteArray saved = qgetenv("HOME");
    const bool wasSet = qEnvironmentVariableIsSet("HOME");
    for (const bool unset : {true, false}) {
        if (unset)
            qunsetenv("HOME");
        else
            qputenv("HOME", QByteArray());
        EXPECT_EQ(WatchedDirectory(home + QStringLiteral("/code/app/"), true).displayPath(),
                  QStringLiteral("~/code/app/"));
        EXPECT_EQ(WatchedDirectory(QStringLiteral("/srv/app/"), true).displayPath(), QStringLiteral("/srv/app/"));
    }
    if (wasSet)
        qputenv("HOME", saved);
    else
        qunsetenv("HOME");
}

// The writer half of the crash test: saves records one by one and reports each saved count.
TEST(StoreCrash, ChildWriter)
{
    const QString path = qEnvironmentVariable("JW_CRASH_STORE");
    if (path.isEmpty())
        GTEST_SKIP() << "runs only as the crash test's child";
    store::ModelConfiguration config = jotwardenConfiguration();
    config.filePath = path;
    auto container = ModelContainer::open(jotwardenSchema(), config);
    ASSERT_TRUE(container.ok());
    auto* context = container.value()->mainContext();
    for (int i = 0;; ++i) {
        context->insert(std::make_shared<SeenTodo>(QStringLiteral("hash-%1").arg(i),
                                                   QStringLiteral("/p"),
                                                   i,
                                                   QStringLiteral("https://x/%1").arg(i),
                                                   i,
                                                   QStringLiteral("o/r"),
                                                   QStringLiteral("title %1").arg(i),
                                                   QDateTime::currentDateTimeUtc()));
        if (i % 3 == 0)
            context->insert(std::make_shared<WatchedDirectory>(QStringLiteral("/d/%1/").arg(i), true));
        ASSERT_TRUE(context->save().ok());
        std::printf("saved %d\n", i + 1);
        std::fflush(stdout);
    }
}

TEST(StoreCrash, KilledWriterLeavesAnIntactStoreWithEveryReturnedSave)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Jotwarden.store"));
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("JW_CRASH_STORE"), path);
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=StoreCrash.ChildWriter")});
    ASSERT_TRUE(child.waitForStarted());
    int saved = 0;
    QByteArray pending;
    while (saved < 200 && child.waitForReadyRead(20000)) {
        pending += child.readAllStandardOutput();
        for (const QByteArray& line : pending.split('\n'))
            if (line.startsWith("saved "))
                saved = std::max(saved, line.mid(6).toInt());
    }
    ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
    child.waitForFinished();
    ASSERT_GE(saved, 200);
    // Whatever arrived after the last read was also saved before the kill.
    pending += child.readAllStandardOutput();
    for (const QByteArray& line : pending.split('\n'))
        if (line.startsWith("saved "))
            saved = std::max(saved, line.mid(6).toInt());

    {
        auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(path);
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA integrity_check")) && q.next());
        EXPECT_EQ(q.value(0).toString(), QStringLiteral("ok"));
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    store::ModelConfiguration config = jotwardenConfiguration();
    config.filePath = path;
    auto container = ModelContainer::open(jotwardenSchema(), config);
    ASSERT_TRUE(container.ok()) << container.error().toStdString();
    EXPECT_GE(container.value()->mainContext()->fetchCount<SeenTodo>().value(), saved);
}

} // namespace
} // namespace jw

#include "app/views/SettingsView.h"

#include "app/github/KeychainHelper.h"
#include "app/models/SeenTodo.h"
#include "app/views/ProjectDropdownButton.h"
#include "app/views/RelativeDate.h"
#include "platform/keychain/Keychain.h"
#include "tests/app/views/ViewTestSupport.h"
#include "tests/support/ChildRun.h"
#include "tests/support/FakeGitHubServer.h"
#include "tests/support/KeyringTools.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PrivateSession.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>

#include <gtest/gtest.h>

namespace jw {
namespace {

using test::shown;
namespace style = settings_style;

constexpr int kWaitMs = 10000;

class SettingsViewTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        JW_REQUIRE_PRIVATE_SESSION();
        replaceDesktop();
    }
    void replaceDesktop()
    {
        KeychainHelper::setAccountForTesting(account);
        SettingsView::setDesktopForTesting(SettingsView::Desktop{
            [this](QWidget* parent, const QString& message) {
                chooserMessages << message;
                // A popup panel closes when a modal dialog opens.
                if (parent && closeParentOnChoose)
                    parent->hide();
                return nextDirectory;
            },
            [this](const QUrl& url) { openedUrls << url; },
            [this] { ++quitCalls; },
        });
    }
    void TearDown() override
    {
        view.reset();
        SettingsView::setDesktopForTesting(std::nullopt);
        Keychain::deleteItem(account);
        KeychainHelper::setAccountForTesting(std::nullopt);
    }

    SettingsView& open(const QUrl& apiBaseUrl = GitHubClient::kDefaultBaseUrl)
    {
        view = std::make_unique<SettingsView>(&env.appState, env.context(), apiBaseUrl);
        view->resize(480, 440);
        view->show();
        return *view;
    }

    template <typename W = QWidget>
    W* one(const QString& name)
    {
        const auto list = shown<W>(view.get(), name);
        return list.size() == 1 ? list.first() : nullptr;
    }

    std::shared_ptr<WatchedDirectory> addRecord(const QString& path, bool enabled = true)
    {
        auto record = std::make_shared<WatchedDirectory>(path, enabled);
        env.context()->insert(record);
        EXPECT_TRUE(env.context()->save().ok());
        return record;
    }

    QString subdir(const QString& name)
    {
        const QString path = tree.filePath(name);
        QDir().mkpath(path);
        return path;
    }

    FileWatcher* watcher()
    {
        if (!env.appState.fileWatcher())
            env.appState.setFileWatcher(std::make_unique<FileWatcher>());
        return env.appState.fileWatcher();
    }

    // The line under the token field, once it shows.
    QLabel* waitForMessage()
    {
        QLabel* message = nullptr;
        (void)QTest::qWaitFor([&] { return (message = one<QLabel>(QStringLiteral("tokenMessage"))) != nullptr; },
                              kWaitMs);
        return message;
    }

    // A work tree whose origin is a GitHub repository of `owner`, watched.
    void addWorkTree(const QString& name, const QString& owner)
    {
        const QString path = tree.filePath(name);
        ASSERT_TRUE(test::makeGitTree(path, QStringLiteral("https://github.com/%1/demo.git").arg(owner)));
        addRecord(path + QLatin1Char('/'));
    }

    bool waitForRows(int count)
    {
        return QTest::qWaitFor([&] { return shown(view.get(), QStringLiteral("directoryRow")).size() == count; },
                               kWaitMs);
    }

    const QString account = test::uniqueAccount(QStringLiteral("settings"));
    test::StoreAndState env;
    QTemporaryDir tree;
    std::unique_ptr<SettingsView> view;
    QString nextDirectory;
    bool closeParentOnChoose = false;
    QStringList chooserMessages;
    QList<QUrl> openedUrls;
    int quitCalls = 0;
};

// ---- token ----

TEST_F(SettingsViewTest, TheMaskedRowIsTheSameTextForEveryToken)
{
    for (const QString& token :
         {QStringLiteral("x"), QStringLiteral("ghp_") + QString(80, QLatin1Char('a')), QString()}) {
        env.appState.setGithubToken(token);
        open();
        auto* masked = one<QLabel>(QStringLiteral("maskedToken"));
        ASSERT_NE(masked, nullptr);
        EXPECT_EQ(masked->text(),
                  QStringLiteral("ghp_\u2022\u2022\u2022\u2022\u2022\u2022\u2022\u2022"
                                 "\u2022\u2022\u2022\u2022\u2022\u2022\u2022\u2022"));
        EXPECT_EQ(one(QStringLiteral("tokenField")), nullptr);
        ASSERT_NE(one<QPushButton>(QStringLiteral("changeTokenButton")), nullptr);
    }
}

TEST_F(SettingsViewTest, BlanksAndTabsLeaveSaveDisabledAndSurroundingBlanksAreNotSaved)
{
    open();
    EXPECT_EQ(one(QStringLiteral("maskedToken")), nullptr);
    auto* field = one<QLineEdit>(QStringLiteral("tokenField"));
    auto* save = one<QPushButton>(QStringLiteral("saveTokenButton"));
    ASSERT_NE(field, nullptr);
    ASSERT_NE(save, nullptr);
    EXPECT_EQ(field->echoMode(), QLineEdit::Password);
    EXPECT_EQ(field->placeholderText(), QStringLiteral("ghp_..."));
    EXPECT_FALSE(save->isEnabled());

    QTest::keyClicks(field, QStringLiteral("   "));
    EXPECT_EQ(view->tokenInput(), QStringLiteral("   "));
    EXPECT_FALSE(save->isEnabled());
    // Typing a tab moves the focus, so tabs come in by setting the text.
    field->setText(QStringLiteral(" \t  \t"));
    EXPECT_FALSE(save->isEnabled());
    field->setText(QStringLiteral("\r\n \n"));
    EXPECT_FALSE(save->isEnabled());
    // Return in the field runs nothing.
    QTest::keyClick(field, Qt::Key_Return);
    field->setText(QStringLiteral("  ghp_new\t \t\r\n"));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_FALSE(env.appState.githubToken().has_value());
    ASSERT_TRUE(save->isEnabled());

    QTest::mouseClick(save, Qt::LeftButton);
    // The keyring is reached off the GUI thread; the answer comes back to it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return env.appState.githubToken().has_value(); }, kWaitMs));
    EXPECT_EQ(env.appState.githubToken(), QStringLiteral("ghp_new"));
    EXPECT_EQ(KeychainHelper::loadToken(), QStringLiteral("ghp_new"));
    EXPECT_TRUE(view->tokenInput().isEmpty());
    EXPECT_FALSE(view->showTokenField());
    EXPECT_NE(one(QStringLiteral("maskedToken")), nullptr);
    EXPECT_EQ(one(QStringLiteral("tokenField")), nullptr);
}

TEST_F(SettingsViewTest, TrimmingTakesLineBreaksAndKeepsInnerBlanks)
{
    EXPECT_EQ(KeychainHelper::trimmedToken(QStringLiteral("\t a b \t")), QStringLiteral("a b"));
    EXPECT_EQ(KeychainHelper::trimmedToken(QStringLiteral("\na\n ")), QStringLiteral("a"));
    EXPECT_EQ(KeychainHelper::trimmedToken(QStringLiteral(" \t ")), QString());
}

TEST_F(SettingsViewTest, ChangeOpensAnEmptyFieldThatStaysUntilASave)
{
    env.appState.setGithubToken(QStringLiteral("ghp_old"));
    open();
    QTest::mouseClick(one<QPushButton>(QStringLiteral("changeTokenButton")), Qt::LeftButton);
    auto* field = one<QLineEdit>(QStringLiteral("tokenField"));
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_TRUE(view->showTokenField());
    // A save with blank input changes nothing: the field stays open.
    field->setText(QStringLiteral("   "));
    view->saveToken();
    EXPECT_NE(one(QStringLiteral("tokenField")), nullptr);
    EXPECT_EQ(env.appState.githubToken(), QStringLiteral("ghp_old"));
}

// A token without a UTF-8 form is one the keyring store refuses: a real failed save.
const QString kUnsavable = QStringLiteral("ghp_") + QChar(0xD800);

TEST_F(SettingsViewTest, AFailedSaveSaysSoKeepsTheTextForARetryAndLogsOneLine)
{
    for (const std::optional<QString>& earlier :
         {std::optional<QString>(QStringLiteral("ghp_earlier")), std::optional<QString>()}) {
        SCOPED_TRACE(earlier.value_or(QStringLiteral("(no token)")).toStdString());
        test::LogCapture logs;
        env.appState.setGithubToken(earlier);
        open();
        if (earlier)
            QTest::mouseClick(one<QPushButton>(QStringLiteral("changeTokenButton")), Qt::LeftButton);
        auto* field = one<QLineEdit>(QStringLiteral("tokenField"));
        ASSERT_NE(field, nullptr);
        field->setText(kUnsavable);
        QTest::mouseClick(one<QPushButton>(QStringLiteral("saveTokenButton")), Qt::LeftButton);

        QLabel* message = waitForMessage();
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->text(), QStringLiteral("The token was not saved: Keychain save failed with status: -50"));
        // Below the field, and the field still holds what was typed.
        EXPECT_EQ(one<QLineEdit>(QStringLiteral("tokenField")), field);
        EXPECT_GT(message->mapTo(view.get(), QPoint()).y(), field->mapTo(view.get(), QPoint()).y());
        EXPECT_EQ(field->text(), kUnsavable);
        EXPECT_EQ(view->tokenInput(), kUnsavable);
        EXPECT_TRUE(one<QPushButton>(QStringLiteral("saveTokenButton"))->isEnabled());
        EXPECT_EQ(one(QStringLiteral("maskedToken")), nullptr);
        EXPECT_EQ(env.appState.githubToken(), earlier);
        EXPECT_FALSE(KeychainHelper::loadToken().has_value());
        EXPECT_EQ(logs.lines(), QStringList{QStringLiteral("Token not saved: Keychain save failed with status: -50")});

        // The retry with a mended token goes through and the message goes away.
        field->setText(QStringLiteral("ghp_mended"));
        QTest::mouseClick(one<QPushButton>(QStringLiteral("saveTokenButton")), Qt::LeftButton);
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return env.appState.githubToken() == QStringLiteral("ghp_mended"); }, kWaitMs));
        EXPECT_EQ(one(QStringLiteral("tokenMessage")), nullptr);
        EXPECT_NE(one(QStringLiteral("maskedToken")), nullptr);
        Keychain::deleteItem(account);
    }
}

// In a child process; it writes no keyring, so it runs anywhere.
class SettingsViewWithoutKeyring : public SettingsViewTest
{
protected:
    void SetUp() override { replaceDesktop(); }
};

// On a session bus where nothing owns the Secret Service name.
TEST_F(SettingsViewWithoutKeyring, ASaveSaysNoKeyringRunsAndKeepsTheTypedToken)
{
    if (!test::inChild()) {
        test::PrivateSessionBus bus;
        ASSERT_TRUE(bus.isRunning());
        EXPECT_TRUE(test::passesInChild(bus.environment()));
        EXPECT_FALSE(bus.nameHasOwner(QStringLiteral("org.freedesktop.secrets")));
        return;
    }
    test::LogCapture logs;
    env.appState.setGithubToken(QStringLiteral("ghp_earlier"));
    open();
    QTest::mouseClick(one<QPushButton>(QStringLiteral("changeTokenButton")), Qt::LeftButton);
    QTest::keyClicks(one<QLineEdit>(QStringLiteral("tokenField")), QStringLiteral("ghp_fine"));
    QTest::mouseClick(one<QPushButton>(QStringLiteral("saveTokenButton")), Qt::LeftButton);

    QLabel* message = waitForMessage();
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->text(), QStringLiteral("The token cannot be saved: no keyring (Secret Service) is running."));
    EXPECT_EQ(one<QLineEdit>(QStringLiteral("tokenField"))->text(), QStringLiteral("ghp_fine"));
    EXPECT_TRUE(view->showTokenField());
    EXPECT_EQ(env.appState.githubToken(), QStringLiteral("ghp_earlier"));
    EXPECT_EQ(logs.lines(), QStringList{QStringLiteral("Token not saved: no keyring (Secret Service) is running")});
}

// ---- directories ----

TEST_F(SettingsViewTest, WithNoDirectoriesTheBoxSaysSoAndOffersAdding)
{
    open();
    auto* empty = one<QLabel>(QStringLiteral("noDirectories"));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->text(), QStringLiteral("No directories added yet."));
    auto* add = one<QPushButton>(QStringLiteral("addDirectoryButton"));
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(add->text(), QStringLiteral("Add Directory..."));
    EXPECT_EQ(shown(view.get(), QStringLiteral("recentBox")).size(), 0);
}

TEST_F(SettingsViewTest, AddingStoresThePathWithASlashListsItFirstAndRestartsTheWatcher)
{
    const QString older = subdir(QStringLiteral("older"));
    addRecord(older + QLatin1Char('/'));
    const QString chosen = subdir(QStringLiteral("with blank"));
    watcher();
    open();
    ASSERT_TRUE(waitForRows(1));

    nextDirectory = chosen;
    QTest::mouseClick(one<QPushButton>(QStringLiteral("addDirectoryButton")), Qt::LeftButton);

    EXPECT_EQ(chooserMessages, QStringList{QStringLiteral("Choose a project directory to watch for TODO comments")});
    auto records = env.context()->fetch<WatchedDirectory>().value();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_FALSE(env.context()->hasChanges());
    // The watcher restarted on the list as changed, both directories.
    EXPECT_TRUE(watcher()->isRunning());
    EXPECT_EQ(watcher()->streamCount(), 2);

    ASSERT_TRUE(waitForRows(2));
    const auto paths = shown<QLabel>(view.get(), QStringLiteral("displayPath"));
    EXPECT_EQ(paths[0]->text(), chosen + QLatin1Char('/'));
    EXPECT_EQ(paths[1]->text(), older + QLatin1Char('/'));
    EXPECT_EQ(one(QStringLiteral("noDirectories")), nullptr);
    EXPECT_EQ(view->directories().front()->path(), chosen + QLatin1Char('/'));
    EXPECT_TRUE(view->directories().front()->isEnabled());
    EXPECT_FALSE(view->directories().front()->selectedProjectNodeId().has_value());
}

// In a child process of a user namespace of its own, whose limit on inotify watches is low.
class SettingsViewWithFewWatches : public SettingsViewTest
{
protected:
    void SetUp() override { replaceDesktop(); }
};

TEST_F(SettingsViewWithFewWatches, DirectoriesNotWatchedWholeAreNamedUnderTheRows)
{
    if (!test::inChild()) {
        if (QProcess::execute(QStringLiteral("unshare"), {"--user", "--map-root-user", "true"}) != 0)
            GTEST_SKIP() << "no user namespaces here";
        EXPECT_TRUE(test::passesInChild(QProcessEnvironment::systemEnvironment(),
                                        {"unshare",
                                         "--user",
                                         "--map-root-user",
                                         "sh",
                                         "-c",
                                         "echo 12 > /proc/sys/user/max_inotify_watches && exec \"$0\" \"$@\""}));
        return;
    }
    const QString small = subdir(QStringLiteral("small"));
    for (int i = 0; i < 20; ++i)
        subdir(QStringLiteral("big/d%1").arg(i));
    watcher();
    open();
    nextDirectory = small;
    QTest::mouseClick(one<QPushButton>(QStringLiteral("addDirectoryButton")), Qt::LeftButton);
    ASSERT_TRUE(waitForRows(1));
    EXPECT_EQ(one(QStringLiteral("watchNotice")), nullptr);

    nextDirectory = tree.filePath(QStringLiteral("big"));
    QTest::mouseClick(one<QPushButton>(QStringLiteral("addDirectoryButton")), Qt::LeftButton);
    ASSERT_TRUE(waitForRows(2));
    auto* notice = one<QLabel>(QStringLiteral("watchNotice"));
    ASSERT_NE(notice, nullptr);
    // The newer directory, listed first, took the watches left.
    EXPECT_EQ(notice->text().toStdString(),
              QStringLiteral("Changes in some folders of %1/, %2/ are missed: the system's limit on file watches is"
                             " reached (fs.inotify.max_user_watches).")
                  .arg(nextDirectory, small)
                  .toStdString());

    view->removeDirectory(view->directories().front());
    EXPECT_EQ(one(QStringLiteral("watchNotice")), nullptr);
}

TEST_F(SettingsViewTest, ThePanelClosedByTheChooserComesBack)
{
    open();
    closeParentOnChoose = true;
    for (const QString& answer : {subdir(QStringLiteral("new")), QString()}) {
        nextDirectory = answer;
        view->addDirectory();
        EXPECT_TRUE(view->isVisible());
    }
}

TEST_F(SettingsViewTest, ChoosingAListedDirectoryOrCancellingChangesNothing)
{
    const QString listed = subdir(QStringLiteral("listed"));
    addRecord(listed + QLatin1Char('/'));
    watcher();
    open();
    for (const QString& answer : {listed, listed + QLatin1Char('/'), QString()}) {
        nextDirectory = answer;
        view->addDirectory();
        EXPECT_EQ(env.context()->fetchCount<WatchedDirectory>().value(), 1);
        EXPECT_FALSE(watcher()->isRunning()) << "the watcher was restarted";
    }
    EXPECT_EQ(chooserMessages.size(), 3);
}

TEST_F(SettingsViewTest, RemovingKeepsBoardsAndFiledRecordsAndRestartsTheWatcher)
{
    const QString a = subdir(QStringLiteral("a"));
    const QString b = subdir(QStringLiteral("b"));
    auto first = addRecord(a + QLatin1Char('/'));
    first->setSelectedProjectNodeId(QStringLiteral("PVT_1"));
    addRecord(b + QLatin1Char('/'));
    env.context()->insert(std::make_shared<ProjectCache>(QStringLiteral("PVT_1"),
                                                         QStringLiteral("Roadmap"),
                                                         QStringLiteral("octo"),
                                                         true,
                                                         QStringLiteral("https://x/1"),
                                                         QDateTime::currentDateTimeUtc()));
    env.context()->insert(std::make_shared<SeenTodo>(QStringLiteral("h1"),
                                                     a + QStringLiteral("/x.c"),
                                                     1,
                                                     QStringLiteral("https://x/i/1"),
                                                     1,
                                                     QStringLiteral("octo/demo"),
                                                     QStringLiteral("t"),
                                                     QDateTime::currentDateTimeUtc()));
    ASSERT_TRUE(env.context()->save().ok());
    watcher()->start({a + QLatin1Char('/'), b + QLatin1Char('/')}, false);
    ASSERT_EQ(watcher()->streamCount(), 2);
    open();
    ASSERT_TRUE(waitForRows(2));

    // The older directory is the lower row.
    auto removes = shown<QToolButton>(view.get(), QStringLiteral("removeDirectoryButton"));
    QTest::mouseClick(removes[1], Qt::LeftButton);

    const auto records = env.context()->fetch<WatchedDirectory>().value();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]->path(), b + QLatin1Char('/'));
    EXPECT_EQ(env.context()->fetchCount<ProjectCache>().value(), 1);
    EXPECT_EQ(env.context()->fetchCount<SeenTodo>().value(), 1);
    EXPECT_FALSE(env.context()->hasChanges());
    EXPECT_EQ(watcher()->streamCount(), 1);
    ASSERT_TRUE(waitForRows(1));
    EXPECT_EQ(shown<QLabel>(view.get(), QStringLiteral("displayPath"))[0]->text(), b + QLatin1Char('/'));
}

TEST_F(SettingsViewTest, ALongPathIsCutInTheMiddle)
{
    const QString path = QStringLiteral("/srv/") + QString(60, QLatin1Char('d')) + QStringLiteral("/deep/project-end/");
    addRecord(path);
    open();
    ASSERT_TRUE(waitForRows(1));
    auto* label = one<QLabel>(QStringLiteral("displayPath"));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return label->property("shownText").toString().contains(QChar(0x2026)); }, kWaitMs));
    const QString shownText = label->property("shownText").toString();
    EXPECT_TRUE(shownText.startsWith(QStringLiteral("/srv/"))) << shownText.toStdString();
    EXPECT_TRUE(shownText.endsWith(QStringLiteral("project-end/"))) << shownText.toStdString();
    EXPECT_EQ(label->text(), path);
    EXPECT_EQ(label->toolTip(), path);
}

TEST_F(SettingsViewTest, DirectoriesAddedElsewhereAppearAndTheHomeShowsAsTilde)
{
    open();
    addRecord(QDir::homePath() + QStringLiteral("/code/app/"));
    ASSERT_TRUE(waitForRows(1));
    EXPECT_EQ(one<QLabel>(QStringLiteral("displayPath"))->text(), QStringLiteral("~/code/app/"));
}

// ---- the switch ----

TEST_F(SettingsViewTest, TheSwitchStopsAndRestartsTheWatcherAndWritesTheFirstSettingsRecord)
{
    const QString a = subdir(QStringLiteral("a"));
    const QString b = subdir(QStringLiteral("b"));
    addRecord(a + QLatin1Char('/'));
    addRecord(b + QLatin1Char('/'), false);
    env.context()->insert(std::make_shared<AppSettings>(true));
    env.context()->insert(std::make_shared<AppSettings>(true));
    ASSERT_TRUE(env.context()->save().ok());
    watcher()->start({a + QLatin1Char('/')}, false);
    open();
    auto* toggle = one<QAbstractButton>(QStringLiteral("watchSwitch"));
    auto* status = one<QLabel>(QStringLiteral("status"));
    ASSERT_NE(toggle, nullptr);
    EXPECT_TRUE(toggle->isChecked());
    EXPECT_EQ(status->text(), QStringLiteral("Active"));

    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_FALSE(env.appState.isWatchingEnabled());
    EXPECT_FALSE(watcher()->isRunning());
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_EQ(status->text(), QStringLiteral("Paused"));
    auto records = env.context()->fetch<AppSettings>().value();
    EXPECT_FALSE(records[0]->isWatchingEnabled());
    EXPECT_TRUE(records[1]->isWatchingEnabled());
    EXPECT_FALSE(env.context()->hasChanges());

    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_TRUE(env.appState.isWatchingEnabled());
    EXPECT_TRUE(watcher()->isRunning());
    EXPECT_EQ(watcher()->streamCount(), 1); // the disabled directory is not watched
    EXPECT_TRUE(env.context()->fetch<AppSettings>().value()[0]->isWatchingEnabled());
    EXPECT_EQ(status->text(), QStringLiteral("Active"));
}

TEST_F(SettingsViewTest, WithoutASettingsRecordOrWatcherTheSwitchChangesTheStateOnly)
{
    open();
    view->setWatching(false);
    EXPECT_FALSE(env.appState.isWatchingEnabled());
    EXPECT_EQ(env.context()->fetchCount<AppSettings>().value(), 0);
    view->setWatching(true);
    EXPECT_TRUE(env.appState.isWatchingEnabled());
    EXPECT_EQ(env.appState.fileWatcher(), nullptr);
}

TEST_F(SettingsViewTest, TheSwitchFollowsTheStateChangedElsewhere)
{
    open();
    env.appState.setIsWatchingEnabled(false);
    EXPECT_FALSE(one<QAbstractButton>(QStringLiteral("watchSwitch"))->isChecked());
    EXPECT_EQ(one<QLabel>(QStringLiteral("status"))->text(), QStringLiteral("Paused"));
}

TEST_F(SettingsViewTest, AddingWhilePausedRestartsTheWatcher)
{
    watcher();
    open();
    view->setWatching(false);
    nextDirectory = subdir(QStringLiteral("new"));
    view->addDirectory();
    EXPECT_TRUE(watcher()->isRunning());
    EXPECT_EQ(watcher()->streamCount(), 1);
    EXPECT_EQ(one<QLabel>(QStringLiteral("status"))->text(), QStringLiteral("Paused"));
    EXPECT_FALSE(env.appState.isWatchingEnabled());
}

// ---- recent issues ----

CreatedIssue issue(int number, const QDateTime& at, const QString& url = {})
{
    return CreatedIssue(QStringLiteral("t%1").arg(number),
                        number,
                        QStringLiteral("octo/demo"),
                        url.isNull() ? QStringLiteral("https://github.com/octo/demo/issues/%1").arg(number) : url,
                        at);
}

TEST_F(SettingsViewTest, OfSevenRecentIssuesTheFiveNewestAreShown)
{
    const QDateTime now = QDateTime::currentDateTime();
    open();
    EXPECT_EQ(shown(view.get(), QStringLiteral("recentBox")).size(), 0);
    for (int n = 1; n <= 7; ++n)
        env.appState.addRecentIssue(issue(n, now.addSecs(-125 - 60 * (7 - n))));
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown(view.get(), QStringLiteral("recentRow")).size() == 5; }, kWaitMs));
    QStringList numbers;
    for (QLabel* l : shown<QLabel>(view.get(), QStringLiteral("issueNumber")))
        numbers << l->text();
    EXPECT_EQ(numbers, (QStringList{"#7", "#6", "#5", "#4", "#3"}));
    EXPECT_EQ(shown<QLabel>(view.get(), QStringLiteral("repoName"))[0]->text(), QStringLiteral("octo/demo"));
    EXPECT_EQ(shown<QLabel>(view.get(), QStringLiteral("relativeDate"))[0]->text(), QStringLiteral("2 minutes ago"));

    QTest::mouseClick(shown<QToolButton>(view.get(), QStringLiteral("openIssueButton"))[1], Qt::LeftButton);
    EXPECT_EQ(openedUrls, QList<QUrl>{QUrl(QStringLiteral("https://github.com/octo/demo/issues/6"))});
}

TEST_F(SettingsViewTest, LongNamesAreElidedAndEveryControlStaysInsideThePanel)
{
    // GitHub's longest: a 39-character owner and a 100-character repository.
    const QString repo = QString(39, QLatin1Char('o')) + QLatin1Char('/') + QString(100, QLatin1Char('r'));
    env.appState.setGithubToken(QStringLiteral("ghp_present"));
    auto dir = addRecord(subdir(QStringLiteral("a")) + QLatin1Char('/'));
    env.context()->insert(
        std::make_shared<ProjectCache>(QStringLiteral("PVT_1"),
                                       QStringLiteral("A board whose title runs on ") + QString(60, QLatin1Char('x')),
                                       QStringLiteral("octo"),
                                       true,
                                       QStringLiteral("https://github.com/orgs/octo/projects/1"),
                                       QDateTime::currentDateTimeUtc()));
    dir->setSelectedProjectNodeId(QStringLiteral("PVT_1"));
    ASSERT_TRUE(env.context()->save().ok());
    for (int n = 1; n <= 3; ++n)
        env.appState.addRecentIssue(CreatedIssue(QStringLiteral("t"),
                                                 n,
                                                 repo,
                                                 QStringLiteral("https://github.com/%1/issues/%2").arg(repo).arg(n),
                                                 QDateTime::currentDateTime()));
    open();
    ASSERT_TRUE(waitForRows(1));
    // Rows laid out: the last one has its height.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto rows = shown(view.get(), QStringLiteral("recentRow"));
            return rows.size() == 3 && rows.last()->height() > 0 && rows.last()->findChild<QLabel*>()->height() > 0;
        },
        kWaitMs));

    auto* scroll = one<QScrollArea>(QStringLiteral("scrollArea"));
    ASSERT_NE(scroll, nullptr);
    const QRect viewport(scroll->viewport()->mapTo(view.get(), QPoint()), scroll->viewport()->size());
    EXPECT_LE(scroll->widget()->width(), scroll->viewport()->width());
    int controls = 0;
    for (const char* name : {"relativeDate",
                             "openIssueButton",
                             "changeTokenButton",
                             "projectPicker",
                             "removeDirectoryButton",
                             "addDirectoryButton",
                             "repoName"}) {
        for (QWidget* w : shown(view.get(), QString::fromLatin1(name))) {
            ++controls;
            const QRect r(w->mapTo(view.get(), QPoint()), w->size());
            EXPECT_GE(r.left(), viewport.left()) << name;
            EXPECT_LE(r.right(), viewport.right()) << name;
        }
    }
    EXPECT_EQ(controls, 3 * 3 + 4);
    // The full names stay at hand.
    auto* repoLabel = shown<QLabel>(view.get(), QStringLiteral("repoName")).value(0);
    EXPECT_EQ(repoLabel->text(), repo);
    EXPECT_EQ(repoLabel->toolTip(), repo);
    ProjectDropdownButton* picker = view->projectPickers().value(0);
    ASSERT_NE(picker, nullptr);
    const QString board = QStringLiteral("A board whose title runs on ") + QString(60, QLatin1Char('x'));
    EXPECT_EQ(picker->toolTip(), board);
    EXPECT_EQ(picker->accessibleName(), board);
    picker->clearSelection();
    EXPECT_EQ(picker->toolTip(), QStringLiteral("Project"));
    EXPECT_EQ(picker->accessibleName(), QStringLiteral("Project"));
}

TEST_F(SettingsViewTest, AnIssueAddressThatDoesNotParseOpensNothing)
{
    open();
    view->openIssue(issue(1, QDateTime::currentDateTime(), QString(QLatin1String(""))));
    view->openIssue(issue(2, QDateTime::currentDateTime(), QStringLiteral("http://exa mple.com/[")));
    EXPECT_TRUE(openedUrls.isEmpty());
}

TEST_F(SettingsViewTest, TheFooterQuitsAndShowsTheVersion)
{
    open();
    EXPECT_EQ(one<QLabel>(QStringLiteral("version"))->text(), QStringLiteral("v2.0.0"));
    auto* quit = one<QPushButton>(QStringLiteral("quitButton"));
    EXPECT_EQ(quit->text(), QStringLiteral("Quit Jot Warden"));
    QTest::mouseClick(quit, Qt::LeftButton);
    EXPECT_EQ(quitCalls, 1);
}

TEST_F(SettingsViewTest, RowsSurviveStoreChangesSoAPickerKeepsItsState)
{
    addRecord(subdir(QStringLiteral("a")) + QLatin1Char('/'));
    open();
    ASSERT_TRUE(waitForRows(1));
    QPointer<ProjectDropdownButton> picker = view->projectPickers().value(0);
    ASSERT_TRUE(picker);
    addRecord(subdir(QStringLiteral("b")) + QLatin1Char('/'));
    ASSERT_TRUE(waitForRows(2));
    EXPECT_TRUE(picker);
    EXPECT_EQ(view->projectPickers().value(1), picker.data());
}

TEST_F(SettingsViewTest, DatesTickOnlyWhileThePanelIsShownAndAreCurrentWhenItOpens)
{
    const QDateTime createdAt = QDateTime::currentDateTime();
    env.appState.addRecentIssue(issue(1, createdAt));
    view = std::make_unique<SettingsView>(&env.appState, env.context());
    // The view's own timer: its one direct child that is a timer.
    const auto timers = view->findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_EQ(timers.size(), 1);
    QTimer* timer = timers.first();
    EXPECT_FALSE(timer->isActive()) << "never shown: no wake-ups";
    view->show();
    EXPECT_TRUE(timer->isActive());
    view->hide();
    EXPECT_FALSE(timer->isActive());

    auto* date = view->findChild<QLabel*>(QStringLiteral("relativeDate"));
    ASSERT_NE(date, nullptr);
    const QString before = date->text();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return relativeDateText(createdAt, QDateTime::currentDateTime()) != before; }, kWaitMs));
    const QString earliest = relativeDateText(createdAt, QDateTime::currentDateTime());
    view->show();
    const QString latest = relativeDateText(createdAt, QDateTime::currentDateTime());
    EXPECT_TRUE(date->text() == earliest || date->text() == latest) << date->text().toStdString();
}

TEST(SettingsDesktop, TheChooserOpensInTheHomeDirectory)
{
    QTemporaryDir home;
    const QByteArray realHome = qgetenv("HOME");
    qputenv("HOME", home.path().toUtf8());
    QString openedIn;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            openedIn = dialog->directory().absolutePath();
            dialog->reject();
        }
    });
    poll.start(10);
    const QString chosen = SettingsView::defaultDesktop().chooseDirectory(nullptr, SettingsView::kChooserMessage);
    poll.stop();
    qputenv("HOME", realHome);
    EXPECT_TRUE(chosen.isEmpty());
    EXPECT_EQ(openedIn, QDir(home.path()).absolutePath());
}

TEST_F(SettingsViewTest, TheActiveLabelIsLegible)
{
    open();
    auto* status = one<QLabel>(QStringLiteral("status"));
    ASSERT_EQ(status->text(), QStringLiteral("Active"));
    const QImage image = view->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const test::DrawnText text = test::drawnText(image, QRect(status->mapTo(view.get(), QPoint()), status->size()));
    EXPECT_GE(text.contrast(), 4.5);
    // Still green.
    EXPECT_GT(text.ink.green(), text.ink.red() + 30);
    EXPECT_GT(text.ink.green(), text.ink.blue() + 30);
}

TEST_F(SettingsViewTest, TheKeyringMessageReadsOnLightAndDarkThemes)
{
    const QPalette before = QApplication::palette();
    for (const QColor window : {QColor(0xef, 0xef, 0xef), QColor(0x2d, 0x2d, 0x2d)}) {
        QApplication::setPalette(QPalette(window));
        env.appState.setKeyringState(KeyringState::notRunning);
        open();
        auto* message = one<QLabel>(QStringLiteral("tokenMessage"));
        ASSERT_TRUE(message && message->isVisible());
        const QImage image = view->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const test::DrawnText text =
            test::drawnText(image, QRect(message->mapTo(view.get(), QPoint()), message->sizeHint()));
        EXPECT_GE(text.contrast(), 4.5) << window.name().toStdString();
        EXPECT_GT(text.ink.red(), text.ink.green() + 30) << "still red";
        view.reset();
    }
    QApplication::setPalette(before);
}

// Secondary texts on the group boxes, the picker's face among them, and the titles: the colour each
// is drawn in, over what the style drew beneath it. Pixels of small text never show a stem's full colour.
TEST_F(SettingsViewTest, SecondaryTextsReadOnTheGroupBoxesOnLightMidAndDarkThemes)
{
    const QPalette before = QApplication::palette();
    env.appState.setGithubToken(QStringLiteral("ghp_present"));
    env.appState.addRecentIssue(issue(7, QDateTime::currentDateTime().addDays(-3)));
    const QColor light(0xef, 0xef, 0xef);
    const QColor dark(0x2d, 0x2d, 0x2d);
    const QColor mid(0xd6, 0xd6, 0xd6);
    // Each theme as the panel is built under it, and as the desktop switches to it from the other end.
    const std::pair<QColor, QColor> themes[] = {{light, light}, {mid, mid}, {dark, dark}, {light, dark}, {dark, light}};
    // The panel takes a new palette on a later turn of the event loop.
    const auto follows = [&](const QColor& window) {
        return QTest::qWaitFor(
            [&] {
                auto* title = one<QLabel>(QStringLiteral("title"));
                return style::contrast(title->palette().color(title->foregroundRole()), window) >= 4.5;
            },
            kWaitMs);
    };
    for (const auto& [builtUnder, window] : themes) {
        QApplication::setPalette(QPalette(builtUnder));
        open();
        QApplication::setPalette(QPalette(window));
        ASSERT_TRUE(follows(window));
        ASSERT_TRUE(QTest::qWaitFor([&] { return one<QLabel>(QStringLiteral("repoName"))->height() > 0; }, kWaitMs));
        const QImage image = view->grab().toImage().convertToFormat(QImage::Format_RGB32);
        for (const char* name : {"maskedToken", "noDirectories", "repoName", "relativeDate", "title", "boxTitle"}) {
            const auto texts = shown<QLabel>(view.get(), QString::fromLatin1(name));
            ASSERT_FALSE(texts.isEmpty()) << name;
            for (QLabel* text : texts) {
                const QRect area(text->mapTo(view.get(), QPoint()), text->size());
                const QColor beneath = test::drawnText(image, area).background;
                const QColor ink = style::composite(text->palette().color(text->foregroundRole()), beneath);
                EXPECT_GE(style::contrast(ink, beneath), 4.5)
                    << name << " on " << window.name().toStdString() << " built on " << builtUnder.name().toStdString();
            }
        }
        view.reset();
    }
    // An unselected picker's face, on its capsule.
    addRecord(subdir(QStringLiteral("a")) + QLatin1Char('/'));
    for (const auto& [builtUnder, window] : themes) {
        QApplication::setPalette(QPalette(builtUnder));
        open();
        QApplication::setPalette(QPalette(window));
        ASSERT_TRUE(follows(window));
        ASSERT_TRUE(waitForRows(1));
        ProjectDropdownButton* picker = view->projectPickers().value(0);
        ASSERT_NE(picker, nullptr);
        const QImage image = view->grab().toImage();
        // Inside the capsule, right of the text.
        const QColor beneath =
            image.pixelColor(picker->mapTo(view.get(), QPoint(picker->width() - 4, picker->height() / 2)));
        EXPECT_GE(style::contrast(style::composite(picker->faceTextColor(), beneath), beneath), 4.5)
            << "face on " << window.name().toStdString();
        view.reset();
    }
    QApplication::setPalette(before);
}

// ---- keyboard ----

TEST_F(SettingsViewTest, TabWalksThePanelDownwardsAndIconButtonsShowTheFocusAndNameWhatTheyAct)
{
    env.appState.setGithubToken(QStringLiteral("ghp_present"));
    env.appState.addRecentIssue(issue(12, QDateTime::currentDateTime()));
    addRecord(subdir(QStringLiteral("a")) + QLatin1Char('/'));
    open();
    ASSERT_TRUE(waitForRows(1));
    // A row made after the others is still walked in screen order.
    addRecord(subdir(QStringLiteral("b")) + QLatin1Char('/'));
    ASSERT_TRUE(waitForRows(2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown(view.get(), QStringLiteral("recentRow")).size() == 1; }, kWaitMs));
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    auto* remove = shown<QToolButton>(view.get(), QStringLiteral("removeDirectoryButton")).value(0);
    auto* openIssue = one<QToolButton>(QStringLiteral("openIssueButton"));
    ASSERT_NE(remove, nullptr);
    ASSERT_NE(openIssue, nullptr);
    EXPECT_EQ(remove->accessibleName(),
              QStringLiteral("Remove ") + shown<QLabel>(view.get(), QStringLiteral("displayPath"))[0]->text());
    EXPECT_EQ(openIssue->accessibleName(), QStringLiteral("Open issue #12"));

    const QImage unfocused = view->grab().toImage();
    one(QStringLiteral("watchSwitch"))->setFocus(Qt::TabFocusReason);
    QStringList order;
    for (int i = 0; i < 10; ++i) {
        QWidget* focused = QApplication::focusWidget();
        ASSERT_NE(focused, nullptr);
        order << focused->objectName();
        if (focused == remove || focused == openIssue) {
            // A ring at least once around: pixels that now stand out at 3:1 from what they were.
            const QImage now = view->grab().toImage();
            const QRect area(focused->mapTo(view.get(), QPoint()), focused->size());
            int ring = 0;
            for (int y = area.top(); y <= area.bottom(); ++y)
                for (int x = area.left(); x <= area.right(); ++x)
                    ring += style::contrast(now.pixelColor(x, y), unfocused.pixelColor(x, y)) >= 3.0;
            EXPECT_GE(ring, area.width() + area.height()) << focused->objectName().toStdString();
        }
        QTest::keyClick(focused, Qt::Key_Tab);
    }
    EXPECT_EQ(order.join(QLatin1Char(' ')).toStdString(),
              "watchSwitch changeTokenButton projectPicker removeDirectoryButton projectPicker "
              "removeDirectoryButton addDirectoryButton openIssueButton quitButton watchSwitch");
}

// ---- board fetches ----

// Work trees of two owners without boards, slow answers, a panel opened again and again: each
// owner is asked once, and again only by Refresh Projects.
TEST_F(SettingsViewTest, BoardsAreFetchedOncePerOwnerAndAnEmptyAnswerIsKeptUntilARefresh)
{
    test::FakeGitHubServer server;
    ASSERT_TRUE(server.start());
    server.setAnswer(
        "/graphql",
        test::FakeResponse::json(200, R"({"data":{"organization":null,"user":{"projectsV2":{"nodes":[]}}}})")
            .after(std::chrono::milliseconds(300)));
    addWorkTree(QStringLiteral("a"), QStringLiteral("octo"));
    addWorkTree(QStringLiteral("b"), QStringLiteral("octo"));
    addWorkTree(QStringLiteral("c"), QStringLiteral("acme"));
    const auto reopenTillIdle = [&](int times) {
        for (int i = 0; i < times; ++i) {
            view->hide();
            view->show();
            QCoreApplication::processEvents();
        }
        const auto pickers = view->projectPickers();
        return QTest::qWaitFor(
            [&] { return std::none_of(pickers.begin(), pickers.end(), [](auto* p) { return p->isFetching(); }); },
            kWaitMs);
    };
    open(server.baseUrl());
    ASSERT_TRUE(waitForRows(3));
    // The first save while the panel is up fetches what an opening would have.
    env.appState.setGithubToken(QStringLiteral("ghp_new"));
    EXPECT_TRUE(server.waitForRequests(2));
    ASSERT_TRUE(reopenTillIdle(3));
    EXPECT_EQ(server.requests().size(), 2);

    ASSERT_TRUE(reopenTillIdle(3));
    EXPECT_EQ(server.requests().size(), 2) << "an owner with no boards is asked again";
    view->projectPickers().value(0)->refreshButtonAction();
    EXPECT_TRUE(server.waitForRequests(3));
    ASSERT_TRUE(reopenTillIdle(2));
    EXPECT_EQ(server.requests().size(), 3);

    // Another token may see boards the last one could not: both owners are asked again, once.
    env.appState.setGithubToken(QStringLiteral("ghp_other"));
    ASSERT_TRUE(reopenTillIdle(1));
    EXPECT_TRUE(server.waitForRequests(5));
    ASSERT_TRUE(reopenTillIdle(2));
    EXPECT_EQ(server.requests().size(), 5);
}

// ---- translation ----

// Wraps every text it is asked for in the views' own contexts: a fixed text shown bare never
// reached it there.
struct WrappingTranslator : QTranslator
{
    QString translate(const char* context, const char* source, const char*, int) const override
    {
        const QByteArray c(context);
        if (c != "jw::SettingsView" && c != "jw::ProjectDropdownButton")
            return {};
        return QStringLiteral("[%1]").arg(QString::fromUtf8(source));
    }
    bool isEmpty() const override { return false; }
};

TEST_F(SettingsViewTest, FixedTextsGoThroughTheTranslator)
{
    WrappingTranslator translator;
    QCoreApplication::installTranslator(&translator);
    addRecord(subdir(QStringLiteral("a")) + QLatin1Char('/'));
    open();
    ASSERT_TRUE(waitForRows(1));
    const QString texts = one<QLabel>(QStringLiteral("title"))->text() + one<QLabel>(QStringLiteral("version"))->text()
                          + one<QLineEdit>(QStringLiteral("tokenField"))->placeholderText()
                          + view->projectPickers().value(0)->menu()->actions().value(0)->text();
    QCoreApplication::removeTranslator(&translator);
    // A version number and the token's prefix are no texts to translate.
    EXPECT_EQ(texts, QStringLiteral("[Jot Warden]v2.0.0ghp_...[Refresh Projects]"));
}

// ---- relative dates ----

TEST(RelativeDate, NamesAndCounts)
{
    const QDateTime now(QDate(2026, 5, 20), QTime(12, 0));
    EXPECT_EQ(relativeDateText(now, now), QStringLiteral("now"));
    EXPECT_EQ(relativeDateText(now.addSecs(-1), now), QStringLiteral("1 second ago"));
    EXPECT_EQ(relativeDateText(now.addSecs(-125), now), QStringLiteral("2 minutes ago"));
    EXPECT_EQ(relativeDateText(now.addSecs(-3600), now), QStringLiteral("1 hour ago"));
    EXPECT_EQ(relativeDateText(now.addDays(-1), now), QStringLiteral("yesterday"));
    EXPECT_EQ(relativeDateText(now.addDays(1), now), QStringLiteral("tomorrow"));
    EXPECT_EQ(relativeDateText(now.addDays(-3), now), QStringLiteral("3 days ago"));
    EXPECT_EQ(relativeDateText(now.addDays(-8), now), QStringLiteral("last week"));
    EXPECT_EQ(relativeDateText(now.addDays(-15), now), QStringLiteral("2 weeks ago"));
    EXPECT_EQ(relativeDateText(now.addMonths(-1), now), QStringLiteral("last month"));
    EXPECT_EQ(relativeDateText(now.addMonths(-14), now), QStringLiteral("last year"));
    EXPECT_EQ(relativeDateText(now.addYears(-3), now), QStringLiteral("3 years ago"));
    EXPECT_EQ(relativeDateText(now.addSecs(300), now), QStringLiteral("in 5 minutes"));
    EXPECT_EQ(relativeDateText(QDateTime(), now), QString());
}

} // namespace
} // namespace jw

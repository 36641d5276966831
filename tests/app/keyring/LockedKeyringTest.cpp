#include "app/AppDelegate.h"
#include "app/github/KeychainHelper.h"
#include "app/views/SettingsView.h"
#include "tests/app/pipeline/PipelineFixture.h"
#include "tests/app/views/ViewTestSupport.h"
#include "tests/support/ChildRun.h"
#include "tests/support/KeyringTools.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PrivateSession.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace jw {
namespace {

constexpr int kWaitMs = 60000;
const QByteArray kStoredToken = "ghp_stored_before_the_lock";

// Runs the case in a child on `keyring`, locked, holding `stored` under the program's account
// (nothing: no item). The keyring daemon must outlive every prompt.
void runLockedInChild(test::PrivateKeyring& keyring, const std::optional<QByteArray>& stored)
{
    JW_REQUIRE_PRIVATE_SESSION();
    ASSERT_TRUE(keyring.isRunning());
    if (stored) {
        ASSERT_TRUE(keyring.store(KeychainHelper::kAccount, *stored));
    }
    ASSERT_TRUE(keyring.lock());
    EXPECT_TRUE(test::passesInChild(keyring.environment()));
    EXPECT_TRUE(keyring.daemonAlive());
}

bool answerOrDismiss(bool answer)
{
    test::KeyringPrompts prompts = test::KeyringPrompts::ofThisProcess();
    return answer ? prompts.answer(test::PrivateKeyring::kPassword) : prompts.dismiss();
}

// Each case runs in a child on a keyring of the test's own, locked as a screen locker leaves it;
// the child answers (or cancels) the unlock prompt on the display as a person would.
class LockedKeyring : public ::testing::TestWithParam<const char*>
{
protected:
    bool answered() const { return QLatin1String(GetParam()) == QLatin1String("answered"); }

    static QString message(const QWidget& panel)
    {
        const auto shown = test::shown<QLabel>(&panel, QStringLiteral("tokenMessage"));
        return shown.size() == 1 ? shown.first()->text() : QString();
    }

    test::PrivateKeyring keyring;
};

TEST_P(LockedKeyring, StartUpGoesOnWithoutTheTokenAndTakesItOnceUnlocked)
{
    if (!test::inChild())
        return runLockedInChild(keyring, kStoredToken);

    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    test::LogCapture log;
    AppDelegate delegate;
    SettingsView panel(delegate.appState(), delegate.modelContainer()->mainContext());
    panel.resize(480, 440);
    panel.show();
    delegate.bootstrap();

    // The prompt is up while this thread goes on: start-up finished without the token, and the
    // panel says why.
    ASSERT_TRUE(QTest::qWaitFor([] { return test::KeyringPrompts::ofThisProcess().shown(); }, kWaitMs));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return log.contains(QStringLiteral("Bootstrap complete. Token: missing")); }, kWaitMs));
    EXPECT_FALSE(delegate.appState()->githubToken().has_value());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !message(panel).isEmpty(); }, kWaitMs));
    EXPECT_EQ(message(panel), QStringLiteral("The keyring is locked. Unlock it to use the saved token."));
    EXPECT_TRUE(log.contains(QStringLiteral("Keyring is locked; the token will be loaded once it is unlocked")));

    ASSERT_TRUE(answerOrDismiss(answered()));
    if (answered()) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return delegate.appState()->githubToken().has_value(); }, kWaitMs));
        EXPECT_EQ(delegate.appState()->githubToken(), QString::fromUtf8(kStoredToken));
        EXPECT_TRUE(QTest::qWaitFor([&] { return message(panel).isEmpty(); }, kWaitMs));
        EXPECT_EQ(test::shown(&panel, QStringLiteral("maskedToken")).size(), 1);
        EXPECT_TRUE(log.contains(QStringLiteral("Token loaded from the keyring once it was unlocked")));
    } else {
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return message(panel)
                       == QStringLiteral("The keyring stayed locked, so the saved token was not loaded.");
            },
            kWaitMs))
            << message(panel).toStdString();
        EXPECT_FALSE(delegate.appState()->githubToken().has_value());
        EXPECT_TRUE(log.contains(QStringLiteral("Keyring stayed locked; the token was not loaded")));
    }
}

TEST_P(LockedKeyring, SaveWaitsForTheUnlockWithoutHoldingThePanel)
{
    if (!test::inChild()) {
        runLockedInChild(keyring, std::nullopt);
        if (answered()) {
            EXPECT_EQ(keyring.lookup(KeychainHelper::kAccount), QByteArray("ghp_typed"));
        } else {
            EXPECT_EQ(keyring.itemCount(KeychainHelper::kAccount), 0);
        }
        return;
    }
    test::StoreAndState env;
    test::LogCapture log;
    SettingsView panel(&env.appState, env.context());
    panel.resize(480, 440);
    panel.show();
    auto* field = panel.findChild<QLineEdit*>(QStringLiteral("tokenField"));
    auto* save = panel.findChild<QPushButton*>(QStringLiteral("saveTokenButton"));
    ASSERT_NE(field, nullptr);
    QTest::keyClicks(field, QStringLiteral("ghp_typed"));
    QTest::mouseClick(save, Qt::LeftButton);

    ASSERT_TRUE(QTest::qWaitFor([] { return test::KeyringPrompts::ofThisProcess().shown(); }, kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !message(panel).isEmpty(); }, kWaitMs));
    EXPECT_EQ(message(panel), QStringLiteral("Unlock the keyring to save the token."));
    EXPECT_EQ(field->text(), QStringLiteral("ghp_typed"));
    EXPECT_FALSE(save->isEnabled()) << "a second save while the first waits";
    EXPECT_FALSE(env.appState.githubToken().has_value());

    ASSERT_TRUE(answerOrDismiss(answered()));
    if (answered()) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return env.appState.githubToken().has_value(); }, kWaitMs));
        EXPECT_EQ(env.appState.githubToken(), QStringLiteral("ghp_typed"));
        EXPECT_TRUE(message(panel).isEmpty());
        EXPECT_EQ(test::shown(&panel, QStringLiteral("maskedToken")).size(), 1);
        EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join(QLatin1Char('\n')).toStdString();
    } else {
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return message(panel) == QStringLiteral("The token was not saved: the keyring stayed locked."); },
            kWaitMs))
            << message(panel).toStdString();
        EXPECT_EQ(field->text(), QStringLiteral("ghp_typed"));
        EXPECT_TRUE(save->isEnabled());
        EXPECT_FALSE(env.appState.githubToken().has_value());
        EXPECT_EQ(log.lines(), QStringList{QStringLiteral("Token not saved: the keyring stayed locked")});
    }
}

INSTANTIATE_TEST_SUITE_P(Prompt, LockedKeyring, ::testing::Values("answered", "dismissed"));

// The real delegate, watcher, git and fake GitHub API on such a locked keyring holding the token.
class LockedKeyringPipeline : public test::PipelineFixture, public ::testing::WithParamInterface<const char*>
{
protected:
    LockedKeyringPipeline() { m_storesToken = false; }
    bool answered() const { return QLatin1String(GetParam()) == QLatin1String("answered"); }

    bool waitForKeyring(KeyringState state)
    {
        return QTest::qWaitFor([&] { return m_delegate->appState()->keyringState() == state; }, kWaitMs);
    }
    bool waitForDetection(const QString& title)
    {
        return QTest::qWaitFor(
            [&] { return !m_log.lines().filter(QStringLiteral("TODO detected: \"%1\"").arg(title)).isEmpty(); },
            kWaitMs);
    }

    test::PrivateKeyring keyring;
};

TEST_P(LockedKeyringPipeline, TodosWrittenWhileLockedAreFiledInOrderOnceATokenComes)
{
    if (!test::inChild())
        return runLockedInChild(keyring, kStoredToken);
    m_useRealIsland = true;
    launch();
    ASSERT_TRUE(waitForKeyring(KeyringState::waitingForUnlock));
    for (int n = 1; n <= 5; ++n)
        m_server.enqueue("/repos/octo/demo/issues", issueAnswer(n));

    // The TODOs of one save make one notice that counts them, on the island and in the log.
    const QString two = QStringLiteral("Keyring locked: 2 TODOs wait for it to be unlocked");
    appendToFile(QStringLiteral("main.c"), "// TODO: first\n// TODO: second\n");
    ASSERT_TRUE(waitForStates(IslandState::Kind::error)) << m_log.lines().join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(m_shown.size(), 1);
    EXPECT_EQ(m_shown.first().message, two);
    EXPECT_EQ(m_log.count(two), 1);

    // One more while the notice is up: the island's count follows it, the log does not repeat.
    appendToFile(QStringLiteral("main.c"), "// TODO: third\n");
    ASSERT_TRUE(waitForStates(IslandState::Kind::error, 2));
    EXPECT_EQ(m_shown.last().message, QStringLiteral("Keyring locked: 3 TODOs wait for it to be unlocked"));
    EXPECT_EQ(m_log.lines().filter(QStringLiteral("Keyring locked:")).size(), 1);

    // Once the island is down, a later TODO waits without a word.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_island->isVisible(); }, kWaitMs));
    appendToFile(QStringLiteral("main.c"), "// TODO: fourth\n");
    ASSERT_TRUE(waitForDetection(QStringLiteral("fourth")));

    QStringList titles{QStringLiteral("first"),
                       QStringLiteral("second"),
                       QStringLiteral("third"),
                       QStringLiteral("fourth")};
    QString token = QString::fromUtf8(kStoredToken);
    if (answered()) {
        ASSERT_TRUE(answerOrDismiss(true));
    } else {
        // Dismissed: they still wait, also one detected now, until a token is saved in the panel.
        ASSERT_TRUE(answerOrDismiss(false));
        ASSERT_TRUE(waitForKeyring(KeyringState::stayedLocked));
        appendToFile(QStringLiteral("main.c"), "// TODO: fifth\n");
        ASSERT_TRUE(waitForDetection(QStringLiteral("fifth")));
        titles << QStringLiteral("fifth");
        token = QStringLiteral("ghp_saved_in_the_panel");
        SettingsView panel(m_delegate->appState(), m_delegate->modelContainer()->mainContext());
        panel.show();
        QTest::keyClicks(panel.findChild<QLineEdit*>(QStringLiteral("tokenField")), token);
        QTest::mouseClick(panel.findChild<QPushButton*>(QStringLiteral("saveTokenButton")), Qt::LeftButton);
        ASSERT_TRUE(answerOrDismiss(true));
        ASSERT_TRUE(QTest::qWaitFor([&] { return m_delegate->appState()->githubToken() == token; }, kWaitMs));
    }

    ASSERT_TRUE(waitForStates(IslandState::Kind::confirmed, static_cast<int>(titles.size())))
        << m_log.lines().join(QLatin1Char('\n')).toStdString();
    QStringList detecting;
    for (const IslandState& state : m_shown)
        if (state.kind == IslandState::Kind::detecting)
            detecting << state.title;
    EXPECT_EQ(detecting, titles);
    EXPECT_EQ(issueRequests(), titles.size());
    for (const test::RecordedRequest& request : m_server.requests())
        EXPECT_EQ(request.header("Authorization"), std::optional<QByteArray>("Bearer " + token.toUtf8()));
    EXPECT_EQ(readFile(QStringLiteral("main.c")).count(" (#"), titles.size());
    EXPECT_EQ(m_log.lines().filter(QStringLiteral("Keyring locked:")).size(), 1);
    EXPECT_TRUE(m_log.lines().filter(token).isEmpty());
    m_delegate.reset();
    EXPECT_TRUE(m_log.lines().filter(QStringLiteral("not filed")).isEmpty());
}

TEST_P(LockedKeyringPipeline, QuittingBeforeTheTokenComesSaysWhatWasNotFiled)
{
    if (!test::inChild())
        return runLockedInChild(keyring, kStoredToken);
    launch();
    ASSERT_TRUE(waitForKeyring(KeyringState::waitingForUnlock));
    appendToFile(QStringLiteral("main.c"), "// TODO: first\nint a;\n// TODO: second\n// TODO: third\n");
    ASSERT_TRUE(waitForStates(IslandState::Kind::error));
    EXPECT_EQ(m_shown.last().message, QStringLiteral("Keyring locked: 3 TODOs wait for it to be unlocked"));

    m_delegate.reset();
    const QString path = file(QStringLiteral("main.c"));
    EXPECT_EQ(
        m_log.lines().filter(QStringLiteral("not filed")),
        QStringList{QStringLiteral("Quitting with 3 TODOs not filed while the keyring was locked: %1:2, %1:4, %1:5")
                        .arg(path)});
    // An answer after the end reaches nothing.
    ASSERT_TRUE(answerOrDismiss(answered()));
    EXPECT_EQ(issueRequests(), 0);
}

INSTANTIATE_TEST_SUITE_P(Prompt, LockedKeyringPipeline, ::testing::Values("answered", "dismissed"));

} // namespace
} // namespace jw

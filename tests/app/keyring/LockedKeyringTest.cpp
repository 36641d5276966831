#include "app/AppDelegate.h"
#include "app/github/KeychainHelper.h"
#include "app/views/SettingsView.h"
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

} // namespace
} // namespace jw

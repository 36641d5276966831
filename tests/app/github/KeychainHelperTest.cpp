#include "app/github/KeychainHelper.h"

#include "platform/keychain/Keychain.h"
#include "tests/support/KeyringTools.h"
#include "tests/support/PrivateSession.h"

#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

namespace jw {
namespace {

using namespace std::chrono_literals;

// The only test on the real account: tests run in parallel processes against one keyring.
TEST(KeychainHelperRealAccount, RoundTripsReplacesAndIsReadableBySecretTool)
{
    JW_REQUIRE_PRIVATE_SESSION();
    const QString account = QStringLiteral("com.tallowmere.jot-warden.github-token");
    ASSERT_EQ(KeychainHelper::account(), account);
    Keychain::deleteItem(account);

    EXPECT_FALSE(KeychainHelper::loadToken().has_value());

    // Inner blanks stay; white space around it goes, a pasted line break too.
    const QString first = QStringLiteral("ghp_first token with blanks");
    ASSERT_TRUE(KeychainHelper::saveToken(QStringLiteral("  ") + first + QStringLiteral(" \t\r\n")).ok());
    EXPECT_EQ(KeychainHelper::loadToken(), first);
    EXPECT_EQ(test::secretToolLookup(account), first.toUtf8());

    const QString second = QStringLiteral("ghp_second");
    ASSERT_TRUE(KeychainHelper::saveToken(second).ok());
    EXPECT_EQ(KeychainHelper::loadToken(), second);
    EXPECT_EQ(test::secretToolCount(account), 1);

    // An empty token is stored as an empty item, not taken as a deletion.
    ASSERT_TRUE(KeychainHelper::saveToken(QString()).ok());
    EXPECT_EQ(KeychainHelper::loadToken(), QString());
    EXPECT_EQ(test::secretToolCount(account), 1);

    EXPECT_EQ(Keychain::deleteItem(account), KeychainStatus::success);
}

class KeychainHelperTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        JW_REQUIRE_PRIVATE_SESSION();
        KeychainHelper::setAccountForTesting(account);
    }
    void TearDown() override
    {
        Keychain::deleteItem(account);
        KeychainHelper::setAccountForTesting(std::nullopt);
    }
    const QString account = test::uniqueAccount(QStringLiteral("helper"));
};

TEST_F(KeychainHelperTest, StoredBytesThatAreNotUtf8GiveNothing)
{
    ASSERT_EQ(Keychain::store(account, QByteArrayLiteral("ghp_\xff\xfe"), QStringLiteral("t")),
              KeychainStatus::success);
    EXPECT_FALSE(KeychainHelper::loadToken().has_value());
}

TEST_F(KeychainHelperTest, NonAsciiAndALeadingByteOrderMarkSurvive)
{
    const QString token = QString(QChar(0xFEFF)) + QStringLiteral("tök€n");
    ASSERT_TRUE(KeychainHelper::saveToken(token).ok());
    EXPECT_EQ(KeychainHelper::loadToken(), token);
}

TEST_F(KeychainHelperTest, ATokenWithoutAUtf8FormIsRefusedAndThePreviousOneStays)
{
    ASSERT_TRUE(KeychainHelper::saveToken(QStringLiteral("ghp_kept")).ok());
    const auto result = KeychainHelper::saveToken(QStringLiteral("ghp_") + QChar(0xD800));
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().caseName, QStringLiteral("saveFailed"));
    EXPECT_EQ(KeychainHelper::loadToken(), QStringLiteral("ghp_kept"));
}

TEST_F(KeychainHelperTest, BackgroundCallsKeepTheirOrderAndSkipAReceiverThatIsGone)
{
    QObject receiver;
    QStringList events;
    {
        QObject gone;
        KeychainHelper::saveTokenInBackground(
            &gone,
            QStringLiteral("ghp_first"),
            [] {},
            [&](int) { events << QStringLiteral("gone"); });
    }
    KeychainHelper::saveTokenInBackground(
        &receiver,
        QStringLiteral("ghp_second"),
        [] {},
        [&](int status) { events << QStringLiteral("saved %1").arg(status); });
    std::optional<TokenLoad> loaded;
    KeychainHelper::loadTokenInBackground(
        &receiver,
        [] {},
        [&](const TokenLoad& load) { loaded = load; });
    // Each call's answer comes back to this thread, in the order the calls were handed over.
    ASSERT_TRUE(QTest::qWaitFor([&] { return loaded.has_value(); }, 30000));
    EXPECT_EQ(events, QStringList{QStringLiteral("saved 0")});
    EXPECT_EQ(loaded->status, KeychainStatus::success);
    EXPECT_EQ(loaded->token, QStringLiteral("ghp_second"));
}

TEST(KeychainError, SaveFailedPrintsTheStatusWithItsSign)
{
    const Error e = KeychainError::saveFailed(-25308);
    EXPECT_EQ(e.domain, QStringLiteral("KeychainError"));
    EXPECT_EQ(e.description, QStringLiteral("Keychain save failed with status: -25308"));
    EXPECT_EQ(e.textualForm, QStringLiteral("saveFailed(-25308)"));
}

TEST(KeychainHelperUnreachable, LoadGivesNothingAndSaveFailsAtOnce)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EXIT(
        {
            qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/jotwarden-dead-bus");
            const bool loaded = KeychainHelper::loadToken().has_value();
            const auto saved = KeychainHelper::saveToken(QStringLiteral("ghp_unsaved"));
            const bool expected = !loaded && !saved.ok() && saved.error().is(KeychainError::kDomain, "saveFailed")
                                  && saved.error().description == "Keychain save failed with status: -25291";
            std::_Exit(expected ? 0 : 1);
        },
        ::testing::ExitedWithCode(0),
        "");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
}

} // namespace
} // namespace jw

#include "platform/keychain/Keychain.h"

#include "tests/support/KeyringTools.h"
#include "tests/support/PrivateSession.h"

#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>

namespace jw {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const QString kLabel = QStringLiteral("Jot Warden test item");

class KeychainTest : public ::testing::Test
{
protected:
    void SetUp() override { JW_REQUIRE_PRIVATE_SESSION(); }
    void TearDown() override { Keychain::deleteItem(account); }
    const QString account = test::uniqueAccount(QStringLiteral("layer"));
};

TEST_F(KeychainTest, AMissingItemIsNotFound)
{
    const auto lookup = Keychain::copyMatching(account);
    EXPECT_EQ(lookup.status, KeychainStatus::itemNotFound);
    EXPECT_TRUE(lookup.data.isEmpty());
    EXPECT_EQ(Keychain::deleteItem(account), KeychainStatus::itemNotFound);
}

TEST_F(KeychainTest, StoreReplacesTheItemAndKeepsBytesExactly)
{
    const QByteArray first("first\0with nul", 14);
    ASSERT_EQ(Keychain::store(account, first, kLabel), KeychainStatus::success);
    EXPECT_EQ(Keychain::copyMatching(account).data, first);

    ASSERT_EQ(Keychain::store(account, QByteArrayLiteral("second"), kLabel), KeychainStatus::success);
    const auto lookup = Keychain::copyMatching(account);
    EXPECT_EQ(lookup.status, KeychainStatus::success);
    EXPECT_EQ(lookup.data, "second");
    EXPECT_EQ(test::secretToolCount(account), 1);
    EXPECT_EQ(test::secretToolLookup(account), QByteArrayLiteral("second"));

    EXPECT_EQ(Keychain::deleteItem(account), KeychainStatus::success);
    EXPECT_EQ(Keychain::copyMatching(account).status, KeychainStatus::itemNotFound);
}

TEST_F(KeychainTest, AProbeTellsWhatALookupAndAStoreWouldMeet)
{
    EXPECT_EQ(Keychain::probe(account), KeychainStatus::itemNotFound);
    EXPECT_EQ(Keychain::probeStore(), KeychainStatus::success);
    ASSERT_EQ(Keychain::store(account, "probed", kLabel), KeychainStatus::success);
    EXPECT_EQ(Keychain::probe(account), KeychainStatus::success);
    EXPECT_EQ(Keychain::probe(test::uniqueAccount(QStringLiteral("other"))), KeychainStatus::itemNotFound);
}

TEST_F(KeychainTest, OtherAccountsAreSeparateItems)
{
    const QString other = test::uniqueAccount(QStringLiteral("other"));
    ASSERT_EQ(Keychain::store(account, "mine", kLabel), KeychainStatus::success);
    EXPECT_EQ(Keychain::copyMatching(other).status, KeychainStatus::itemNotFound);
    EXPECT_EQ(Keychain::deleteItem(other), KeychainStatus::itemNotFound);
    EXPECT_EQ(Keychain::copyMatching(account).data, "mine");
}

// The service may take its name between the answer that it is missing and the start of the
// watch; no registration signal comes then.
TEST_F(KeychainTest, AServiceAlreadyRunningWhenTheWatchStartsCountsAsAppearing)
{
    QObject receiver;
    int appeared = 0;
    Keychain::whenServiceAppears(&receiver, [&appeared] { ++appeared; });
    EXPECT_EQ(appeared, 0); // queued, like the registration signal
    EXPECT_TRUE(QTest::qWaitFor([&] { return appeared > 0; }, 10000));
    QCoreApplication::processEvents();
    EXPECT_EQ(appeared, 1);

    // The same owner again (one that answers as if missing): only a new registration counts.
    Keychain::whenServiceAppears(&receiver, [&appeared] { ++appeared; });
    QCoreApplication::processEvents();
    EXPECT_EQ(appeared, 1);
}

// The calls run in a child process whose session bus address is `address`; the child exits 0
// when every call reported notAvailable.
void expectNotAvailableAtOnce(const QByteArray& address)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto started = Clock::now();
    EXPECT_EXIT(
        {
            qputenv("DBUS_SESSION_BUS_ADDRESS", address);
            const QString account = QStringLiteral("com.tallowmere.jot-warden.test.unreachable");
            const int lookup = Keychain::copyMatching(account).status;
            const int stored = Keychain::store(account, "x", kLabel);
            const int deleted = Keychain::deleteItem(account);
            const int probed = Keychain::probe(account);
            const int probedStore = Keychain::probeStore();
            fprintf(stderr,
                    "lookup %d store %d delete %d probes %d %d\n",
                    lookup,
                    stored,
                    deleted,
                    probed,
                    probedStore);
            std::_Exit(lookup == KeychainStatus::notAvailable && stored == KeychainStatus::notAvailable
                               && deleted == KeychainStatus::notAvailable && probed == KeychainStatus::notAvailable
                               && probedStore == KeychainStatus::notAvailable
                           ? 0
                           : 1);
        },
        ::testing::ExitedWithCode(0),
        "");
    EXPECT_LT(Clock::now() - started, 3s);
}

TEST(KeychainUnreachable, ADeadSessionBusIsNotAvailableAtOnce)
{
    expectNotAvailableAtOnce(QByteArrayLiteral("unix:path=/nonexistent/jotwarden-dead-bus"));
}

TEST(KeychainUnreachable, ABusWithoutTheServiceIsNotAvailableAndNothingIsStarted)
{
    // The death-test child re-runs this body; it must use the parent's bus, not start one whose
    // daemon would inherit (and hold open) the child's reporting pipe.
    const char* const kInherited = "JW_TEST_PRIVATE_BUS";
    std::optional<test::PrivateSessionBus> bus;
    if (qEnvironmentVariableIsEmpty(kInherited)) {
        bus.emplace();
        ASSERT_TRUE(bus->isRunning());
        qputenv(kInherited, bus->address());
    }
    expectNotAvailableAtOnce(qgetenv(kInherited));
    if (bus) {
        EXPECT_FALSE(bus->nameHasOwner(QStringLiteral("org.freedesktop.secrets")));
        qunsetenv(kInherited);
    }
}

} // namespace
} // namespace jw

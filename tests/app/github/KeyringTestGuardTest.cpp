#include "app/github/KeychainHelper.h"
#include "tests/support/KeyringTools.h"
#include "tests/support/PrivateSession.h"

#include <QCoreApplication>
#include <QProcess>

#include <gtest/gtest.h>

namespace jw {
namespace {

// Runs the test that rewrites the real token's item in a child whose session does not look like
// the runner's private one, against a keyring of our own standing in for a developer's.
class KeyringTestGuard : public ::testing::TestWithParam<const char*>
{};

TEST_P(KeyringTestGuard, OutsideThePrivateSessionTheRealTokenIsLeftAlone)
{
    JW_REQUIRE_PRIVATE_SESSION();
    test::PrivateKeyring desktop;
    ASSERT_TRUE(desktop.isRunning());
    const QByteArray sentinel = "ghp_a_developers_real_token";
    ASSERT_TRUE(desktop.store(KeychainHelper::kAccount, sentinel));

    QProcessEnvironment env = desktop.environment();
    env.remove(QString::fromLatin1(test::kOwnBusMarker));
    if (QLatin1String(GetParam()) == QLatin1String("no-marker"))
        env.remove(QString::fromLatin1(test::kSessionMarker));
    else
        ASSERT_FALSE(env.value(QString::fromLatin1(test::kSessionMarker)).isEmpty());

    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=KeychainHelperRealAccount.*")});
    ASSERT_TRUE(child.waitForFinished(120000));
    const QByteArray output = child.readAll();

    EXPECT_EQ(desktop.lookup(KeychainHelper::kAccount), sentinel) << output.toStdString();
    EXPECT_TRUE(output.contains(test::kRefusal.toUtf8())) << output.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Session, KeyringTestGuard, ::testing::Values("no-marker", "marker-of-another-bus"));

} // namespace
} // namespace jw

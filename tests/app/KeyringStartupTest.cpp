#include "app/AppDelegate.h"
#include "app/views/SettingsView.h"
#include "tests/support/ChildRun.h"
#include "tests/support/KeyringTools.h"
#include "tests/support/LogCapture.h"

#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace jw {
namespace {

constexpr int kWaitMs = 30000;

// On a session bus where nothing owns the Secret Service name: start-up logs it once and the
// panel says what Save would run into.
TEST(KeyringAtStartUp, WithoutAKeyringTheLogAndThePanelSaySo)
{
    if (!test::inChild()) {
        test::PrivateSessionBus bus;
        ASSERT_TRUE(bus.isRunning());
        EXPECT_TRUE(test::passesInChild(bus.environment()));
        return;
    }
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    test::LogCapture log;
    AppDelegate delegate;
    SettingsView panel(delegate.appState(), delegate.modelContainer()->mainContext());
    panel.show();
    delegate.bootstrap();

    ASSERT_TRUE(
        QTest::qWaitFor([&] { return log.contains(QStringLiteral("Bootstrap complete. Token: missing")); }, kWaitMs))
        << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(log.lines(),
              (QStringList{QStringLiteral("No watched directories configured"),
                           QStringLiteral("Keyring not reachable: no Secret Service is running on the session bus"),
                           QStringLiteral("Bootstrap complete. Token: missing")}));
    auto* message = panel.findChild<QLabel*>(QStringLiteral("tokenMessage"));
    ASSERT_NE(message, nullptr);
    EXPECT_TRUE(message->isVisibleTo(&panel));
    EXPECT_EQ(message->text(), QStringLiteral("The token cannot be saved: no keyring (Secret Service) is running."));
}

} // namespace
} // namespace jw

#include "app/JotwardenApp.h"
#include "app/views/SettingsView.h"

#include <QApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace jw {
namespace {

constexpr int kWaitMs = 30000;

class TrayTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        // The scene's delegate opens the store under the data home: keep it in the test's folder.
        qputenv("XDG_DATA_HOME", home.path().toUtf8());
        SettingsView::setDesktopForTesting(SettingsView::Desktop{
            [](QWidget*, const QString&) { return QString(); },
            [](const QUrl&) {},
            [this] { ++quitCalls; },
        });
    }
    void TearDown() override
    {
        scene.reset();
        SettingsView::setDesktopForTesting(std::nullopt);
        if (trayHost.state() != QProcess::NotRunning) {
            trayHost.terminate();
            if (!trayHost.waitForFinished(5000))
                trayHost.kill();
            trayHost.waitForFinished(5000);
        }
    }

    bool startTrayHost()
    {
        trayHost.setStandardOutputFile(QProcess::nullDevice());
        trayHost.setStandardErrorFile(QProcess::nullDevice());
        trayHost.start(QStringLiteral("trayer"),
                       {QStringLiteral("--expand"),
                        QStringLiteral("false"),
                        QStringLiteral("--SetDockType"),
                        QStringLiteral("true")});
        if (!trayHost.waitForStarted(10000))
            return false;
        return QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, kWaitMs);
    }

    void showScene()
    {
        scene = std::make_unique<JotwardenApp>();
        QSignalSpy shown(scene.get(), &JotwardenApp::sceneShown);
        scene->showScene();
        ASSERT_TRUE(shown.count() == 1 || shown.wait(kWaitMs));
    }

    QTemporaryDir home;
    QProcess trayHost;
    std::unique_ptr<JotwardenApp> scene;
    int quitCalls = 0;
};

// The widget that stands for the icon inside the tray host.
QWidget* trayIconWidget()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (QLatin1String(w->metaObject()->className()) == QLatin1String("QSystemTrayIconSys"))
            return w;
    return nullptr;
}

TEST_F(TrayTest, WithATrayHostTheIconShowsAndAClickTogglesThePanel)
{
    ASSERT_TRUE(startTrayHost()) << "trayer did not take the tray";
    showScene();
    QSystemTrayIcon* icon = scene->trayIcon();
    ASSERT_NE(icon, nullptr);
    EXPECT_TRUE(icon->isVisible());
    EXPECT_EQ(icon->toolTip(), QStringLiteral("Jot Warden"));
    EXPECT_FALSE(icon->icon().isNull());

    QWidget* panel = scene->panel();
    ASSERT_NE(qobject_cast<SettingsView*>(panel), nullptr);
    EXPECT_FALSE(panel->isVisible());

    QWidget* embedded = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (embedded = trayIconWidget()) && embedded->isVisible(); }, kWaitMs));
    QTest::mouseClick(embedded, Qt::LeftButton, {}, embedded->rect().center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel->isVisible(); }, kWaitMs));
    EXPECT_EQ(panel->size(), QSize(480, 440));
    // Next to the icon: on the icon's screen, near it.
    const QRect iconRect = icon->geometry();
    if (iconRect.isValid()) {
        const QRect frame = panel->geometry();
        EXPECT_LE(std::abs(frame.center().x() - iconRect.center().x()), 480) << "panel far from the icon";
    }

    // A click on the icon while the panel is open closes it, and it stays closed.
    QTest::mouseClick(embedded, Qt::LeftButton, {}, embedded->rect().center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !panel->isVisible(); }, kWaitMs));
    QCoreApplication::processEvents();
    EXPECT_FALSE(panel->isVisible());

    scene->togglePanel();
    EXPECT_TRUE(panel->isVisible());
    scene->togglePanel();
    EXPECT_FALSE(panel->isVisible());

    // Another launch's request brings the panel up, and a repeated one leaves it up.
    scene->showPanel();
    EXPECT_TRUE(panel->isVisible());
    scene->showPanel();
    ASSERT_TRUE(panel->isVisible());

    // Closing the panel only puts it away: the icon still reaches it.
    EXPECT_TRUE(panel->close());
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(quitCalls, 0);
}

TEST_F(TrayTest, WithoutATrayHostThePanelOpensAsAWindow)
{
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable()) << "a tray host runs on this display";
    showScene();
    EXPECT_EQ(scene->trayIcon(), nullptr);
    QWidget* panel = scene->panel();
    ASSERT_NE(qobject_cast<SettingsView*>(panel), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel->isVisible(); }, kWaitMs));
    EXPECT_EQ(panel->windowTitle(), QStringLiteral("Jot Warden"));
    EXPECT_EQ(panel->size(), QSize(480, 440));
    EXPECT_TRUE(panel->isWindow());

    // Another launch's request raises the window it already is.
    panel->hide();
    scene->showPanel();
    EXPECT_TRUE(panel->isVisible());

    // Without an icon nothing could bring the window back, so closing it ends the program, the
    // way the quit button does.
    EXPECT_EQ(quitCalls, 0);
    EXPECT_TRUE(panel->close());
    EXPECT_EQ(quitCalls, 1);
}

} // namespace
} // namespace jw

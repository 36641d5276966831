#include "NotchDrawerKit/FrameAnimator.h"
#include "NotchDrawerKit/NotchContentView.h"
#include "NotchDrawerKit/NotchDrawer.h"
#include "NotchDrawerKit/NotchDrawerPanel.h"
#include "NotchDrawerKit/NotchGeometry.h"
#include "platform/screen/ScreenGeometry.h"

#include <QCoroTask>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include <memory>

namespace jw {

// The headless wrapper's X server has one 1920 x 1080 screen and no desktop panels.
TEST(NotchPanelOnX11, MeasuresTheRealScreen)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    QScreen* screen = QGuiApplication::primaryScreen();
    const ScreenGeometry g = ScreenGeometry::of(screen);
    EXPECT_EQ(g.frame, QRectF(0, 0, 1920, 1080));
    EXPECT_EQ(g.toQt(g.frame), QRectF(screen->geometry()));
    EXPECT_FALSE(g.auxiliaryTopLeftArea || g.auxiliaryTopRightArea) << "Linux screens report no camera housing";
    const double menubar = NotchGeometry::menubarHeight(g);
    EXPECT_DOUBLE_EQ(menubar, double(screen->availableGeometry().top() - screen->geometry().top()));
    EXPECT_EQ(NotchGeometry::notchFrame(g), QRectF(810, 1080 - menubar, 300, menubar));
    EXPECT_EQ(NotchGeometry::panelFrame(g), QRectF(480, 540, 960, 540));
    EXPECT_EQ(g.toQt(NotchGeometry::panelFrame(g)), QRectF(480, 0, 960, 540));
    EXPECT_EQ(NotchGeometry::resolvedStyle(NotchDrawerStyle::automatic(), g), NotchDrawerStyle::standardFloating());
}

TEST(NotchPanelOnX11, PanelIsShapedToWhatItPaintsAndTakesNoFocus)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    auto d = std::make_unique<NotchDrawer>(NotchDrawerHoverBehavior::hapticOnHover, NotchDrawerStyle::automatic(), [] {
        auto* l = new QLabel(QStringLiteral("Pushed #42"));
        l->setFixedSize(200, 60);
        return l;
    });
    QCoro::waitFor(d->expand(screen));
    NotchDrawerPanel* panel = d->panel();
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel));
    EXPECT_EQ(panel->geometry(), QRect(480, 0, 960, 540));
    auto* root = qobject_cast<NotchContentView*>(panel->contentView());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !root->animator()->isRunning(); }, 5000));

    // The window's shape is the painted card (with its shadow), not the quarter screen.
    const QRegion shape = panel->mask();
    EXPECT_EQ(shape, panel->inputRegion());
    EXPECT_FALSE(shape.isEmpty());
    EXPECT_TRUE(shape.contains(QPoint(480, 80)));
    EXPECT_FALSE(shape.contains(QPoint(10, 500)));
    EXPECT_FALSE(shape.contains(QPoint(950, 10)));
    EXPECT_LT(shape.boundingRect().width() * shape.boundingRect().height(), panel->width() * panel->height() / 4);
    EXPECT_NE(QGuiApplication::focusWindow(), panel->windowHandle());
    EXPECT_TRUE(panel->windowHandle()->flags().testFlag(Qt::WindowDoesNotAcceptFocus));

    QCoro::waitFor(d->hide());
    EXPECT_EQ(d->panel(), nullptr);
}

} // namespace jw

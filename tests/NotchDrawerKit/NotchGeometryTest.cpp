#include "NotchDrawerKit/NotchGeometry.h"

#include <gtest/gtest.h>

namespace jw {
namespace {

ScreenGeometry notchedLaptop()
{
    ScreenGeometry s;
    s.frame = QRectF(0, 0, 1512, 982);
    s.visibleFrame = QRectF(0, 0, 1512, 982 - 37);
    s.safeAreaInsets.top = 32;
    s.auxiliaryTopLeftArea = QRectF(0, 950, 660, 32);
    s.auxiliaryTopRightArea = QRectF(852, 950, 660, 32);
    return s;
}

ScreenGeometry plainDisplay(double x = 0)
{
    ScreenGeometry s;
    s.frame = QRectF(x, 0, 1920, 1080);
    s.visibleFrame = QRectF(x, 0, 1920, 1055);
    return s;
}

} // namespace

TEST(NotchGeometry, NotchedScreenMeasuresTheHousing)
{
    const ScreenGeometry s = notchedLaptop();
    EXPECT_TRUE(NotchGeometry::hasCameraHousing(s));
    EXPECT_EQ(NotchGeometry::notchFrame(s), QRectF(660, 950, 192, 32));
    EXPECT_EQ(NotchGeometry::notchFrame(s).size(), QSizeF(192, 32));
    EXPECT_EQ(NotchGeometry::panelFrame(s), QRectF(378, 491, 756, 491));
    EXPECT_EQ(NotchGeometry::resolvedStyle(NotchDrawerStyle::automatic(), s), NotchDrawerStyle::standardNotch());
}

TEST(NotchGeometry, ScreenWithoutHousingGetsAMenuBarHighStrip)
{
    const ScreenGeometry s = plainDisplay();
    EXPECT_FALSE(NotchGeometry::hasCameraHousing(s));
    EXPECT_DOUBLE_EQ(NotchGeometry::menubarHeight(s), 25);
    EXPECT_EQ(NotchGeometry::notchFrame(s), QRectF(810, 1055, 300, 25));
    EXPECT_EQ(NotchGeometry::resolvedStyle(NotchDrawerStyle::automatic(), s), NotchDrawerStyle::floating(20));
    EXPECT_EQ(NotchGeometry::panelFrame(s), QRectF(480, 540, 960, 540));
}

TEST(NotchGeometry, FramesFollowAScreenWhoseOriginIsNotZero)
{
    const ScreenGeometry s = plainDisplay(1920);
    EXPECT_EQ(NotchGeometry::notchFrame(s), QRectF(1920 + 810, 1055, 300, 25));
    EXPECT_EQ(NotchGeometry::panelFrame(s), QRectF(1920 + 480, 540, 960, 540));

    ScreenGeometry raised = notchedLaptop();
    raised.frame.translate(-1512, 300);
    raised.visibleFrame.translate(-1512, 300);
    EXPECT_EQ(NotchGeometry::notchFrame(raised), QRectF(660 - 1512, 1250, 192, 32));
    EXPECT_EQ(NotchGeometry::panelFrame(raised), QRectF(378 - 1512, 791, 756, 491));
}

TEST(NotchGeometry, OneAuxiliaryAreaAloneIsNoNotch)
{
    for (bool keepLeft : {true, false}) {
        ScreenGeometry s = notchedLaptop();
        (keepLeft ? s.auxiliaryTopRightArea : s.auxiliaryTopLeftArea).reset();
        EXPECT_FALSE(NotchGeometry::hasCameraHousing(s));
        EXPECT_EQ(NotchGeometry::notchFrame(s), QRectF(606, 945, 300, 37));
        EXPECT_EQ(NotchGeometry::resolvedStyle(NotchDrawerStyle::automatic(), s), NotchDrawerStyle::standardFloating());
    }
}

TEST(NotchGeometry, OnlyAutomaticLooksAtTheScreen)
{
    const NotchDrawerStyle custom = NotchDrawerStyle::notch(10, 12);
    EXPECT_EQ(NotchGeometry::resolvedStyle(custom, plainDisplay()), custom);
    EXPECT_EQ(NotchGeometry::resolvedStyle(NotchDrawerStyle::floating(8), notchedLaptop()),
              NotchDrawerStyle::floating(8));
}

TEST(ScreenGeometry, ConvertsBetweenYUpAndQtTopLeftInOnePlace)
{
    ScreenGeometry s = plainDisplay();
    // A primary 1080 high: Qt's y = 0 is y-up 1080.
    s.qtOriginY = 1080;
    const QRectF panel = NotchGeometry::panelFrame(s);
    EXPECT_EQ(s.toQt(panel), QRectF(480, 0, 960, 540));
    EXPECT_EQ(s.fromQt(s.toQt(panel)), panel);
    EXPECT_EQ(s.toQt(NotchGeometry::notchFrame(s)), QRectF(810, 0, 300, 25));
    // A second screen below the primary in Qt (its top at Qt y = 1080) sits at negative y-up.
    EXPECT_EQ(s.fromQt(QRectF(0, 1080, 1280, 720)), QRectF(0, -720, 1280, 720));
}

} // namespace jw

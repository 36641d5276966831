#include "platform/haptics/HapticFeedback.h"
#include "platform/screen/ScreenChangeObserver.h"
#include "platform/screen/ScreenGeometry.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace jw {

TEST(ScreenGeometry, MadeFromAQtScreenInYUpPoints)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const ScreenGeometry g = ScreenGeometry::of(screen);
    const QRect qt = screen->geometry();
    // The primary screen sits at the y-up origin, its visible frame inside its frame.
    EXPECT_EQ(g.frame, QRectF(qt.x(), 0, qt.width(), qt.height()));
    EXPECT_TRUE(g.frame.contains(g.visibleFrame));
    EXPECT_EQ(g.toQt(g.frame), QRectF(qt));
    EXPECT_EQ(g.toQt(g.visibleFrame), QRectF(screen->availableGeometry()));
    EXPECT_EQ(g.safeAreaInsets, EdgeInsets{});
    EXPECT_FALSE(g.auxiliaryTopLeftArea.has_value());
    EXPECT_FALSE(g.auxiliaryTopRightArea.has_value());
}

TEST(ScreenGeometry, OverrideStandsInForTheRealScreenUntilRemoved)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    ScreenGeometry fake;
    fake.frame = QRectF(0, 0, 1512, 982);
    fake.auxiliaryTopLeftArea = QRectF(0, 950, 660, 32);
    ScreenGeometry::setOverride([fake](const QScreen*) { return std::optional(fake); });
    EXPECT_EQ(ScreenGeometry::of(screen), fake);
    ScreenGeometry::setOverride(nullptr);
    EXPECT_NE(ScreenGeometry::of(screen), fake);
}

TEST(ScreenChangeObserver, FoldsOneChangesBurstOfQtSignalsIntoOneAnnouncement)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    const int before = ScreenChangeObserver::liveCount();
    {
        ScreenChangeObserver observer;
        EXPECT_EQ(ScreenChangeObserver::liveCount(), before + 1);
        QSignalSpy spy(&observer, &ScreenChangeObserver::screenParametersChanged);
        // What Qt sends for one change of resolution.
        Q_EMIT screen->geometryChanged(screen->geometry());
        Q_EMIT screen->availableGeometryChanged(screen->availableGeometry());
        EXPECT_EQ(spy.count(), 0) << "announced after the current event, not inside Qt's";
        ASSERT_TRUE(QTest::qWaitFor([&] { return spy.count() == 1; }, 5000));
        Q_EMIT qApp->primaryScreenChanged(screen);
        ASSERT_TRUE(QTest::qWaitFor([&] { return spy.count() == 2; }, 5000));
    }
    EXPECT_EQ(ScreenChangeObserver::liveCount(), before);
}

TEST(HapticFeedbackManager, DefaultPerformerIsSilentAndReplaceable)
{
    struct Counter : HapticFeedbackPerformer
    {
        int calls = 0;
        void perform(Pattern, PerformanceTime) override { ++calls; }
    };
    HapticFeedbackManager::defaultPerformer().perform(HapticFeedbackPerformer::Pattern::alignment,
                                                      HapticFeedbackPerformer::PerformanceTime::defaultTime);
    auto counter = std::make_shared<Counter>();
    HapticFeedbackManager::setDefaultPerformer(counter);
    HapticFeedbackManager::defaultPerformer().perform(HapticFeedbackPerformer::Pattern::alignment,
                                                      HapticFeedbackPerformer::PerformanceTime::defaultTime);
    EXPECT_EQ(counter->calls, 1);
    HapticFeedbackManager::setDefaultPerformer(nullptr);
    HapticFeedbackManager::defaultPerformer().perform(HapticFeedbackPerformer::Pattern::alignment,
                                                      HapticFeedbackPerformer::PerformanceTime::defaultTime);
    EXPECT_EQ(counter->calls, 1);
}

} // namespace jw

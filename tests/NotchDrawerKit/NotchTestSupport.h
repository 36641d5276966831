#pragma once

#include "NotchDrawerKit/NotchDrawer.h"
#include "NotchDrawerKit/NotchDrawerPanel.h"
#include "platform/haptics/HapticFeedback.h"
#include "platform/screen/ScreenGeometry.h"
#include "tests/support/ManualClock.h"

#include <QApplication>
#include <QCoroTask>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTest>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace jw::test {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Completion of one awaited operation.
struct CallResult
{
    bool done = false;
};

inline QCoro::Task<> track(QCoro::Task<> task, std::shared_ptr<CallResult> result)
{
    co_await std::move(task);
    result->done = true;
}

// Every change of state with its time and the spring it animates with. Times are read from
// the manual clock when one is given, else from the steady clock.
struct Timeline
{
    struct Entry
    {
        NotchDrawerState state;
        double at;
        Spring spring;
    };
    Clock::time_point start = Clock::now();
    std::function<double()> now;
    std::vector<Entry> entries;

    explicit Timeline(NotchDrawer& drawer, const ManualClock* clock = nullptr)
    {
        if (clock)
            now = [clock] {
                return clock->now();
            };
        else
            now = [start = start] {
                return secondsSince(start);
            };
        QObject::connect(&drawer, &NotchDrawer::stateChanged, &drawer, [this, &drawer](NotchDrawerState s) {
            entries.push_back({s, now(), drawer.stateAnimation()});
        });
    }
    std::vector<NotchDrawerState> states() const
    {
        std::vector<NotchDrawerState> out;
        for (const auto& e : entries)
            out.push_back(e.state);
        return out;
    }
};

// Runs an operation and keeps its task and completion together.
struct Call
{
    std::shared_ptr<CallResult> result = std::make_shared<CallResult>();
    QCoro::Task<> task;

    explicit Call(QCoro::Task<> operation)
        : task(track(std::move(operation), result))
    {
    }
    bool done() const { return result->done; }
    bool wait(int ms = 5000) const
    {
        auto r = result;
        return QTest::qWaitFor([r] { return r->done; }, ms);
    }
};

class CountingHaptics : public HapticFeedbackPerformer
{
public:
    int count = 0;
    void perform(Pattern pattern, PerformanceTime) override
    {
        if (pattern == Pattern::alignment)
            ++count;
    }
};

// Installs a counting performer for the life of the fixture object.
struct HapticsScope
{
    std::shared_ptr<CountingHaptics> haptics = std::make_shared<CountingHaptics>();
    HapticsScope() { HapticFeedbackManager::setDefaultPerformer(haptics); }
    ~HapticsScope() { HapticFeedbackManager::setDefaultPerformer(nullptr); }
};

// Gives every screen the geometry of another machine's screen while in scope.
struct ScreenScope
{
    explicit ScreenScope(ScreenGeometry geometry)
    {
        ScreenGeometry::setOverride([geometry](const QScreen*) { return std::optional<ScreenGeometry>(geometry); });
    }
    ~ScreenScope() { ScreenGeometry::setOverride(nullptr); }
};

// A notched laptop-like screen the size of the offscreen platform's screen (800 x 600).
inline ScreenGeometry notchedScreen()
{
    ScreenGeometry s;
    s.frame = QRectF(0, 0, 800, 600);
    s.visibleFrame = QRectF(0, 0, 800, 600 - 37);
    s.safeAreaInsets.top = 32;
    s.auxiliaryTopLeftArea = QRectF(0, 568, 300, 32);
    s.auxiliaryTopRightArea = QRectF(500, 568, 300, 32);
    return s;
}

// A screen without a housing whose menu bar is 24 points high.
inline ScreenGeometry plainScreen()
{
    ScreenGeometry s;
    s.frame = QRectF(0, 0, 800, 600);
    s.visibleFrame = QRectF(0, 0, 800, 576);
    return s;
}

inline QScreen* screen()
{
    return QGuiApplication::primaryScreen();
}

inline int panelCount()
{
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<NotchDrawerPanel*>(w))
            ++n;
    return n;
}

inline QLabel* label(const QString& text)
{
    auto* l = new QLabel(text);
    l->setStyleSheet(QStringLiteral("font-size: 13px;"));
    return l;
}

} // namespace jw::test

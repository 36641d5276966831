#pragma once

#include "NotchDrawerKit/NotchDrawer.h"
#include "app/IslandState.h"
#include "app/views/DynamicIslandController.h"
#include "app/views/NotchViewModel.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

namespace jw::test {

using IslandClock = std::chrono::steady_clock;

inline double since(IslandClock::time_point start)
{
    return std::chrono::duration<double>(IslandClock::now() - start).count();
}

inline IslandState confirmed(qint64 number = 42,
                             std::optional<QString> projectName = std::nullopt,
                             std::optional<QString> projectURL = std::nullopt,
                             bool projectFailed = false,
                             bool isV2 = false)
{
    return IslandState::confirmed(QStringLiteral("Fix the parser"),
                                  QStringLiteral("octo/demo"),
                                  number,
                                  QStringLiteral("https://github.com/octo/demo/issues/%1").arg(number),
                                  projectName,
                                  projectURL,
                                  projectFailed,
                                  isV2);
}

// Every panel object the controller makes and lets go of, with the time of each.
struct NotchLog
{
    struct Event
    {
        NotchDrawer* notch;
        double at;
    };
    IslandClock::time_point start = IslandClock::now();
    std::vector<Event> created;
    std::vector<Event> released;

    explicit NotchLog(DynamicIslandController& controller)
    {
        QObject::connect(&controller, &DynamicIslandController::notchCreated, &controller, [this](NotchDrawer* n) {
            created.push_back({n, since(start)});
        });
        QObject::connect(&controller, &DynamicIslandController::notchReleased, &controller, [this](NotchDrawer* n) {
            released.push_back({n, since(start)});
        });
    }
    bool wasReleased(const NotchDrawer* n) const
    {
        for (const auto& e : released)
            if (e.notch == n)
                return true;
        return false;
    }
};

// One spy per property signal of the view model.
struct ViewModelSpies
{
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    explicit ViewModelSpies(NotchViewModel* vm)
    {
        spies.push_back(std::make_unique<QSignalSpy>(vm, &NotchViewModel::iconChanged));
        spies.push_back(std::make_unique<QSignalSpy>(vm, &NotchViewModel::iconColorChanged));
        spies.push_back(std::make_unique<QSignalSpy>(vm, &NotchViewModel::iconAnimationChanged));
        spies.push_back(std::make_unique<QSignalSpy>(vm, &NotchViewModel::titleChanged));
        spies.push_back(std::make_unique<QSignalSpy>(vm, &NotchViewModel::subtitleChanged));
        spies.push_back(std::make_unique<QSignalSpy>(vm, &NotchViewModel::issueURLChanged));
        spies.push_back(std::make_unique<QSignalSpy>(vm, &NotchViewModel::projectNameChanged));
        spies.push_back(std::make_unique<QSignalSpy>(vm, &NotchViewModel::projectURLChanged));
        spies.push_back(std::make_unique<QSignalSpy>(vm, &NotchViewModel::projectFailedChanged));
        spies.push_back(std::make_unique<QSignalSpy>(vm, &NotchViewModel::isV2ProjectChanged));
    }
    int total() const
    {
        int n = 0;
        for (const auto& s : spies)
            n += int(s->count());
        return n;
    }
};

// Lets queued tasks run without waiting for anything in particular.
inline void drainEvents()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace jw::test

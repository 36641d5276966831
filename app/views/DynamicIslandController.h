#pragma once

#include "NotchDrawerKit/NotchDrawer.h"
#include "app/IslandPresenter.h"
#include "app/IslandState.h"
#include "platform/Cancellation.h"

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>
#include <optional>

class QScreen;

namespace jw {

class NotchViewModel;

// Turns each island state into the view model's values, brings a notch panel object up for
// each appearance of the island, and takes it down on request or after a fixed delay.
//
// Every task acts only on the panel object it started with: an object that a hide has been
// decided for is hidden and released by that hide alone, and `notch()` is cleared only while
// it still is that object, so a new appearance that arrives during a hide is neither hidden
// nor dropped by the older task.
class DynamicIslandController : public QObject, public IslandPresenter
{
    Q_OBJECT
public:
    static constexpr double kConfirmedDismissDelay = 3.0;
    static constexpr double kErrorDismissDelay = 4.0;

    using ScreenProvider = std::function<QScreen*()>;

    explicit DynamicIslandController(QObject* parent = nullptr);
    ~DynamicIslandController() override;

    // Returns before any task it starts has run.
    void show(const IslandState& state) override;

    NotchViewModel* viewModel() const { return m_viewModel; }
    // The panel object of the current appearance, null while there is none.
    NotchDrawer* notch() const { return m_notch.data(); }
    // Brought up and not yet taken down.
    bool isVisible() const override { return m_isVisible; }
    // An automatic hide is sleeping and has not been cancelled.
    bool isCountingDown() const { return m_dismissTask && !m_dismissTask->isCancelled(); }
    // Panel objects this controller still holds (the current one and any being hidden).
    int heldNotchCount() const;

    // Where the island expands; by default the primary screen, which may be null. Test seam.
    void setScreenProvider(ScreenProvider provider);

Q_SIGNALS:
    void notchCreated(jw::NotchDrawer* notch);
    // The controller let go of the object; it is deleted at the next turn of the event loop.
    void notchReleased(jw::NotchDrawer* notch);
    void isVisibleChanged(bool isVisible);

private:
    void fillViewModel(const IslandState& state);
    void setIsVisible(bool visible);
    NotchDrawer* makeNotch();
    // Marks `target` as being hidden; false when there is nothing (more) to hide.
    bool beginHide(NotchDrawer* target);
    // Marks `target` and starts the task that hides and releases it.
    void startHide(QPointer<NotchDrawer> target);
    void finishHide(NotchDrawer* target);
    void release(NotchDrawer* target);

    static QCoro::Task<> expandTask(QPointer<NotchDrawer> target, ScreenProvider screen);
    static QCoro::Task<> hideTask(QPointer<DynamicIslandController> self, QPointer<NotchDrawer> target);
    static QCoro::Task<> dismissalTask(QPointer<DynamicIslandController> self, double delay, CancellationToken token);

    QPointer<NotchDrawer> m_notch;
    NotchViewModel* m_viewModel;
    std::optional<CancellationToken> m_dismissTask;
    bool m_isVisible = false;
    // Objects a hide has been decided for and has not yet finished; they stay ours until then.
    QList<QPointer<NotchDrawer>> m_hiding;
    ScreenProvider m_screenProvider;
};

} // namespace jw

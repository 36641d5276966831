#include "platform/Sleep.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <coroutine>
#include <vector>

namespace jw {
namespace {

// One suspended sleeper and the timer that wakes it.
class PendingSleep : public QTimer
{
public:
    PendingSleep(std::coroutine_handle<> handle, bool* cancelled)
        : m_handle(handle)
        , m_cancelled(cancelled)
    {
    }

    void finish(bool wasCancelled, bool deleteNow);

private:
    std::coroutine_handle<> m_handle;
    bool* m_cancelled;
};

// Sleeps still pending when the application object goes away end then, as cancelled, so that
// the tasks waiting on them run to their end instead of staying suspended (and allocated) for
// ever; sleeps begun after that end at once. Everything here lives on the GUI thread, as the
// timers do.
std::vector<PendingSleep*> gPending;
QPointer<QCoreApplication> gWatchedApplication;
bool gApplicationEnded = false;

void PendingSleep::finish(bool wasCancelled, bool deleteNow)
{
    const auto it = std::find(gPending.begin(), gPending.end(), this);
    if (it == gPending.end())
        return;
    gPending.erase(it);
    *m_cancelled = wasCancelled;
    const std::coroutine_handle<> handle = m_handle;
    stop();
    // From its own timeout the timer cannot be deleted at once; once the application has ended,
    // a later deletion would never come.
    if (deleteNow || gApplicationEnded)
        delete this;
    else
        deleteLater();
    handle.resume();
}

void endPendingSleeps()
{
    gApplicationEnded = true;
    while (!gPending.empty())
        gPending.front()->finish(true, true);
}

// Whether sleeps can still wait; watches the current application's end the first time asked.
bool canWait()
{
    QCoreApplication* application = QCoreApplication::instance();
    if (!application)
        return false;
    if (gWatchedApplication != application) {
        gWatchedApplication = application;
        gApplicationEnded = false;
        // Post routines run first thing in the application's destructor, while every object of
        // the program still exists for the resumed tasks to look at.
        qAddPostRoutine(endPendingSleeps);
    }
    return !gApplicationEnded;
}

struct SleepAwaiter
{
    std::chrono::milliseconds duration;
    detail::CancellationState* cancellation = nullptr;
    bool cancelled = false;

    bool await_ready()
    {
        cancelled = !canWait();
        return cancelled;
    }

    void await_suspend(std::coroutine_handle<> handle)
    {
        auto* timer = new PendingSleep(handle, &cancelled);
        gPending.push_back(timer);
        timer->setTimerType(Qt::PreciseTimer);
        timer->setSingleShot(true);
        QObject::connect(timer, &QTimer::timeout, timer, [timer] { timer->finish(false, false); });
        if (cancellation)
            QObject::connect(cancellation, &detail::CancellationState::cancelRequested, timer, [timer] {
                timer->finish(true, false);
            });
        timer->start(duration);
    }

    bool await_resume() const noexcept { return !cancelled; }
};

Sleeper& sleepOverride()
{
    static Sleeper sleeper;
    return sleeper;
}

} // namespace

void setSleepOverride(Sleeper sleeper)
{
    sleepOverride() = std::move(sleeper);
}

QCoro::Task<bool> sleepFor(std::chrono::nanoseconds duration, std::optional<CancellationToken> token)
{
    if (token && token->isCancelled())
        co_return false;
    // A copy: the override may be replaced while this sleep waits on it.
    if (const Sleeper sleeper = sleepOverride())
        co_return co_await sleeper(duration, token);
    // Round up so that a sleep never ends before its duration.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(std::max(duration, std::chrono::nanoseconds(0)));
    // Keep the token alive while suspended.
    const std::optional<CancellationToken> keep = token;
    co_return co_await SleepAwaiter{ms, keep ? keep->state() : nullptr};
}

} // namespace jw

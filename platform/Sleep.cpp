#include "platform/Sleep.h"

#include <QTimer>

#include <coroutine>
#include <memory>

namespace jw {
namespace {

struct SleepAwaiter
{
    std::chrono::milliseconds duration;
    detail::CancellationState* cancellation = nullptr;
    bool cancelled = false;

    bool await_ready() const noexcept { return false; }

    void await_suspend(std::coroutine_handle<> handle)
    {
        auto* timer = new QTimer;
        timer->setTimerType(Qt::PreciseTimer);
        timer->setSingleShot(true);
        auto done = std::make_shared<bool>(false);
        auto finish = [this, timer, handle, done](bool wasCancelled) {
            if (*done)
                return;
            *done = true;
            cancelled = wasCancelled;
            timer->stop();
            timer->deleteLater();
            handle.resume();
        };
        QObject::connect(timer, &QTimer::timeout, timer, [finish] { finish(false); });
        if (cancellation)
            QObject::connect(cancellation, &detail::CancellationState::cancelRequested, timer, [finish] {
                finish(true);
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

#include "tests/support/ManualClock.h"

#include "platform/Sleep.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <coroutine>

namespace jw::test {
namespace {

ManualClock* g_installed = nullptr;

// Queued work may queue more (a task that starts a task); a few passes reach the end of such
// chains in this code base.
void runPostedWork()
{
    for (int pass = 0; pass < 8; ++pass)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

std::chrono::nanoseconds toDuration(double seconds)
{
    return std::chrono::nanoseconds(std::llround(seconds * 1e9));
}

} // namespace

struct ManualClock::Waiter
{
    std::chrono::nanoseconds deadline;
    std::uint64_t order = 0;
    std::coroutine_handle<> handle;
    bool cancelled = false;
    QMetaObject::Connection onCancel;
};

ManualClock::ManualClock()
{
    Q_ASSERT(!g_installed);
    g_installed = this;
    setSleepOverride([this](std::chrono::nanoseconds duration, std::optional<CancellationToken> token) {
        return sleep(duration, std::move(token));
    });
}

ManualClock::~ManualClock()
{
    setSleepOverride(nullptr);
    g_installed = nullptr;
    while (!m_waiters.empty()) {
        // A copy: waking takes the waiter out of the list.
        const std::shared_ptr<Waiter> due = next(std::chrono::nanoseconds::max());
        wake(due, false);
    }
}

double ManualClock::now() const
{
    return std::chrono::duration<double>(m_now).count();
}

std::vector<double> ManualClock::pending() const
{
    std::vector<double> out;
    for (const auto& w : m_waiters)
        out.push_back(std::chrono::duration<double>(w->deadline - m_now).count());
    std::sort(out.begin(), out.end());
    return out;
}

std::shared_ptr<ManualClock::Waiter> ManualClock::next(std::chrono::nanoseconds until) const
{
    std::shared_ptr<Waiter> best;
    for (const auto& w : m_waiters) {
        if (w->deadline > until)
            continue;
        if (!best || std::pair(w->deadline, w->order) < std::pair(best->deadline, best->order))
            best = w;
    }
    return best;
}

void ManualClock::advance(double seconds)
{
    const auto target = m_now + toDuration(std::max(0.0, seconds));
    for (;;) {
        runPostedWork();
        const auto due = next(target);
        if (!due)
            break;
        m_now = std::max(m_now, due->deadline);
        wake(due, false);
    }
    m_now = target;
}

void ManualClock::wake(const std::shared_ptr<Waiter>& waiter, bool cancelled)
{
    const auto it = std::find(m_waiters.begin(), m_waiters.end(), waiter);
    if (it == m_waiters.end())
        return;
    m_waiters.erase(it);
    QObject::disconnect(waiter->onCancel);
    waiter->cancelled = cancelled;
    waiter->handle.resume();
}

QCoro::Task<bool> ManualClock::sleep(std::chrono::nanoseconds duration, std::optional<CancellationToken> token)
{
    struct Awaiter
    {
        ManualClock* clock;
        std::shared_ptr<Waiter> waiter;
        std::optional<CancellationToken> token;

        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle)
        {
            waiter->handle = handle;
            clock->m_waiters.push_back(waiter);
            if (token) {
                // Cancelling wakes the sleeper at once, as a timer-backed sleep does.
                ManualClock* c = clock;
                std::weak_ptr<Waiter> weak = waiter;
                waiter->onCancel =
                    QObject::connect(token->state(), &detail::CancellationState::cancelRequested, [c, weak] {
                        if (const auto w = weak.lock())
                            c->wake(w, true);
                    });
            }
        }
        bool await_resume() const noexcept { return !waiter->cancelled; }
    };

    auto waiter = std::make_shared<Waiter>();
    waiter->deadline = m_now + std::max(duration, std::chrono::nanoseconds(0));
    waiter->order = m_order++;
    // A named awaiter: g++ 12 may destroy a temporary one twice. It also keeps the token's
    // state alive while the sleep waits on it.
    Awaiter awaiter{this, waiter, token};
    const bool ended = co_await awaiter;
    co_return ended;
}

} // namespace jw::test

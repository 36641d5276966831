#include "NotchDrawerKit/FrameAnimator.h"

#include <algorithm>
#include <atomic>

namespace jw {
namespace {
std::atomic<int> g_live{0};
constexpr int kFrameMs = 16;
} // namespace

FrameAnimator::FrameAnimator(QObject* parent)
    : QObject(parent)
{
    ++g_live;
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kFrameMs);
    connect(&m_timer, &QTimer::timeout, this, &FrameAnimator::tick);
}

FrameAnimator::~FrameAnimator()
{
    --g_live;
}

int FrameAnimator::liveCount()
{
    return g_live;
}

void FrameAnimator::addClient(QObject* context, Step step)
{
    m_clients.push_back({context, std::move(step)});
    connect(context, &QObject::destroyed, this, [this, context] {
        std::erase_if(m_clients, [context](const Client& c) { return c.context == context; });
    });
}

void FrameAnimator::wake()
{
    if (!m_timer.isActive())
        m_timer.start();
}

void FrameAnimator::tick()
{
    const auto now = Clock::now();
    bool moving = false;
    // A step may add clients; iterate over a copy.
    const auto clients = m_clients;
    for (const auto& client : clients)
        moving = client.step(now) || moving;
    if (!moving)
        m_timer.stop();
}

} // namespace jw

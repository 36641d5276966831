#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <vector>

namespace jw {

// The one frame timer of a panel. Every client steps its animated values on each tick and
// says whether anything still moves; the timer stops as soon as nothing does.
class FrameAnimator : public QObject
{
    Q_OBJECT
public:
    using Clock = std::chrono::steady_clock;
    // Returns true while the client still has something moving.
    using Step = std::function<bool(Clock::time_point)>;

    explicit FrameAnimator(QObject* parent = nullptr);
    ~FrameAnimator() override;

    // The client is dropped when `context` is destroyed.
    void addClient(QObject* context, Step step);
    // Starts ticking if stopped; call after retargeting any value.
    void wake();
    bool isRunning() const { return m_timer.isActive(); }

    // Instances alive in the process, for leak checks.
    static int liveCount();

private:
    void tick();

    struct Client
    {
        QObject* context;
        Step step;
    };
    QTimer m_timer;
    std::vector<Client> m_clients;
};

} // namespace jw

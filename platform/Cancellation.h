#pragma once

#include <QObject>

#include <memory>

namespace jw {

namespace detail {
class CancellationState : public QObject
{
    Q_OBJECT
public:
    bool cancelled = false;
Q_SIGNALS:
    void cancelRequested();
};
} // namespace detail

// A cooperative cancellation flag shared by copies, used on the GUI thread. Cancelling wakes
// every sleep that waits on the token.
class CancellationToken
{
public:
    CancellationToken()
        : m_state(std::make_shared<detail::CancellationState>())
    {
    }

    void cancel() const
    {
        if (m_state->cancelled)
            return;
        m_state->cancelled = true;
        Q_EMIT m_state->cancelRequested();
    }
    bool isCancelled() const { return m_state->cancelled; }
    detail::CancellationState* state() const { return m_state.get(); }
    bool operator==(const CancellationToken& other) const { return m_state == other.m_state; }

private:
    std::shared_ptr<detail::CancellationState> m_state;
};

} // namespace jw

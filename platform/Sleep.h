#pragma once

#include "platform/Cancellation.h"

#include <QCoroTask>

#include <chrono>
#include <functional>
#include <optional>

namespace jw {

using SteadyClock = std::chrono::steady_clock;

// Sleeps on the GUI thread's event loop with a precise timer. Returns false when the token was
// cancelled before or during the sleep (the sleep then ends early), or when the application
// object went away first; true otherwise.
QCoro::Task<bool> sleepFor(std::chrono::nanoseconds duration, std::optional<CancellationToken> token = std::nullopt);

// Test seam: while set, every sleepFor waits on `sleeper` instead of a timer, so a test can move
// time by hand. An empty function gives the timers back.
using Sleeper = std::function<QCoro::Task<bool>(std::chrono::nanoseconds, std::optional<CancellationToken>)>;
void setSleepOverride(Sleeper sleeper);

inline std::chrono::nanoseconds seconds(double s)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(s));
}

} // namespace jw

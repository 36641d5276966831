#pragma once

#include "platform/MainQueue.h"

#include <QCoroTask>

#include <utility>

namespace jw {

// Starts a coroutine on the GUI thread after the current main-thread work returns, never inline.
// `start` is called then and must return a QCoro::Task; the task runs detached to its end.
// `start` must not itself be a coroutine lambda with captures (they would die with it): let it
// call a coroutine function that takes what it needs by value.
template <typename F>
void startTask(F&& start)
{
    runOnMain([start = std::forward<F>(start)]() mutable {
        auto task = start();
        (void)task;
    });
}

} // namespace jw

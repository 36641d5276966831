#pragma once

#include <QCoroTask>
#include <QTest>

#include <chrono>
#include <memory>
#include <optional>

namespace jw::test {

// Runs the event loop until `task` finishes (or the timeout passes) and returns its value.
// Nothing when the timeout passed. The state is shared, so a task that ends after a timeout
// writes into live memory.
template <typename T>
std::optional<T> awaitTask(QCoro::Task<T> task, std::chrono::milliseconds timeout = std::chrono::seconds(30))
{
    struct State
    {
        std::optional<T> value;
    };
    auto state = std::make_shared<State>();
    auto runner = [](QCoro::Task<T> inner, std::shared_ptr<State> s) -> QCoro::Task<> {
        s->value.emplace(co_await inner);
    };
    auto running = runner(std::move(task), state);
    (void)QTest::qWaitFor([&] { return state->value.has_value(); }, static_cast<int>(timeout.count()));
    return std::move(state->value);
}

} // namespace jw::test

#pragma once
// Runs a piece of work that might never return (a fault a test looks for)
// without holding up the suite.

#include <chrono>
#include <future>
#include <optional>
#include <thread>

namespace vesko::testing {

// Runs `work` on a thread of its own and waits at most `limit` for its result:
// nothing when it has not returned by then. Such a thread is left to itself.
template <typename Work>
auto withinTime(std::chrono::milliseconds limit, Work work) -> std::optional<decltype(work())> {
    std::promise<decltype(work())> promise;
    auto result = promise.get_future();
    std::thread([work = std::move(work), promise = std::move(promise)]() mutable { promise.set_value(work()); })
        .detach();
    if (result.wait_for(limit) != std::future_status::ready) return std::nullopt;
    return result.get();
}

}  // namespace vesko::testing

// Runs a call that may wait on a file system that no longer answers (a share
// whose host has gone) on a thread of its own, and waits for it only so long.
#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace kestrafin::app {

// Raised when a call has not ended within its time.
struct NoAnswer : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Returns what `call` returns, or raises what it raised, once it has ended.
// When it has not ended within `patience`, raises NoAnswer with
// `what_did_not_answer` and leaves the call to end on its own: it must own
// everything it uses, and what it returns then is dropped.
template <typename Result>
Result call_with_patience(std::function<Result()> call, std::chrono::milliseconds patience,
                          const std::string& what_did_not_answer) {
    auto outcome = std::make_shared<std::promise<Result>>();
    std::future<Result> result = outcome->get_future();
    std::thread([outcome, call = std::move(call)] {
        try {
            outcome->set_value(call());
        } catch (...) {
            outcome->set_exception(std::current_exception());
        }
    }).detach();
    if (result.wait_for(patience) != std::future_status::ready)
        throw NoAnswer(what_did_not_answer + " did not answer within " +
                       std::to_string(patience.count()) + " ms");
    return result.get();
}

}  // namespace kestrafin::app

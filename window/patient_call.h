// Runs a call that may wait on a file system that no longer answers (a share
// whose host has gone) on a thread of its own, and waits for it only so long.
#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/files.h"

namespace kestrafin::window {

// Raised when a call has not ended within its time.
struct NoAnswer : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Returns what `call` returns once it has ended; when it raised, raises a
// std::runtime_error with the text of what it raised. When it has not ended
// within `patience`, raises NoAnswer with `what_did_not_answer` and leaves the
// call to end on its own: it must own everything it uses, and what it returns
// then is dropped.
//
// Only texts cross between the threads, never an exception object: the call's
// thread may end after this one has let go of the result.
template <typename Result>
Result call_with_patience(std::function<Result()> call, std::chrono::milliseconds patience,
                          const std::string& what_did_not_answer) {
    struct Outcome {
        std::optional<Result> value;
        std::string failure;
    };
    auto outcome = std::make_shared<std::promise<Outcome>>();
    std::future<Outcome> result = outcome->get_future();
    std::thread([outcome, call = std::move(call)] {
        Outcome ended;
        try {
            ended.value.emplace(call());
        } catch (const std::exception& raised) {
            ended.failure = platform::failure_text(raised);
        } catch (...) {
            ended.failure = "An unknown error occurred.";
        }
        outcome->set_value(std::move(ended));
    }).detach();
    if (result.wait_for(patience) != std::future_status::ready)
        throw NoAnswer(what_did_not_answer + " did not answer within " +
                       std::to_string(patience.count()) + " ms");
    Outcome ended = result.get();
    if (!ended.value) throw std::runtime_error(ended.failure);
    return std::move(*ended.value);
}

}  // namespace kestrafin::window

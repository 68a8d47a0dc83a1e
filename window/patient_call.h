// Runs a call that may wait on a file system that no longer answers (a share
// whose host has gone) on a thread of its own, and waits for it only while
// it keeps getting answers.
#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/files.h"

namespace kestrafin::window {

// Raised when a call has had no answer for its time.
struct NoAnswer : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Returns what `call` returns once it has ended; when it raised, raises a
// std::runtime_error with the text of what it raised. `call` is handed a
// function to call after each answer it gets (a piece of a file read): the
// patience counts from the last one, so a slow file system that answers (a
// large file read while memory is short) is waited for. When `patience`
// passes without an answer, raises NoAnswer with `what_did_not_answer` and
// leaves the call to end on its own: it must own everything it uses, and
// what it returns then is dropped.
//
// Only texts cross between the threads, never an exception object: the call's
// thread may end after this one has let go of the result.
template <typename Result>
Result call_with_patience(std::function<Result(const std::function<void()>& answered)> call,
                          std::chrono::milliseconds patience,
                          const std::string& what_did_not_answer) {
    using Clock = std::chrono::steady_clock;
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        Clock::time_point last_answer = Clock::now();
        bool ended = false;
        std::optional<Result> value;
        std::string failure;
    };
    auto shared = std::make_shared<Shared>();
    std::thread([shared, call = std::move(call)] {
        const std::function<void()> answered = [&shared] {
            const std::lock_guard<std::mutex> lock(shared->mutex);
            shared->last_answer = Clock::now();
        };
        std::optional<Result> value;
        std::string failure;
        try {
            value.emplace(call(answered));
        } catch (const std::exception& raised) {
            failure = platform::failure_text(raised);
        } catch (...) {
            failure = "An unknown error occurred.";
        }
        const std::lock_guard<std::mutex> lock(shared->mutex);
        shared->value = std::move(value);
        shared->failure = std::move(failure);
        shared->ended = true;
        shared->changed.notify_all();
    }).detach();
    std::unique_lock<std::mutex> lock(shared->mutex);
    while (!shared->ended) {
        const Clock::time_point due = shared->last_answer + patience;
        if (Clock::now() >= due)
            throw NoAnswer(what_did_not_answer + " did not answer for " +
                           std::to_string(patience.count()) + " ms");
        shared->changed.wait_until(lock, due);
    }
    if (!shared->value) throw std::runtime_error(shared->failure);
    return std::move(*shared->value);
}

}  // namespace kestrafin::window

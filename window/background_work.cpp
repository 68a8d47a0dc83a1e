#include "window/background_work.h"

namespace kestrafin::window {

BackgroundWork::~BackgroundWork() {
    self_.reset();
    if (thread_.joinable()) {
        stop_ = true;
        thread_.join();
    }
}

void BackgroundWork::start(Work work, Finished finished, bool escape_stops) {
    if (running_) throw std::logic_error("work is already running");
    if (thread_.joinable()) thread_.join();
    stop_ = false;
    ended_ = false;
    error_ = nullptr;
    finished_ = std::move(finished);
    escape_stops_ = escape_stops;
    running_ = true;
    face_.set_activity(escape_stops ? Activity::Stoppable : Activity::Working);
    try {
        thread_ = std::thread(
            [this, work = std::move(work), self = std::weak_ptr<BackgroundWork*>(self_)] {
                try {
                    work(stop_);
                } catch (...) {
                    error_ = std::current_exception();
                }
                {
                    const std::lock_guard lock(ended_mutex_);
                    ended_ = true;
                }
                ended_signal_.notify_all();
                // Dropped unrun if this object is destroyed first; the destructor
                // joins this thread, so `face_` is still there.
                face_.post([self] {
                    if (const auto alive = self.lock()) (*alive)->complete();
                });
            });
    } catch (...) {
        running_ = false;
        face_.set_activity(Activity::Idle);
        throw;
    }
}

bool BackgroundWork::wait_for_end(std::chrono::milliseconds limit) {
    std::unique_lock lock(ended_mutex_);
    return ended_signal_.wait_for(lock, limit, [this] { return ended_; });
}

void BackgroundWork::complete() {
    if (!running_) return;
    thread_.join();
    const Finished finished = std::move(finished_);
    finished_ = nullptr;
    std::function<void()> then;
    if (finished) then = finished(error_);
    // The face drops the input that came while the results were put in place
    // before it takes input again.
    face_.set_activity(Activity::Idle);
    running_ = false;
    if (then) then();
}

}  // namespace kestrafin::window

// Runs one long piece of work (a search, a save, a reload) on a thread of its
// own while the window goes on painting: the face shows the hourglass and
// drops every click and key rather than keeping it for later, and the work's
// end is reported back on the window's thread through the face. Escape can
// ask the work to stop.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "window/window_face.h"

namespace kestrafin::window {

// Raised inside work that saw its stop flag; it ends the work without a report.
struct WorkInterrupted : std::runtime_error {
    WorkInterrupted() : std::runtime_error("the work was stopped") {}
};

class BackgroundWork {
  public:
    using Work = std::function<void(const std::atomic<bool>& stop)>;
    // Called on the window's thread once the work has ended, with what it
    // raised (or null), to put its results in place while input is still
    // dropped. What it returns, if anything, is called once the window takes
    // input again (to show a message, say).
    using Finished = std::function<std::function<void()>(std::exception_ptr error)>;

    explicit BackgroundWork(WindowFace& face) : face_(face) {}
    // Asks running work to stop and waits for its thread; the face is not
    // called again.
    ~BackgroundWork();
    BackgroundWork(const BackgroundWork&) = delete;
    BackgroundWork& operator=(const BackgroundWork&) = delete;

    // True from start() until the window takes input again.
    bool running() const { return running_; }

    // Starts `work` on a new thread and returns at once. When it has ended,
    // `finished` runs from the window's event loop. With `escape_stops` set,
    // escape_pressed() sets the stop flag that `work` is handed. Raises
    // std::logic_error when work is running already.
    void start(Work work, Finished finished, bool escape_stops);

    void request_stop() { stop_ = true; }
    // Stops work that Escape may stop; other work goes on.
    void escape_pressed() {
        if (running_ && escape_stops_) stop_ = true;
    }
    // The flag handed to the work; set by request_stop() and by Escape.
    const std::atomic<bool>& stop_flag() const { return stop_; }

    // Waits at most `limit` for the work's thread to end; true when it has.
    bool wait_for_end(std::chrono::milliseconds limit);

  private:
    void complete();

    WindowFace& face_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex ended_mutex_;
    std::condition_variable ended_signal_;
    bool ended_ = false;
    std::exception_ptr error_;
    Finished finished_;
    bool running_ = false;
    bool escape_stops_ = false;
    // Reports of an ended thread that the face runs after this object has gone
    // find it expired and do nothing.
    std::shared_ptr<BackgroundWork*> self_ = std::make_shared<BackgroundWork*>(this);
};

}  // namespace kestrafin::window

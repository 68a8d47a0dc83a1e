// Runs one long piece of work (a search, a save, a reload) on a thread of its
// own while the window goes on painting: the hourglass shows, every click and
// key is dropped rather than kept for later, and the work's end is reported
// back on the window's thread. Escape can ask the work to stop.
#pragma once

#include <QObject>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace kestrafin::app {

// Raised inside work that saw its stop flag; it ends the work without a report.
struct WorkInterrupted : std::runtime_error {
    WorkInterrupted() : std::runtime_error("the work was stopped") {}
};

class BackgroundWork : public QObject {
  public:
    using Work = std::function<void(const std::atomic<bool>& stop)>;
    // Called on the window's thread once the work has ended, with what it
    // raised (or null), to put its results in place while input is still
    // dropped. What it returns, if anything, is called once the window takes
    // input again (to show a message, say).
    using Finished = std::function<std::function<void()>(std::exception_ptr error)>;

    BackgroundWork() = default;
    // Asks running work to stop and waits for its thread.
    ~BackgroundWork() override;

    // True from start() until the window takes input again.
    bool running() const { return running_; }

    // Starts `work` on a new thread and returns at once. When it has ended,
    // `finished` runs from the window's event loop. With `escape_stops` set, the
    // Escape key sets the stop flag that `work` is handed. Raises
    // std::logic_error when work is running already.
    void start(Work work, Finished finished, bool escape_stops);

    void request_stop() { stop_ = true; }
    // The flag handed to the work; set by request_stop() and by Escape.
    const std::atomic<bool>& stop_flag() const { return stop_; }

    // Waits at most `limit` for the work's thread to end; true when it has.
    bool wait_for_end(std::chrono::milliseconds limit);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void complete();
    void release_window();

    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex ended_mutex_;
    std::condition_variable ended_signal_;
    bool ended_ = false;
    std::exception_ptr error_;
    Finished finished_;
    bool running_ = false;
    bool escape_stops_ = false;
};

}  // namespace kestrafin::app

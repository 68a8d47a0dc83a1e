#include "app/background_work.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QKeyEvent>

namespace kestrafin::app {

BackgroundWork::~BackgroundWork() {
    if (thread_.joinable()) {
        stop_ = true;
        thread_.join();
    }
    if (running_) release_window();
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
    QCoreApplication::instance()->installEventFilter(this);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        thread_ = std::thread([this, work = std::move(work)] {
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
            // Dropped unread if this object is destroyed first.
            QMetaObject::invokeMethod(
                this, [this] { complete(); }, Qt::QueuedConnection);
        });
    } catch (...) {
        release_window();
        running_ = false;
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
    // Input that came while the results were put in place is dropped now,
    // rather than acted on once the window is free.
    QCoreApplication::processEvents();
    release_window();
    running_ = false;
    if (then) then();
}

void BackgroundWork::release_window() {
    QCoreApplication::instance()->removeEventFilter(this);
    QApplication::restoreOverrideCursor();
}

bool BackgroundWork::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
            if (escape_stops_ && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
                stop_ = true;
            return true;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
            return true;
        default:
            // A close request passes: the window ends the work and the program.
            return QObject::eventFilter(watched, event);
    }
}

}  // namespace kestrafin::app

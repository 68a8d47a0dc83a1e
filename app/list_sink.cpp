#include "app/list_sink.h"

#include <QCoreApplication>

#include "app/count_label.h"

namespace kestrafin::app {

namespace {
constexpr std::size_t kEntriesBetweenClockChecks = 1024;
}

ListSink::ListSink(ListItems& items, QLabel& count_label,
                   std::chrono::milliseconds repaint_interval)
    : items_(items),
      count_label_(count_label),
      repaint_interval_(repaint_interval),
      last_paint_(std::chrono::steady_clock::now()) {}

void ListSink::add_entry(std::string_view entry_text) {
    items_.Add(entry_text);
    if (items_.Count() % kEntriesBetweenClockChecks == 0) keep_painting();
}

void ListSink::folder_done(std::string_view) {
    keep_painting();
}

// The label is refreshed whenever the window can show it, which a user cannot
// tell from refreshing it after every single addition.
void ListSink::keep_painting() {
    const auto now = std::chrono::steady_clock::now();
    if (now - last_paint_ < repaint_interval_) return;
    show_progress();
    QCoreApplication::processEvents();
    last_paint_ = std::chrono::steady_clock::now();
}

void ListSink::show_progress() {
    items_.Refresh();
    count_label_.setText(count_label_text(items_.Count()));
}

}  // namespace kestrafin::app

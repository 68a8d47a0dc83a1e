// Feeds a running search into the result list and the count label, and lets
// the window repaint at a steady pace while the search runs.
#pragma once

#include <QLabel>
#include <chrono>

#include "app/result_list.h"
#include "search/searchfiles.h"

namespace kestrafin::app {

class ListSink : public search::SearchSink {
  public:
    ListSink(ListItems& items, QLabel& count_label, std::chrono::milliseconds repaint_interval);

    void add_entry(std::string_view entry_text) override;
    void folder_done(std::string_view directory) override;
    // Shows the final state of the list and the label.
    void finish() { show_progress(); }

  private:
    void keep_painting();
    void show_progress();

    ListItems& items_;
    QLabel& count_label_;
    std::chrono::milliseconds repaint_interval_;
    std::chrono::steady_clock::time_point last_paint_;
};

}  // namespace kestrafin::app

// A face without a toolkit for tests of the window logic: it records what the
// logic shows, answers prompts from a queue, and runs posted tasks and timer
// ticks only when the test says, so that no test depends on the clock.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "window/window_face.h"
#include "window/window_logic.h"

namespace kestrafin::testing {

struct ShownMessage {
    window::MessageIcon icon;
    std::string title;
    std::string text;
};

class StandInFace : public window::WindowFace {
  public:
    // Set once the logic is built; timer ticks and Escape go to it.
    window::WindowLogic* logic = nullptr;

    std::string root_box;
    std::string count_label;
    std::string status_line;
    std::string status_tip;
    // What assistive technology reads for the status line.
    std::string spoken_status;
    // How many code points the status line holds.
    std::size_t status_room = 1000;
    std::string search_caption = "Search";
    std::string clipboard;
    // Rows the list shows, and how often it was reset.
    std::size_t rows_shown = 0;
    int resets = 0;
    window::Activity activity = window::Activity::Idle;
    std::vector<window::Activity> activities;
    std::vector<ShownMessage> messages;
    // Answers to the next prompts, in order; nullopt cancels.
    std::deque<std::optional<std::string>> answers;
    // The title and the text of each prompt shown.
    std::vector<std::pair<std::string, std::string>> prompts;
    // The roots each root prompt offered.
    std::vector<std::vector<std::string>> recent_offered;
    // The text each prompt's box held when it was shown.
    std::vector<std::string> prompt_texts;
    // The title and text of each list of folders shown, and what the user does there.
    std::vector<std::pair<std::string, std::string>> folder_lists;
    window::FolderListAction folder_list_action = window::FolderListAction::close;
    // The rows show_row() showed, in order.
    std::vector<std::size_t> rows_brought_into_view;
    std::map<window::Timer, std::chrono::milliseconds> running_timers;

    void show_message(window::MessageIcon icon, std::string_view title,
                      std::string_view text) override {
        messages.push_back({icon, std::string(title), std::string(text)});
    }
    std::optional<std::string> ask_text(std::string_view title, std::string_view prompt,
                                        std::string_view initial) override {
        prompts.emplace_back(title, prompt);
        prompt_texts.emplace_back(initial);
        if (answers.empty()) {
            ADD_FAILURE() << "a prompt nobody answers";
            return std::nullopt;
        }
        auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::optional<std::string> ask_root(std::string_view title, std::string_view prompt,
                                        const std::vector<std::string>& recent) override {
        recent_offered.push_back(recent);
        return ask_text(title, prompt, "");
    }
    std::optional<std::string> ask_save_file(std::string_view title,
                                             std::string_view suggested_name) override {
        // The same queue of answers as the prompts: the file name offered is
        // the box's first text.
        return ask_text(title, suggested_name, suggested_name);
    }
    window::FolderListAction show_folder_list(std::string_view title,
                                              std::string_view text) override {
        folder_lists.emplace_back(title, text);
        return folder_list_action;
    }
    void set_text(window::Control control, std::string_view text) override {
        switch (control) {
            case window::Control::txtFileroot:
                root_box = text;
                return;
            case window::Control::lbllistcount:
                count_label = text;
                return;
            case window::Control::status_line:
                status_line = text;
                return;
            case window::Control::cmdgetfilelist:
                search_caption = text;
                return;
        }
    }
    void set_tip(window::Control control, std::string_view text) override {
        EXPECT_EQ(control, window::Control::status_line);
        status_tip = text;
    }
    bool fits(window::Control control, std::string_view text) override {
        EXPECT_EQ(control, window::Control::status_line);
        std::size_t code_points = 0;
        for (const char byte : text)
            code_points += (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
        return code_points <= status_room;
    }
    void set_spoken_text(window::Control control, std::string_view text) override {
        EXPECT_EQ(control, window::Control::status_line);
        spoken_status = text;
    }
    void set_clipboard(std::string_view text) override { clipboard = text; }
    void list_reset(std::size_t rows) override {
        rows_shown = rows;
        ++resets;
    }
    void list_grown(std::size_t rows) override {
        EXPECT_GT(rows, rows_shown) << "the list was told it grew, but it did not";
        rows_shown = rows;
    }
    void show_row(std::size_t row) override {
        EXPECT_LT(row, rows_shown) << "a row the list does not show was brought into view";
        rows_brought_into_view.push_back(row);
    }
    void set_activity(window::Activity now) override {
        activity = now;
        activities.push_back(now);
    }
    void start_timer(window::Timer timer, std::chrono::milliseconds interval) override {
        running_timers[timer] = interval;
    }
    void stop_timer(window::Timer timer) override { running_timers.erase(timer); }
    void post(std::function<void()> task) override {
        {
            const std::lock_guard lock(posted_mutex_);
            posted_.push_back(std::move(task));
        }
        posted_signal_.notify_all();
    }

    // --- the test's side, on the thread that owns the logic ---

    // Forgets what was shown and posted, for a window loaded anew.
    void forget() {
        root_box.clear();
        count_label.clear();
        status_line.clear();
        status_tip.clear();
        spoken_status.clear();
        status_room = 1000;
        search_caption = "Search";
        clipboard.clear();
        rows_shown = 0;
        resets = 0;
        activity = window::Activity::Idle;
        activities.clear();
        messages.clear();
        answers.clear();
        prompts.clear();
        prompt_texts.clear();
        recent_offered.clear();
        rows_brought_into_view.clear();
        folder_lists.clear();
        running_timers.clear();
        const std::lock_guard lock(posted_mutex_);
        posted_.clear();
    }

    bool timer_running(window::Timer timer) const { return running_timers.contains(timer); }
    // The timer falls due, as the toolkit would report it.
    void fire(window::Timer timer) {
        ASSERT_TRUE(timer_running(timer)) << "a timer that does not run fell due";
        logic->timer_elapsed(timer);
    }
    // Escape, which the face hands on only while the logic may be stopped.
    void press_escape() {
        if (activity == window::Activity::Stoppable) logic->escape_pressed();
    }

    // Runs the tasks posted so far.
    void run_posted() {
        for (;;) {
            std::function<void()> task;
            {
                const std::lock_guard lock(posted_mutex_);
                if (posted_.empty()) return;
                task = std::move(posted_.front());
                posted_.pop_front();
            }
            task();
        }
    }
    // Runs posted tasks, waiting for each, until `done` holds; false when
    // nothing is posted for `limit` (the logic hangs).
    [[nodiscard]] bool run_until(const std::function<bool()>& done,
                                 std::chrono::seconds limit = std::chrono::seconds(120)) {
        for (;;) {
            run_posted();
            if (done()) return true;
            std::unique_lock lock(posted_mutex_);
            if (!posted_signal_.wait_for(lock, limit, [this] { return !posted_.empty(); }))
                return false;
        }
    }
    // Waits until the running handler and its work have ended, and runs what
    // they posted.
    [[nodiscard]] bool settled(std::chrono::seconds limit = std::chrono::seconds(120)) {
        const bool ended = run_until([this] { return !logic->busy(); }, limit);
        run_posted();
        return ended;
    }

    // The rows the list shows, in order.
    std::vector<std::string> shown_rows() const {
        std::vector<std::string> rows;
        const auto& store = logic->list_items().store();
        for (std::size_t row = 0; row < rows_shown; ++row) rows.emplace_back(store.text(row));
        return rows;
    }

  private:
    std::mutex posted_mutex_;
    std::condition_variable posted_signal_;
    std::deque<std::function<void()>> posted_;
};

}  // namespace kestrafin::testing

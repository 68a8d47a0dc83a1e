// What the window logic asks of a window toolkit. Each face (a Qt widget, a
// Win32 window, a test's stand-in) draws the controls, implements this
// interface and forwards its events to a WindowLogic; every decision is the
// logic's.
//
// Threading: the logic and every call below run on the face's UI thread,
// except post(), which any thread may call. The logic's work thread never
// touches the face otherwise. Once the logic is destroyed (it stops and joins
// its work first) it calls the face no more, so a face holds its logic as its
// last member.
//
// Texts are UTF-8 byte strings (names on POSIX may hold bytes that are not
// UTF-8; a face shows them as the replacement character).
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrafin::window {

// The controls whose text the logic sets.
enum class Control {
    txtFileroot,     // the root box: shows its text whole (tool tip), from its start; one line
    lbllistcount,    // the count label
    status_line,     // a label of its own under the root box: how the last search or reload ended
    cmdgetfilelist,  // the caption of "Search", which reads "Stop" while a search runs
};

// The icon of a message box.
enum class MessageIcon { Critical, Information };

// What the user did in the list of folders a search could not read.
enum class FolderListAction { close, copy, export_csv };

// The window's timers. Each repeats at its interval until stopped; when one
// falls due the face calls WindowLogic::timer_elapsed with it.
enum class Timer {
    tmrwait2,         // the first-run tick
    search_progress,  // moves what a running search found into the list
};

// What the logic is doing, for the pointer and for input.
enum class Activity {
    // Default pointer; input is acted on.
    Idle,
    // Hourglass over the whole program. Every click, key, wheel and touch is
    // dropped, never kept for later; the window still paints, and a close
    // request still reaches WindowLogic::close_requested.
    Working,
    // As Working, except that Escape and a click on the search button (which
    // then reads "Stop") are forwarded to WindowLogic::escape_pressed and
    // WindowLogic::cmdgetfilelist_Click, and that the list can still be
    // scrolled and read: the wheel over it, its scroll bars, and with the
    // focus in it the arrow keys, Page Up, Page Down, Home and End.
    Stoppable,
};

class WindowFace {
  public:
    virtual ~WindowFace() = default;

    // A modal message box with an OK button, owned by the window; returns once
    // the user has closed it.
    virtual void show_message(MessageIcon icon, std::string_view title, std::string_view text) = 0;

    // A modal prompt with a single-line text box holding `initial`, all of it
    // selected, OK and Cancel. The text on OK (possibly empty); nullopt on
    // Cancel or close.
    virtual std::optional<std::string> ask_text(std::string_view title, std::string_view prompt,
                                                std::string_view initial) = 0;

    // The platform's modal dialog for choosing a file to write, of the kind
    // "CSV files (*.csv)", offering `suggested_name` in the user's usual
    // folder and asking before an existing file is replaced. The path
    // chosen; nullopt on Cancel or close.
    virtual std::optional<std::string> ask_save_file(std::string_view title,
                                                     std::string_view suggested_name) = 0;

    // A modal dialog titled `title` that shows `text` (lines separated by
    // "\n") in a read-only box, scrolling both ways, whose text can be
    // selected and copied, with the buttons "Copy all", "Export as CSV..."
    // and "Close"; returns which ended it (close for Escape or the title
    // bar's close button too).
    virtual FolderListAction show_folder_list(std::string_view title, std::string_view text) = 0;

    // The root's prompt: as ask_text with an empty box, whose list offers
    // `recent` (the latest first), and a "Browse..." button that opens the
    // platform's folder picker and puts the folder chosen into the box.
    virtual std::optional<std::string> ask_root(std::string_view title, std::string_view prompt,
                                                const std::vector<std::string>& recent) = 0;

    // Replaces the text of `control`.
    virtual void set_text(Control control, std::string_view text) = 0;
    // Replaces the tool tip of `control` (lines separated by "\n"); empty
    // text: none. Setting a text leaves the tip as it is.
    virtual void set_tip(Control control, std::string_view text) = 0;
    // Whether `text` stands whole on one line of `control` as it is laid out
    // now, in its font.
    virtual bool fits(Control control, std::string_view text) = 0;
    // What assistive technology reads for the text of `control` where the
    // control shows less of it (a status line shortened to fit); a face that
    // cannot tell it more than the text shown leaves this as it is.
    virtual void set_spoken_text(Control /*control*/, std::string_view /*text*/) {}

    // Puts `text` (UTF-8, lines separated by "\n") on the clipboard as plain
    // text, in the line ends the host's clipboard uses.
    virtual void set_clipboard(std::string_view text) = 0;

    // The result list: the face shows rows 0 to `rows` - 1 of
    // WindowLogic::list_items() and reads no row beyond them.
    // list_reset: every row may have changed (cleared, replaced).
    virtual void list_reset(std::size_t rows) = 0;
    // list_grown: the rows shown so far are unchanged; rows were appended.
    virtual void list_grown(std::size_t rows) = 0;
    // Selects `row` alone, makes it the current row, scrolls it into view
    // and puts the focus on the list.
    virtual void show_row(std::size_t row) = 0;

    // Sets the pointer and what input does. Going back to Idle first discards
    // every input event queued while the logic was busy, then restores the
    // default pointer.
    virtual void set_activity(Activity activity) = 0;

    // Starts `timer` (restarts it when it runs) at `interval`.
    virtual void start_timer(Timer timer, std::chrono::milliseconds interval) = 0;
    virtual void stop_timer(Timer timer) = 0;

    // Runs `task` on the UI thread from its event loop, in the order posted,
    // after the event being handled now. Callable from any thread, at any
    // time; once the window is gone the task may be dropped unrun.
    virtual void post(std::function<void()> task) = 0;
};

}  // namespace kestrafin::window

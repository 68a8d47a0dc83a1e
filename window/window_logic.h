// What the main window does, without a toolkit: the order of steps of each
// event handler, the search with its batches and count label, the first-run
// tick, the root folder setting, the saved list, the busy state, Escape and
// close. A face (window_face.h) draws the controls and forwards its events
// here; the logic tells it what to show.
//
// Names: the handlers (control, underscore, event: cmdgetfilelist_Click,
// Form_Load), the procedures savesettings and savedefsettings they run, and
// the list's entry collection ListItems keep the names of the window's design, so that every
// handler can be found by the name its users and documents give it. Every other name follows the
// code's own lower_case convention.
//
// Every member runs on the face's UI thread. A handler called while another
// handler or the work it started runs does nothing: input is dropped, never
// kept for later. An error ends only its handler: it is shown in a message
// box titled "Kestrafin" and the window keeps its data.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "search/searchfiles.h"
#include "window/background_work.h"
#include "window/copied_text.h"
#include "window/folder_problems.h"
#include "window/list_items.h"
#include "window/status_line.h"
#include "window/window_face.h"

namespace kestrafin::window {

// What the window takes from its host; tests hand in stand-ins.
struct WindowServices {
    // Opens a web address in the desktop's browser.
    std::function<void(const std::string& address)> open_address = platform::open_address;
    // The walk behind "Search"; empty for the real one. A test's walk plays
    // the walk's events to the visitor it is given, which answers stop once
    // the search is to stop; `stop` says so to a walk that waits between
    // events.
    std::function<void(const std::string& root, search::WalkVisitor& visitor,
                       const std::atomic<bool>& stop)>
        search;
    // Shows a found file in the desktop's file manager.
    std::function<void(const std::string& path)> show_in_file_manager =
        platform::show_in_file_manager;
    // How often a running search moves what it found into the list and the
    // count label.
    std::chrono::milliseconds repaint_interval{50};
    // How often at most a running search tells on the status line how far it
    // has come.
    std::chrono::milliseconds progress_interval{250};
    // How long loading waits for an answer from the settings file's folder
    // (each piece of the file read is one) before the window shows without it.
    std::chrono::milliseconds settings_patience{10000};
};

// Opened when the logo or the host's name is clicked.
inline constexpr const char* kHomePageAddress = "http://kestrafin.example/";
// The first-run tick's interval.
inline constexpr std::chrono::milliseconds kFirstRunDelay{500};
// Copies of more bytes than this are joined on the work thread.
inline constexpr std::size_t kLongestCopyInPlace = 1 << 20;
// How many roots entered or dropped "Change" offers again.
inline constexpr std::size_t kRecentRoots = 10;
// Lists of more rows than this are searched on the work thread.
inline constexpr std::size_t kMostRowsFoundInPlace = 100000;

class WindowLogic {
  public:
    // Builds the logic of a window whose program folder (settings file, saved
    // list) is `program_folder`. The root box holds the default root until
    // Form_Load. `face` must outlive the logic.
    WindowLogic(WindowFace& face, std::string program_folder, WindowServices services = {});
    // Stops running work and waits for its thread.
    ~WindowLogic();
    WindowLogic(const WindowLogic&) = delete;
    WindowLogic& operator=(const WindowLogic&) = delete;

    // The handlers, called by the face for the events they are named after.
    void Form_Load();
    void cmdgetfilelist_Click();
    void cmdsave_Click();
    void cmdseldir_Click();
    void tmrwait2_Timer();
    void cmdsavelist_Click();
    void cmdloadlist_Click();
    void Image1_Click();
    void lblorvane_Click();

    // The list's own commands, for the rows it shows (0 for the first row).
    // Puts the paths of `rows`, in the order given, on the clipboard as their
    // real text; the user is told when bytes that are not UTF-8 had to be
    // replaced. More than kLongestCopyInPlace bytes in all are joined on the
    // work thread, and the window is busy until they are on the clipboard.
    void copy_paths(const std::vector<std::size_t>& rows);
    void copy_all_paths(PathFormat format = PathFormat::lines);
    // Puts the path of the folder that holds the file of `row` on the clipboard.
    void copy_folder_path(std::size_t row);
    // Shows the file of `row` selected in the desktop's file manager.
    void open_containing_folder(std::size_t row);
    // Export as CSV: asks for a file, offering kExportFileName, and writes
    // every row there, or the rows of `rows` the list shows (list_export.h),
    // on the work thread, which Escape stops; the status line then says
    // where they went.
    void export_list();
    void export_selection(const std::vector<std::size_t>& rows);
    // The status line was clicked, or "Folders not read..." chosen: after a
    // search that could not read or did not enter folders, a dialog lists
    // every one with its reason (folder_problems.h), to copy or export.
    void folder_list_requested();
    // True when the last search left folders for that list.
    bool has_folder_problems() const { return folder_problems_.count() > 0; }
    // Folders were dropped on the window: the first sets the root, as a
    // path entered at "Change" does.
    void root_dropped(const std::vector<std::string>& paths);
    // Find (Ctrl+F): asks for a text, offering the last one, and shows the
    // next row after `current` whose path holds it (list_find.h), or says
    // that none does. Lists of more than kMostRowsFoundInPlace rows are
    // searched on the work thread, which Escape stops.
    void find_in_list(std::optional<std::size_t> current);
    // Find next (F3), upwards with Shift: the last text again; Find when
    // none was asked for yet.
    void find_next(std::optional<std::size_t> current, bool backwards);

    // A timer of the face fell due.
    void timer_elapsed(Timer timer);
    // Escape reached the window while it was Stoppable, or "Stop" was
    // clicked: the search stops and keeps what it found.
    void escape_pressed();
    // The window is closing: running work is stopped. Returns once it has
    // ended, or ends the program when it does not end promptly (a folder on
    // a share that no longer answers); the face then closes the window.
    void close_requested();

    // The status line's room changed (a new DPI, a new font): its text is
    // fitted again.
    void status_room_changed();

    // The root folder text, byte for byte as it is stored and searched.
    const std::string& root_text() const { return root_text_; }
    std::string settings_file() const;
    std::string saved_list_file() const;
    // True while a handler or the work it started runs.
    bool busy() const { return handler_running_ || work_.running(); }

    ListItems& list_items() { return items_; }
    const ListItems& list_items() const { return items_; }

  private:
    // Store the root box's text, and the default root, as the root folder
    // setting of `settings_file`; "Save path" and the first-run tick run them
    // on the work thread.
    static void savesettings(const std::string& settings_file, const std::string& root);
    static void savedefsettings(const std::string& settings_file);

    void set_root_text(std::string text);
    // A root entered at "Change" or dropped: shown, and offered first the
    // next time "Change" asks.
    void take_root(std::string root);
    // Shows `status` on the status line, as much of it as fits, and whole in
    // its tip.
    void show_status(StatusText status);
    // Runs one handler; an error it raises is shown and ends only that handler.
    void run_handler(const std::function<void()>& body);
    // Starts the long part of a handler on the work thread. `done` runs on the
    // window's thread when it has ended, told whether it ended without an
    // error; then the error, if any, is shown, or else `afterwards` runs once
    // the window takes input again.
    void start_work(BackgroundWork::Work work, std::function<void(bool completed)> done,
                    bool escape_stops, std::function<void()> afterwards = {});
    // Runs `work` now, or once the running handler and its work have ended. Only
    // the timer and start-up use it: input is never kept for later.
    void when_idle(std::function<void()> work);
    void run_deferred();
    // Posts `task` to the UI thread, dropped if this object has gone.
    void post(std::function<void()> task);
    void show_error(const std::string& text);
    using EachPath = std::function<void(const std::function<void(std::string_view)>&)>;
    // Puts the paths `each_path` hands on, `bytes` in all, on the clipboard:
    // at once, or from the work thread when they are too large to join
    // without keeping the window from painting.
    void put_on_clipboard(std::size_t bytes, EachPath each_path,
                          PathFormat format = PathFormat::lines);
    void open_home_page();
    void find_from(std::optional<std::size_t> current, bool backwards);
    void export_rows(std::vector<std::size_t> rows);

    WindowFace& face_;
    std::string program_folder_;
    WindowServices services_;
    ListItems items_;
    std::string root_text_;
    std::string find_text_;                  // what Find last looked for
    std::vector<std::string> recent_roots_;  // the latest first
    // The folders the last search could not read or did not enter.
    FolderProblems folder_problems_;
    // The root the list was searched under; empty for a reloaded list.
    std::string list_root_;
    bool handler_running_ = false;
    bool searching_ = false;  // "Search" then reads "Stop"
    std::vector<std::function<void()>> deferred_;
    StatusText status_;
    // What a tick of the search_progress timer does while a search runs.
    std::function<void()> search_tick_;
    // Tasks posted to the face that run after this object has gone find it
    // expired and do nothing.
    std::shared_ptr<WindowLogic*> self_ = std::make_shared<WindowLogic*>(this);
    // Last, so that its thread has ended before anything it reads goes.
    BackgroundWork work_;
};

}  // namespace kestrafin::window

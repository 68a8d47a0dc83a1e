#include "window/window_logic.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <new>
#include <stdexcept>
#include <system_error>

#include "listfile/saved_list.h"
#include "listfile/saved_list_reader.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/path_rules.h"
#include "platform/process.h"
#include "scan/scan.h"
#include "search/searchfiles.h"
#include "settings/ini_file.h"
#include "settings/root_setting.h"
#include "window/copied_text.h"
#include "window/count_label.h"
#include "window/list_export.h"
#include "window/list_find.h"
#include "window/list_sink.h"
#include "window/one_line_text.h"
#include "window/patient_call.h"
#include "window/row_schedule.h"
#include "window/shown_row.h"
#include "window/status_line.h"

namespace kestrafin::window {

namespace {

const std::string kSection(settings::kRootSection);
const std::string kKey(settings::kRootKey);

// The saved list file `file` opened for reading, or null when there is no
// list to reload: no such name, or a hidden file. Raises std::system_error
// with the reason when what stands there is no regular file or cannot be
// opened.
std::unique_ptr<listfile::SavedListReader> open_saved_list(const std::string& file) {
    std::unique_ptr<listfile::SavedListReader> reader;
    try {
        reader = std::make_unique<listfile::SavedListReader>(file);
    } catch (const std::system_error& error) {
        // Only a name that leads nowhere means there is no list; a link loop
        // or a folder this user may not look into says why.
        if (platform::file_exists(file) ||
            error.code() == std::errc::too_many_symbolic_link_levels ||
            error.code() == std::errc::permission_denied)
            throw;
        return nullptr;
    }
    if (!platform::visible_file_exists(file)) return nullptr;
    return reader;
}

// How long a close request waits for the work to notice its stop flag before
// the program ends without it (a folder on a share that no longer answers).
constexpr std::chrono::milliseconds kCloseGrace{2000};

// How often a running search moves what the walk has found into the list: so
// often that little is left to move when the walk ends. The label and the
// rows show it at the window's repaint interval.
constexpr std::chrono::milliseconds kTakeInterval{10};

// How long a running search may count entries on the label that the list does
// not show yet.
constexpr std::chrono::milliseconds kLongestRowWait{1000};

// The text that tells the user what went wrong; empty for work that was
// stopped on purpose.
std::string reason_of(std::exception_ptr error) {
    try {
        std::rethrow_exception(std::move(error));
    } catch (const WorkInterrupted&) {
        return {};
    } catch (const std::bad_alloc&) {
        // Failures that know their file and size say so themselves.
        return "There was not enough memory to finish.";
    } catch (const std::exception& raised) {
        return platform::failure_text(raised);
    } catch (...) {
        return "An unknown error occurred.";
    }
}

// One search: what it asks, the list's sink and the scan. The walk's thread
// touches it until the walk has ended; the window reads the report after.
struct WindowSearch {
    WindowSearch(std::string root, const std::atomic<bool>& stop)
        : request(window_request(std::move(root))), scan(request, sinks, &stop) {}

    // The window's rule and threads, the scanner's defaults.
    static scan::ScanRequest window_request(std::string root) {
        scan::ScanRequest request;
        request.root = std::move(root);
        return request;
    }

    scan::ScanRequest request;
    ListSink list;
    FolderProblems problems;
    scan::Sinks sinks{{&list, &problems}};
    scan::Scan scan;
};

// When the file `file` was last written, in the local time, or empty when
// that cannot be told. On the work thread only, which the window waits for,
// so the shared result of localtime is safe.
std::string saved_at(const std::string& file) {
    std::error_code error;
    const std::u8string name(file.begin(), file.end());
    const auto written = std::filesystem::last_write_time(std::filesystem::path(name), error);
    if (error) return {};
    const std::time_t time =
        std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(written));
    const std::tm* local = std::localtime(&time);
    char text[32];
    if (local == nullptr || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", local) == 0)
        return {};
    return text;
}

}  // namespace

WindowLogic::WindowLogic(WindowFace& face, std::string program_folder, WindowServices services)
    : face_(face),
      program_folder_(std::move(program_folder)),
      services_(std::move(services)),
      items_(face),
      root_text_(platform::kDefaultRoot),
      work_(face) {}

WindowLogic::~WindowLogic() = default;

std::string WindowLogic::settings_file() const {
    return platform::program_file(program_folder_, settings::kSettingsFileName);
}

std::string WindowLogic::saved_list_file() const {
    return platform::program_file(program_folder_, listfile::kSavedListName);
}

void WindowLogic::set_root_text(std::string text) {
    root_text_ = std::move(text);
    // The box is one line: a line break or a control character in the root
    // shows as its code point; the search and the settings file take the text.
    face_.set_text(Control::txtFileroot, one_line_text(root_text_));
}

void WindowLogic::show_status(StatusText status) {
    status_ = std::move(status);
    status_room_changed();
}

void WindowLogic::status_room_changed() {
    // Spoken whole when the shortened text takes its place.
    face_.set_spoken_text(Control::status_line, status_.whole());
    face_.set_text(Control::status_line, fitted_status(status_, [this](std::string_view text) {
                       return face_.fits(Control::status_line, text);
                   }));
    face_.set_tip(Control::status_line, status_.tip());
}

void WindowLogic::post(std::function<void()> task) {
    face_.post([self = std::weak_ptr<WindowLogic*>(self_), task = std::move(task)] {
        if (self.lock()) task();
    });
}

void WindowLogic::timer_elapsed(Timer timer) {
    switch (timer) {
        case Timer::tmrwait2:
            // A tick that falls due while a handler runs waits until it has ended.
            if (!busy()) {
                tmrwait2_Timer();
                return;
            }
            face_.stop_timer(Timer::tmrwait2);
            when_idle([this] { tmrwait2_Timer(); });
            return;
        case Timer::search_progress:
            if (search_tick_) search_tick_();
            return;
    }
}

void WindowLogic::escape_pressed() {
    work_.escape_pressed();
}

void WindowLogic::close_requested() {
    if (!work_.running()) return;
    work_.request_stop();
    // Nothing is saved at close, so nothing is lost by not waiting longer;
    // what an unfinished save created is removed.
    if (!work_.wait_for_end(kCloseGrace)) platform::end_program_at_once(EXIT_SUCCESS);
}

void WindowLogic::run_handler(const std::function<void()>& body) {
    if (busy()) return;
    handler_running_ = true;
    std::exception_ptr error;
    try {
        body();
    } catch (...) {
        error = std::current_exception();
    }
    handler_running_ = false;
    if (error) show_error(reason_of(error));
    run_deferred();
}

void WindowLogic::start_work(BackgroundWork::Work work, std::function<void(bool completed)> done,
                             bool escape_stops, std::function<void()> afterwards) {
    work_.start(
        std::move(work),
        [this, done = std::move(done),
         afterwards = std::move(afterwards)](std::exception_ptr error) -> std::function<void()> {
            try {
                done(!error);
            } catch (...) {
                if (!error) error = std::current_exception();
            }
            return [this, error, afterwards] {
                if (error) {
                    const std::string reason = reason_of(error);
                    if (!reason.empty()) show_error(reason);
                } else if (afterwards) {
                    afterwards();
                }
                run_deferred();
            };
        },
        escape_stops);
}

void WindowLogic::run_deferred() {
    if (deferred_.empty() || busy()) return;
    post([this] {
        auto work = std::move(deferred_);
        deferred_.clear();
        // Another handler may have started in between; it goes first.
        for (auto& item : work) when_idle(std::move(item));
    });
}

void WindowLogic::when_idle(std::function<void()> work) {
    if (busy())
        deferred_.push_back(std::move(work));
    else
        work();
}

void WindowLogic::show_error(const std::string& text) {
    face_.show_message(MessageIcon::Critical, "Kestrafin", text);
}

void WindowLogic::Form_Load() {
    struct Loaded {
        bool created = false;
        std::string root;
    };
    try {
        // The window shows only once this is known; a program folder on a
        // share that no longer answers must not keep it from showing at all.
        const Loaded loaded = call_with_patience<Loaded>(
            [file = settings_file()](const std::function<void()>& answered) {
                Loaded result;
                result.created = !platform::file_exists(file);
                answered();
                // Reading creates the missing file; the first-run tick stores
                // the default root in it.
                result.root = Kestrafin_Lib::readini(file, kSection, kKey, answered);
                return result;
            },
            services_.settings_patience, "the program folder");
        if (loaded.created) face_.start_timer(Timer::tmrwait2, kFirstRunDelay);
        set_root_text(loaded.root);
    } catch (const std::exception& error) {
        // Without its settings file the tool still works for this session.
        face_.stop_timer(Timer::tmrwait2);
        set_root_text(std::string(platform::kDefaultRoot));
        const std::string text = std::string("The settings file could not be created or read: ") +
                                 platform::failure_text(error);
        post([this, text] { when_idle([this, text] { show_error(text); }); });
    }
}

void WindowLogic::savesettings(const std::string& settings_file, const std::string& root) {
    Kestrafin_Lib::writeini(settings_file, kSection, kKey, root);
}

void WindowLogic::savedefsettings(const std::string& settings_file) {
    savesettings(settings_file, std::string(platform::kDefaultRoot));
}

void WindowLogic::tmrwait2_Timer() {
    run_handler([this] {
        face_.stop_timer(Timer::tmrwait2);
        // The settings file may lie on a share that no longer answers: it is
        // written and read back on the work thread.
        auto stored = std::make_shared<std::string>();
        start_work(
            [file = settings_file(), stored](const std::atomic<bool>&) {
                savedefsettings(file);
                *stored = Kestrafin_Lib::readini(file, kSection, kKey);
            },
            [this, stored](bool completed) {
                if (completed) set_root_text(std::move(*stored));
            },
            false);
    });
}

void WindowLogic::cmdsave_Click() {
    run_handler([this] {
        start_work([file = settings_file(),
                    root = root_text_](const std::atomic<bool>&) { savesettings(file, root); },
                   [](bool) {}, false);
    });
}

void WindowLogic::cmdseldir_Click() {
    run_handler([this] {
        const std::string answer =
            face_.ask_root("Kestrafin", "Please enter the full path", recent_roots_).value_or("");
        // Explorer's "Copy as path" puts the path between double quotes, which
        // no folder's path begins and ends with.
        std::string_view root = answer;
        if (root.size() >= 2 && root.front() == '"' && root.back() == '"')
            root = root.substr(1, root.size() - 2);
        if (!root.empty()) take_root(std::string(root));
    });
}

void WindowLogic::take_root(std::string root) {
    std::erase(recent_roots_, root);
    recent_roots_.insert(recent_roots_.begin(), root);
    if (recent_roots_.size() > kRecentRoots) recent_roots_.pop_back();
    set_root_text(std::move(root));
}

void WindowLogic::root_dropped(const std::vector<std::string>& paths) {
    run_handler([this, &paths] {
        if (!paths.empty() && !paths.front().empty()) take_root(paths.front());
    });
}

void WindowLogic::cmdgetfilelist_Click() {
    // While a search runs the button reads "Stop".
    if (searching_) {
        escape_pressed();
        return;
    }
    run_handler([this] {
        face_.set_text(Control::lbllistcount, "");
        show_status({});
        items_.Clear();
        const std::string root = root_text_;
        list_root_ = root;
        folder_problems_ = {};
        // The walk runs on the work thread; the window takes what it has found
        // in batches, and once more at its end, so that the list and the label
        // end exact. The label counts every entry taken; the list shows new
        // rows as often as the face can lay them out cheaply.
        auto search = std::make_shared<WindowSearch>(root, work_.stop_flag());
        const auto start = RowSchedule::Clock::now();
        auto schedule = std::make_shared<RowSchedule>(kLongestRowWait, start);
        auto last_shown = std::make_shared<RowSchedule::Clock::time_point>(start);
        auto last_told = std::make_shared<RowSchedule::Clock::time_point>(start);
        const auto show_found = [this, search, schedule, last_shown, last_told](bool at_end) {
            search->list.deliver(items_);
            const auto now = RowSchedule::Clock::now();
            if (!at_end && now - *last_shown < services_.repaint_interval) return;
            *last_shown = now;
            if (at_end || schedule->due(items_.shown(), items_.Count(), now)) items_.Refresh();
            face_.set_text(Control::lbllistcount, count_label_text(items_.Count()));
            // How far the walk has come, so that a long search shows it goes on.
            if (at_end || now - *last_told < services_.progress_interval) return;
            *last_told = now;
            const ListSink::Progress progress = search->list.progress();
            if (progress.folders_read > 0)
                show_status(progress_status(progress.folders_read, progress.folder));
        };
        const auto end_ticks = [this] {
            face_.stop_timer(Timer::search_progress);
            search_tick_ = nullptr;
            searching_ = false;
            face_.set_text(Control::cmdgetfilelist, "Search");
        };
        search_tick_ = [show_found] { show_found(false); };
        face_.start_timer(Timer::search_progress,
                          std::min(kTakeInterval, services_.repaint_interval));
        searching_ = true;
        face_.set_text(Control::cmdgetfilelist, "Stop");
        try {
            start_work(
                [search, walk = services_.search](const std::atomic<bool>& stop) {
                    try {
                        if (walk)
                            walk(search->request.root, search->scan.walk_visitor(), stop);
                        else
                            search->scan.run();
                        search->scan.finish();
                    } catch (...) {
                        search->list.hand_on();
                        throw;
                    }
                    search->list.hand_on();
                    // What was found stays in the list; the message says why
                    // the search ended.
                    if (search->scan.report().out_of_memory) throw std::bad_alloc();
                },
                [this, show_found, end_ticks, search](bool completed) {
                    end_ticks();
                    show_found(true);
                    const scan::ScanReport& report = search->scan.report();
                    if (!completed || report.root_error()) {
                        show_status({});
                        return;
                    }
                    folder_problems_ = std::move(search->problems);
                    StatusText status = search_status(report);
                    if (has_folder_problems())
                        status.added_tip += "\nClick the line for every folder and its reason.";
                    show_status(std::move(status));
                },
                true,
                [this, search, root] {
                    // The root cannot be walked at all: a message says why, and
                    // the list stays empty.
                    if (const auto error = search->scan.report().root_error())
                        show_error(root_failure_text(root, *error));
                });
        } catch (...) {
            end_ticks();
            throw;
        }
    });
}

void WindowLogic::cmdsavelist_Click() {
    run_handler([this] {
        const std::size_t total = items_.Count();
        auto written = std::make_shared<std::string>();
        start_work(
            [this, total, file = saved_list_file(), written](const std::atomic<bool>& stop) {
                // The list is not changed while the work runs: every handler
                // that changes it waits until the window is idle.
                const ListItems& items = items_;
                listfile::save_list(file, [&](const auto& add) {
                    for (std::size_t position = 1; position <= total; ++position) {
                        // A close request drops the new file; the old one stays.
                        if (stop.load(std::memory_order_relaxed)) throw WorkInterrupted();
                        add(items.Text(position));
                    }
                });
                *written = saved_at(file);
            },
            [this, written](bool completed) {
                // The line said where an older list came from, which is no
                // longer so.
                if (completed) show_status(saved_status(saved_list_file(), *written));
            },
            false);
    });
}

void WindowLogic::cmdloadlist_Click() {
    run_handler([this] {
        // Every look at the file is made on the work thread: a program folder
        // on a share that no longer answers must not stop the window.
        auto missing = std::make_shared<bool>(false);
        auto entries = std::make_shared<EntryStore>();
        auto written = std::make_shared<std::string>();
        start_work(
            [file = saved_list_file(), missing, entries, written](const std::atomic<bool>& stop) {
                // Opened before the list is touched, so a file that cannot be
                // read loses nothing.
                const auto reader = open_saved_list(file);
                if (!reader) {
                    *missing = true;
                    return;
                }
                // Records go into a new list as they are read (the file is
                // never held whole), which replaces the shown one only once
                // it is complete: Escape or a failed read leave that as it was.
                reader->read_all([&](std::string_view text) {
                    if (stop.load(std::memory_order_relaxed)) throw WorkInterrupted();
                    entries->add(text);
                });
                *written = saved_at(file);
            },
            [this, entries, missing, written](bool completed) {
                if (!completed || *missing) return;
                items_.ReplaceAll(std::move(*entries));
                list_root_.clear();
                folder_problems_ = {};
                face_.set_text(Control::lbllistcount, count_label_text(items_.Count()));
                show_status(reload_status(saved_list_file(), *written));
            },
            true,
            [this, missing] {
                if (*missing)
                    face_.show_message(MessageIcon::Information, "File could not be found to load",
                                       "There is no file to load, please first save the list.");
            });
    });
}

void WindowLogic::put_on_clipboard(std::size_t bytes, EachPath each_path, PathFormat format) {
    const auto note = [this](std::size_t altered) {
        if (altered > 0)
            face_.show_message(MessageIcon::Information, "Kestrafin", altered_paths_note(altered));
    };
    if (bytes <= kLongestCopyInPlace) {
        const CopiedText copied = copied_paths(each_path, format);
        face_.set_clipboard(copied.text);
        note(copied.altered_paths);
        return;
    }
    // Paths of megabytes are joined on the work thread, while the window
    // paints; the list does not change meanwhile, as the window is busy.
    auto copied = std::make_shared<CopiedText>();
    start_work([each_path = std::move(each_path), copied,
                format](const std::atomic<bool>&) { *copied = copied_paths(each_path, format); },
               [this, copied](bool completed) {
                   if (completed) face_.set_clipboard(copied->text);
               },
               false, [copied, note] { note(copied->altered_paths); });
}

void WindowLogic::copy_paths(const std::vector<std::size_t>& rows) {
    run_handler([this, &rows] {
        std::vector<std::size_t> shown;
        std::size_t bytes = 0;
        for (const std::size_t row : rows) {
            if (row >= items_.shown()) continue;
            shown.push_back(row);
            bytes += items_.store().text(row).size();
        }
        put_on_clipboard(bytes, [this, shown = std::move(shown)](const auto& take) {
            for (const std::size_t row : shown) take(items_.store().text(row));
        });
    });
}

void WindowLogic::copy_all_paths(PathFormat format) {
    run_handler([this, format] {
        std::size_t bytes = 0;
        for (std::size_t row = 0; row < items_.shown(); ++row)
            bytes += items_.store().text(row).size();
        put_on_clipboard(
            bytes,
            [this, rows = items_.shown()](const auto& take) {
                for (std::size_t row = 0; row < rows; ++row) take(items_.store().text(row));
            },
            format);
    });
}

void WindowLogic::copy_folder_path(std::size_t row) {
    run_handler([this, row] {
        if (row >= items_.shown()) return;
        const std::string_view path = items_.store().text(row);
        const std::size_t cut = path.rfind(platform::kPathSeparator);
        if (cut == std::string_view::npos) return;
        // A file in the root of a drive or of the file system keeps the separator.
        std::string_view folder = path.substr(0, cut);
        if (folder.empty() || folder.back() == ':') folder = path.substr(0, cut + 1);
        put_on_clipboard(folder.size(),
                         [folder = std::string(folder)](const auto& take) { take(folder); });
    });
}

void WindowLogic::export_list() {
    std::vector<std::size_t> rows(items_.shown());
    for (std::size_t row = 0; row < rows.size(); ++row) rows[row] = row;
    export_rows(std::move(rows));
}

void WindowLogic::export_selection(const std::vector<std::size_t>& rows) {
    std::vector<std::size_t> shown;
    for (const std::size_t row : rows)
        if (row < items_.shown()) shown.push_back(row);
    export_rows(std::move(shown));
}

void WindowLogic::export_rows(std::vector<std::size_t> rows) {
    run_handler([this, &rows] {
        const std::optional<std::string> file =
            face_.ask_save_file("Export as CSV", kExportFileName);
        if (!file) return;
        // The list does not change meanwhile, as the window is busy.
        auto written = std::make_shared<bool>(false);
        start_work(
            [this, file = *file, rows = std::move(rows), root = list_root_,
             written](const std::atomic<bool>& stop) {
                *written = export_csv(file, items_.store(), rows, root, stop);
            },
            [this, file = *file, count = rows.size(), written](bool completed) {
                if (!completed || !*written) return;
                show_status(export_status(file, count));
            },
            true);
    });
}

void WindowLogic::folder_list_requested() {
    run_handler([this] {
        if (!has_folder_problems()) return;
        const std::string text =
            folder_problems_text(folder_problems_.kept(), folder_problems_.count());
        switch (face_.show_folder_list("Folders not read", text)) {
            case FolderListAction::close:
                return;
            case FolderListAction::copy:
                put_on_clipboard(text.size(),
                                 [text](const auto& take) { take(std::string_view(text)); });
                return;
            case FolderListAction::export_csv:
                break;
        }
        const std::optional<std::string> file =
            face_.ask_save_file("Export as CSV", kFoldersExportFileName);
        if (!file) return;
        start_work(
            [file = *file, csv = folder_problems_csv(folder_problems_.kept())](
                const std::atomic<bool>&) { platform::replace_file(file, csv, "cannot export"); },
            [](bool) {}, false);
    });
}

void WindowLogic::find_in_list(std::optional<std::size_t> current) {
    run_handler([this, current] {
        const std::optional<std::string> text =
            face_.ask_text("Find", "Find the paths that hold:", find_text_);
        if (!text || text->empty()) return;
        find_text_ = *text;
        find_from(current, false);
    });
}

void WindowLogic::find_next(std::optional<std::size_t> current, bool backwards) {
    if (find_text_.empty()) {
        find_in_list(current);
        return;
    }
    run_handler([this, current, backwards] { find_from(current, backwards); });
}

void WindowLogic::find_from(std::optional<std::size_t> current, bool backwards) {
    const std::size_t rows = items_.shown();
    auto matcher = std::make_shared<const PathMatcher>(find_text_);
    const auto show = [this, text = find_text_](std::optional<std::size_t> row) {
        if (row)
            face_.show_row(*row);
        else
            face_.show_message(MessageIcon::Information, "Kestrafin",
                               "No path in the list holds \"" + one_line_text(text) + "\".");
    };
    if (rows <= kMostRowsFoundInPlace) {
        const std::atomic<bool> never{false};
        show(find_row(items_.store(), rows, *matcher, current, backwards, never));
        return;
    }
    // The list does not change meanwhile, as the window is busy.
    struct Outcome {
        std::optional<std::size_t> row;
        bool stopped = false;
    };
    auto outcome = std::make_shared<Outcome>();
    start_work(
        [this, rows, matcher, current, backwards, outcome](const std::atomic<bool>& stop) {
            outcome->row = find_row(items_.store(), rows, *matcher, current, backwards, stop);
            outcome->stopped = !outcome->row && stop.load();
        },
        [](bool) {}, true,
        [outcome, show] {
            if (!outcome->stopped) show(outcome->row);
        });
}

void WindowLogic::open_containing_folder(std::size_t row) {
    run_handler([this, row] {
        if (row >= items_.shown()) return;
        // Waits for the desktop's answer, which a busy session bus may delay.
        start_work(
            [path = std::string(items_.store().text(row)),
             show = services_.show_in_file_manager](const std::atomic<bool>&) {
                try {
                    show(path);
                } catch (const std::exception& error) {
                    // A message box lays its whole text out.
                    const ShownParts named = shown_parts(path, kLongestTip);
                    const std::string name = named.cut
                                                 ? std::string(named.head) + std::string(kElision) +
                                                       std::string(named.tail)
                                                 : path;
                    throw std::runtime_error("The folder of \"" + name + "\" cannot be shown: " +
                                             platform::failure_text(error));
                }
            },
            [](bool) {}, false);
    });
}

void WindowLogic::open_home_page() {
    run_handler([this] { services_.open_address(kHomePageAddress); });
}

void WindowLogic::Image1_Click() {
    open_home_page();
}

void WindowLogic::lblorvane_Click() {
    open_home_page();
}

}  // namespace kestrafin::window

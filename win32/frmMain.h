// The main window on Windows: native controls at the window's fixed places,
// scaled from twips to the window's DPI, and the face through which the
// window logic drives them. Every decision is the logic's; this window draws,
// forwards events and carries the logic's work results back to its thread.
//
// Names: the window and its controls keep the names of the window's design
// (frmMain, lvFiles, txtFileroot, cmdgetfilelist, Label1, Image1, ...), so
// that each can be found by the name its users and documents give it.
//
// Threading: everything runs on the thread that made the window, except
// post(), which any thread may call.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <array>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "win32/accessible_names.h"
#include "win32/gdi_owner.h"
#include "win32/result_list_view.h"
#include "window/window_face.h"
#include "window/window_layout.h"
#include "window/window_logic.h"

namespace kestrafin::win32 {

class frmMain final : public window::WindowFace {
  public:
    // Makes the window, hidden, with its controls in their first state.
    // Raises std::system_error when the system cannot make it.
    explicit frmMain(std::string program_folder, window::WindowServices services = {});
    ~frmMain() override;
    frmMain(const frmMain&) = delete;
    frmMain& operator=(const frmMain&) = delete;

    // Loads the window (fills it from the settings file), then shows it
    // centred on its screen's work area with the focus on "Search"; on a work
    // area too small for it at its DPI, the whole window is shrunk to fit.
    void load_and_show();

    // Handles what the message loop takes before it is dispatched: input
    // dropped while the logic works, Escape, Tab and Enter. True when `message`
    // was taken and must not be dispatched.
    bool pre_translate(MSG& message);

    // Runs the thread's message loop until the window is gone; the exit code.
    static int run_message_loop(frmMain& window);

    HWND handle() const { return frmMain_; }
    window::WindowLogic& logic() { return *logic_; }
    unsigned dpi() const { return dpi_; }
    const window::LayoutScale& layout_scale() const { return scale_; }

    // WindowFace
    void show_message(window::MessageIcon icon, std::string_view title,
                      std::string_view text) override;
    std::optional<std::string> ask_text(std::string_view title, std::string_view prompt,
                                        std::string_view initial) override;
    window::FolderListAction show_folder_list(std::string_view title,
                                              std::string_view text) override;
    std::optional<std::string> ask_root(std::string_view title, std::string_view prompt,
                                        const std::vector<std::string>& recent) override;
    std::optional<std::string> ask_save_file(std::string_view title,
                                             std::string_view suggested_name) override;
    void set_text(window::Control control, std::string_view text) override;
    void set_tip(window::Control control, std::string_view text) override;
    bool fits(window::Control control, std::string_view text) override;
    void set_clipboard(std::string_view text) override;
    void list_reset(std::size_t rows) override;
    void list_grown(std::size_t rows) override;
    void show_row(std::size_t row) override;
    void set_activity(window::Activity activity) override;
    void start_timer(window::Timer timer, std::chrono::milliseconds interval) override;
    void stop_timer(window::Timer timer) override;
    void post(std::function<void()> task) override;

    // The controls.
    HWND frmMain_ = nullptr;
    HWND Label1 = nullptr;
    ResultListView lvFiles;
    HWND lblprocessrootdir = nullptr;
    HWND txtFileroot = nullptr;
    HWND lbllistcount = nullptr;
    HWND Image1 = nullptr;
    HWND cmdseldir = nullptr;
    HWND cmdsave = nullptr;
    HWND cmdsavelist = nullptr;
    HWND cmdloadlist = nullptr;
    HWND cmdgetfilelist = nullptr;
    HWND Label2 = nullptr;
    HWND lblorvane = nullptr;
    // How the last search or reload ended.
    HWND lblstatus = nullptr;

  private:
    static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam,
                                             LPARAM lparam);
    static LRESULT CALLBACK button_procedure(HWND button, UINT message, WPARAM wparam,
                                             LPARAM lparam, UINT_PTR id, DWORD_PTR self);
    LRESULT handle_message(UINT message, WPARAM wparam, LPARAM lparam);
    void create_controls();
    void create_tooltips();
    // Places every control and makes the fonts for the window's DPI.
    void lay_out();
    void on_command(int id, int code);
    LRESULT on_notify(NMHDR& header);
    LRESULT colour_control(HDC context, HWND control);
    void draw_logo(const DRAWITEMSTRUCT& item);
    // The logo at `side` pixels, shrunk from its larger picture.
    GdiOwner<HBITMAP> scaled_logo(HDC context, int side) const;
    // The five push buttons, "Search" first.
    std::array<HWND, 5> push_buttons() const {
        return {cmdgetfilelist, cmdsave, cmdseldir, cmdsavelist, cmdloadlist};
    }
    // The button that Enter presses while `focus` has the focus: that push
    // button itself, or else "Search".
    HWND default_button(HWND focus) const;
    // Draws the default button's mark on the one Enter presses with `focus`.
    void mark_default_button(HWND focus);
    void run_posted_tasks();
    // True for input that still counts while a search runs
    // (window/input_policy.h).
    bool reaches_running_search(const MSG& message) const;
    // Ctrl+F, F3 and Shift+F3 anywhere in the window; true when `message` was one.
    bool find_key(const MSG& message);
    // Folders dropped on the window set the root, also from an Explorer of
    // lower rights than the window's.
    void accept_dropped_folders();
    void on_drop(HDROP dropped);
    // The message that carries a drop's data between processes.
    static constexpr UINT kCopyGlobalData = 0x0049;
    void place_on_screen();
    // The layout's scale at the window's DPI, shrunk to fit its screen's work area.
    window::LayoutScale fitted_scale() const;
    RECT work_area() const;
    // The window's size with its frame at the present scale.
    SIZE outer_size() const;
    void name_for_assistive_technology();
    void describe_list();
    // The count's or the status line's text as assistive technology reads
    // it, read out (where `read_out`) now or once the window's work ends.
    void announce_text(HWND control, bool read_out = true);

    // Made before the controls and cleared before they go.
    std::unique_ptr<AccessibleNames> accessible_;
    // The count and the status line changed while the window worked.
    bool count_to_announce_ = false;
    bool status_to_announce_ = false;
    std::unique_ptr<window::WindowLogic> logic_;
    unsigned dpi_ = 96;
    window::LayoutScale scale_;
    window::Activity activity_ = window::Activity::Idle;
    std::wstring root_tip_;    // the whole root folder, for its tool tip
    std::wstring status_tip_;  // the logic's tip of the status line
    std::wstring link_tip_;
    HWND tooltips_ = nullptr;
    HWND saved_focus_ = nullptr;

    GdiOwner<HBRUSH> window_brush_;
    GdiOwner<HBRUSH> root_brush_;
    // The fonts of the controls at the window's DPI, made anew when it changes.
    std::vector<GdiOwner<HFONT>> fonts_;
    GdiOwner<HBITMAP> logo_;        // the picture, larger than it shows
    GdiOwner<HBITMAP> shown_logo_;  // at the size last drawn
    int shown_logo_side_ = 0;

    std::mutex tasks_lock_;
    std::deque<std::function<void()>> tasks_;
    bool window_gone_ = false;  // guarded by tasks_lock_
    // The program's own loop ends with the window; a test's loop goes on.
    bool ends_message_loop_ = false;
};

}  // namespace kestrafin::win32

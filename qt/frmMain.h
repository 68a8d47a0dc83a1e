// The main window's Qt face: its controls laid out at fixed places, drawn by
// Qt, with every event forwarded to the toolkit-free window logic, which
// decides what the window does and tells this face what to show.
//
// Names: the window, its controls (a kind prefix and a word: cmd, txt, lbl, lv,
// tmr, frm; Label1, Label2 and Image1 kept as the window was designed) and its
// handlers (control, underscore, event: cmdgetfilelist_Click, Form_Load) keep
// the names of the window's design, so that every control and handler can be
// found by the name its users and documents give it. Every other name follows
// the code's own lower_case convention.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <string>
#include <utility>
#include <vector>

#include "qt/clickable_label.h"
#include "qt/input_gate.h"
#include "qt/result_list.h"
#include "window/window_design.h"
#include "window/window_face.h"
#include "window/window_layout.h"
#include "window/window_logic.h"

namespace kestrafin::qt {

class frmMain : public QWidget, private window::WindowFace {
    Q_OBJECT
  public:
    explicit frmMain(std::string program_folder, window::WindowServices services = {});
    // The list reads the logic's entries in place, so it goes first; the
    // input gate, still watching while a search runs, is told it is gone.
    ~frmMain() override { delete std::exchange(lvFiles, nullptr); }

    // What the window does; the face only draws it.
    window::WindowLogic& logic() { return logic_; }
    const window::WindowLogic& logic() const { return logic_; }
    // True while a handler or the work it started runs.
    bool busy() const { return logic_.busy(); }

    QLabel* Label1;
    ResultListView* lvFiles;
    QLabel* lblprocessrootdir;
    QLineEdit* txtFileroot;
    QLabel* lbllistcount;
    ClickableLabel* Image1;
    QPushButton* cmdseldir;
    QPushButton* cmdsave;
    QPushButton* cmdsavelist;
    QPushButton* cmdloadlist;
    QPushButton* cmdgetfilelist;
    // How the last search or reload ended: a label of the window's own, in
    // its free space under the root box.
    ClickableLabel* lblstatus;
    QLabel* Label2;
    ClickableLabel* lblorvane;
    QTimer* tmrwait2;

  public slots:
    void Form_Load() { logic_.Form_Load(); }
    void cmdgetfilelist_Click() { logic_.cmdgetfilelist_Click(); }
    void cmdsave_Click() { logic_.cmdsave_Click(); }
    void cmdseldir_Click() { logic_.cmdseldir_Click(); }
    void tmrwait2_Timer() { logic_.tmrwait2_Timer(); }
    void cmdsavelist_Click() { logic_.cmdsavelist_Click(); }
    void cmdloadlist_Click() { logic_.cmdloadlist_Click(); }
    void Image1_Click() { logic_.Image1_Click(); }
    void lblorvane_Click() { logic_.lblorvane_Click(); }

    // The layout's scale on this screen with this system font.
    const window::LayoutScale& layout_scale() const { return scale_; }
    // Puts the window wholly on the available area of its screen, centred
    // where it fits.
    void place_on_screen();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    // Closing during a search, a save or a reload stops it and ends the program.
    void closeEvent(QCloseEvent* event) override;
    // Folders dropped on the window set the root.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
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
    void set_spoken_text(window::Control control, std::string_view text) override;
    void set_clipboard(std::string_view text) override;
    void list_reset(std::size_t rows) override;
    void list_grown(std::size_t rows) override;
    void show_row(std::size_t row) override;
    void set_activity(window::Activity activity) override;
    void start_timer(window::Timer timer, std::chrono::milliseconds interval) override;
    void stop_timer(window::Timer timer) override;
    void post(std::function<void()> task) override;

    void create_controls();
    void wire_events();
    void place(QWidget* widget, const window::design::Control& designed);
    // The list's context menu at `position` (in the list's viewport).
    void show_list_menu(const QPoint& position);
    std::vector<std::size_t> selected_rows() const;
    // The list's current row, where Find starts.
    std::optional<std::size_t> current_row() const;
    // Input that a running search lets through (window/input_policy.h).
    bool passes_while_searching(QObject* watched, QEvent* event) const;
    QTimer* timer_of(window::Timer timer);

    QTimer search_progress_;
    window::LayoutScale scale_;
    InputGate gate_;
    // Last, so that its work has ended before the controls it reports to go.
    window::WindowLogic logic_;
};

}  // namespace kestrafin::qt

// The main window: its controls laid out at fixed places, and the event
// handlers that drive the search, the root folder setting and the saved list.
//
// Names: the window, its controls (a kind prefix and a word: cmd, txt, lbl, lv,
// tmr, frm; Label1, Label2 and Image1 kept as the window was designed), its
// handlers (control, underscore, event: cmdgetfilelist_Click, Form_Load), the
// procedures savesettings and savedefsettings, the members newroot and
// listtotal, and the list's entry collection ListItems with its Add, Count and
// Clear keep the names of the window's design, so that every control and
// handler can be found by the name its users and documents give it. Every
// other name follows the code's own lower_case convention.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "app/background_work.h"
#include "app/clickable_label.h"
#include "app/result_list.h"
#include "platform/file_system.h"
#include "platform/start_program.h"

namespace kestrafin::app {

// What the window takes from its host; tests hand in stand-ins.
struct WindowServices {
    platform::ProgramStarter start_program = platform::start_program;
    // How often a running search moves what it found into the list and the
    // count label.
    std::chrono::milliseconds repaint_interval{50};
    // How long loading waits for the settings file before the window shows
    // without it.
    std::chrono::milliseconds settings_patience{10000};
};

inline constexpr const char* kHomePageHost = "kestrafin.example";
inline constexpr const char* kHomePageCommand = "explorer http://kestrafin.example/";

class frmMain : public QWidget {
    Q_OBJECT
  public:
    explicit frmMain(std::string program_folder, WindowServices services = {});

    // Stores the root box's text as the root folder setting.
    void savesettings();
    // Stores the default root as the root folder setting.
    void savedefsettings();

    // The root folder text, byte for byte as it is stored and searched.
    const std::string& root_text() const { return root_text_; }
    std::string settings_file() const;
    // True while a handler or the work it started runs.
    bool busy() const { return handler_running_ || work_.running(); }
    std::string saved_list_file() const;

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
    QLabel* Label2;
    ClickableLabel* lblorvane;
    QTimer* tmrwait2;

    // The text returned by the last "Change" prompt.
    QString newroot;
    // The entry count of the list at the last "Save List".
    std::size_t listtotal = 0;

  public slots:
    void Form_Load();
    void cmdgetfilelist_Click();
    void cmdsave_Click();
    void cmdseldir_Click();
    void tmrwait2_Timer();
    void cmdsavelist_Click();
    void cmdloadlist_Click();
    void Image1_Click();
    void lblorvane_Click();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    // Closing during a search, a save or a reload stops it and ends the program.
    void closeEvent(QCloseEvent* event) override;

  private:
    void create_controls();
    void wire_events();
    void set_root_text(std::string text);
    // Runs one handler; an error it raises is shown in a message box titled
    // "Kestrafin" and ends only that handler.
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
    void show_error(const QString& text);
    // Tells the user that there is no saved list to reload.
    void show_no_saved_list();
    void open_home_page();

    std::string program_folder_;
    WindowServices services_;
    platform::FileSystemObject filesys;
    std::string root_text_;
    bool handler_running_ = false;
    std::vector<std::function<void()>> deferred_;
    QTimer search_progress_;
    // Last, so that its thread has ended before anything it reads goes.
    BackgroundWork work_;
};

}  // namespace kestrafin::app

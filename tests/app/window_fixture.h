// Helpers for driving the real main window in tests.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/frmMain.h"
#include "tests/support/temp_tree.h"

namespace kestrafin::testing {

struct StartedProgram {
    std::string command_line;
    int style;
};

// A program folder with the window built over it and a recorder for started programs.
struct WindowUnderTest {
    TempFolder folder;
    std::shared_ptr<std::vector<StartedProgram>> started =
        std::make_shared<std::vector<StartedProgram>>();
    std::unique_ptr<app::frmMain> window;

    // Loads the window; with `stored_root` set, the settings file holds it first.
    explicit WindowUnderTest(
        const std::string* stored_root = nullptr,
        std::chrono::milliseconds repaint_interval = std::chrono::milliseconds(100)) {
        if (stored_root != nullptr)
            make_file(folder / "kestrafin.ini", "[PATH]\r\nFULLPATH=" + *stored_root + "\r\n");
        load(repaint_interval);
    }

    void load(std::chrono::milliseconds repaint_interval = std::chrono::milliseconds(100)) {
        app::WindowServices services;
        auto record = started;
        services.start_program = [record](const std::string& line, platform::WindowStyle style) {
            record->push_back({line, static_cast<int>(style)});
        };
        services.repaint_interval = repaint_interval;
        window = std::make_unique<app::frmMain>(folder.path(), services);
        window->Form_Load();
        window->show();
    }

    std::string ini() const { return read_bytes(folder / "kestrafin.ini"); }
    std::string saved_list() const { return read_bytes(folder / "kestrafinlist.dxb"); }
    app::ListItems& items() { return window->lvFiles->ListItemsOf(); }
    std::vector<std::string> entries() {
        std::vector<std::string> texts;
        for (std::size_t p = 1; p <= items().Count(); ++p) texts.emplace_back(items().Text(p));
        return texts;
    }
};

// Calls `act` with the next modal dialog once it is shown.
inline void when_dialog_shows(std::function<void(QWidget*)> act) {
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
            poll->stop();
            poll->deleteLater();
            act(dialog);
        }
    });
    poll->start();
}

struct SeenMessage {
    bool shown = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

// Records the next message box and closes it with its default button.
inline std::shared_ptr<SeenMessage> close_next_message_box() {
    auto seen = std::make_shared<SeenMessage>();
    when_dialog_shows([seen](QWidget* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        if (box == nullptr) return;
        seen->shown = true;
        seen->title = box->windowTitle();
        seen->text = box->text();
        seen->icon = box->icon();
        seen->buttons = box->standardButtons();
        box->accept();
    });
    return seen;
}

}  // namespace kestrafin::testing

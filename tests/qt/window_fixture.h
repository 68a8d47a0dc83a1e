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

#include "qt/frmMain.h"
#include "tests/support/paced_walk.h"
#include "tests/support/temp_tree.h"

namespace kestrafin::testing {

// A program folder with the window built over it and a recorder for the web
// addresses it opens.
struct WindowUnderTest {
    TempFolder folder;
    std::shared_ptr<std::vector<std::string>> opened = std::make_shared<std::vector<std::string>>();
    // A search is this walk when the window is built with `paced_walk` set.
    PacedWalk paced;
    std::unique_ptr<qt::frmMain> window;

    // Loads the window; with `stored_root` set, the settings file holds it first.
    explicit WindowUnderTest(const std::string* stored_root = nullptr, bool paced_walk = false) {
        if (stored_root != nullptr)
            make_file(folder / "kestrafin.ini", "[PATH]\r\nFULLPATH=" + *stored_root + "\r\n");
        load(paced_walk);
    }

    void load(bool paced_walk = false) {
        window::WindowServices services;
        services.open_address = [record = opened](const std::string& address) {
            record->push_back(address);
        };
        services.repaint_interval = std::chrono::milliseconds(100);
        if (paced_walk) services.search = paced.search();
        window = std::make_unique<qt::frmMain>(folder.path(), services);
        window->Form_Load();
        window->show();
    }

    // Waits until the running handler and the work it started have ended.
    [[nodiscard]] bool settled(int timeout_ms = 120000) {
        return QTest::qWaitFor([this] { return !window->busy(); }, timeout_ms);
    }

    std::string saved_list() const { return read_bytes(folder / "kestrafinlist.dxb"); }
    window::ListItems& items() { return window->lvFiles->list_items(); }
    std::vector<std::string> entries() {
        std::vector<std::string> texts;
        for (std::size_t p = 1; p <= items().Count(); ++p) texts.emplace_back(items().Text(p));
        return texts;
    }
};

// What a restless user does while the window works: the logo and the link,
// every list button by mouse and by key, and Enter for a search.
inline void press_everything(qt::frmMain& window) {
    QTest::mouseClick(window.Image1, Qt::LeftButton);
    QTest::mouseClick(window.lblorvane, Qt::LeftButton);
    for (QPushButton* button : {window.cmdsavelist, window.cmdloadlist, window.cmdgetfilelist}) {
        QTest::mouseClick(button, Qt::LeftButton);
        QTest::keyClick(button, Qt::Key_Space);
    }
    QTest::keyClick(&window, Qt::Key_Return);
}

// Calls `act` with the next modal dialog once it is shown; with `owner`
// set, stops looking when the owner goes.
inline void when_dialog_shows(std::function<void(QWidget*)> act, QObject* owner = nullptr) {
    auto* poll = new QTimer(owner);
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

// Records the next message box and closes it with its default button; with
// `owner` set, stops looking when the owner goes.
inline std::shared_ptr<SeenMessage> close_next_message_box(QObject* owner = nullptr) {
    auto seen = std::make_shared<SeenMessage>();
    when_dialog_shows(
        [seen](QWidget* dialog) {
            auto* box = qobject_cast<QMessageBox*>(dialog);
            if (box == nullptr) return;
            seen->shown = true;
            seen->title = box->windowTitle();
            seen->text = box->text();
            seen->icon = box->icon();
            seen->buttons = box->standardButtons();
            box->accept();
        },
        owner);
    return seen;
}

}  // namespace kestrafin::testing

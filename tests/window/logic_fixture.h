// The window logic over a program folder of its own, with a stand-in face, a
// recorder for the web addresses it opens, and a walk the test paces.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/paced_walk.h"
#include "tests/support/temp_tree.h"
#include "tests/window/stand_in_face.h"
#include "window/window_logic.h"

namespace kestrafin::testing {

// The logic of a window over a program folder of its own.
struct LogicUnderTest {
    TempFolder folder;
    StandInFace face;
    std::vector<std::string> opened;
    PacedWalk paced;
    std::unique_ptr<window::WindowLogic> logic;

    // Loads the window; with `stored_root` set, the settings file holds it
    // first; with `paced_walk` set, a search is the paced walk.
    explicit LogicUnderTest(const std::string* stored_root = nullptr, bool paced_walk = false) {
        if (stored_root != nullptr)
            make_file(folder / "kestrafin.ini", "[PATH]\r\nFULLPATH=" + *stored_root + "\r\n");
        load(paced_walk);
    }

    // What the logic is handed; `paced_walk` makes the search the paced walk.
    window::WindowServices services(bool paced_walk = false) {
        window::WindowServices given;
        given.open_address = [this](const std::string& address) { opened.push_back(address); };
        // Every tick shows what was found: the test decides when ticks come.
        given.repaint_interval = std::chrono::milliseconds(0);
        given.progress_interval = std::chrono::milliseconds(0);
        if (paced_walk) given.search = paced.search();
        return given;
    }

    // A restart: a new window over the same folder.
    void load(bool paced_walk = false) { load_with(services(paced_walk)); }
    void load_with(window::WindowServices given) {
        logic.reset();
        face.forget();
        logic = std::make_unique<window::WindowLogic>(face, folder.path(), std::move(given));
        face.logic = logic.get();
        logic->Form_Load();
        face.run_posted();
    }

    // Puts `root` into the root box through the "Change" prompt.
    void choose_root(const std::string& root) {
        face.answers.push_back(root);
        logic->cmdseldir_Click();
    }
    void fill(const std::vector<std::string>& texts) {
        auto& items = logic->list_items();
        items.Clear();
        for (const auto& text : texts) items.Add(text);
        items.Refresh();
    }
    std::vector<std::string> entries() const {
        std::vector<std::string> texts;
        const auto& items = logic->list_items();
        for (std::size_t p = 1; p <= items.Count(); ++p) texts.emplace_back(items.Text(p));
        return texts;
    }
    std::string ini() const { return read_bytes(folder / "kestrafin.ini"); }
    std::string saved_list() const { return read_bytes(folder / "kestrafinlist.dxb"); }
    bool saved_list_exists() const { return platform::file_exists(folder / "kestrafinlist.dxb"); }
};

// Every handler a restless user reaches while the window works.
inline void press_everything(window::WindowLogic& logic) {
    logic.Image1_Click();
    logic.lblorvane_Click();
    logic.cmdsave_Click();
    logic.cmdseldir_Click();
    logic.cmdsavelist_Click();
    logic.cmdloadlist_Click();
    logic.cmdgetfilelist_Click();
}

}  // namespace kestrafin::testing

// What the user can do with the list: copy paths as their real text and show
// a file in the desktop's file manager.
#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/window/logic_fixture.h"

using namespace kestrafin::testing;
using kestrafin::window::MessageIcon;

TEST(ResultActions, CopyPutsTheChosenPathsOnTheClipboardAsTheirRealText) {
    LogicUnderTest w;
    w.fill({"/a/new\nline.txt", "/b/\xFFx", "/c"});
    w.logic->copy_paths({2, 0});
    EXPECT_EQ(w.face.clipboard, "/c\n/a/new\nline.txt");
    EXPECT_TRUE(w.face.messages.empty());
    w.logic->copy_all_paths();
    EXPECT_EQ(w.face.clipboard, "/a/new\nline.txt\n/b/\xEF\xBF\xBDx\n/c");
    ASSERT_EQ(w.face.messages.size(), 1u);  // the replaced byte is told
    EXPECT_EQ(w.face.messages[0].icon, MessageIcon::Information);
    w.logic->copy_paths({7});  // a row the list does not show
    EXPECT_EQ(w.face.clipboard, "");
}

TEST(ResultActions, OpenContainingFolderShowsTheFileAndAFailureIsReported) {
    LogicUnderTest w;
    std::vector<std::string> shown;
    auto given = w.services();
    given.show_in_file_manager = [&](const std::string& path) {
        shown.push_back(path);
        if (path == "/broken") throw std::runtime_error("cannot start 'xdg-open'");
    };
    w.load_with(given);
    w.fill({"/a/report.pdf", "/broken"});
    w.logic->open_containing_folder(0);
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(shown, std::vector<std::string>{"/a/report.pdf"});
    EXPECT_TRUE(w.face.messages.empty());
    w.logic->open_containing_folder(1);
    ASSERT_TRUE(w.face.settled());
    ASSERT_EQ(w.face.messages.size(), 1u);
    EXPECT_EQ(w.face.messages[0].title, "Kestrafin");
    EXPECT_EQ(w.face.messages[0].text,
              "The folder of \"/broken\" cannot be shown: cannot start 'xdg-open'");
    EXPECT_EQ(w.entries(), (std::vector<std::string>{"/a/report.pdf", "/broken"}));
}

// What the user can do with the list: copy paths as their real text and show
// a file in the desktop's file manager.
#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/path_rules.h"
#include "tests/window/logic_fixture.h"
#include "window/context_menu.h"
#include "window/shown_row.h"

using namespace kestrafin::testing;
using kestrafin::window::MessageIcon;
using kestrafin::window::PathFormat;

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

TEST(ResultActions, TheFolderPathAndEveryPathQuotedOrEndedByANulAreCopied) {
    LogicUnderTest w;
    const std::string s(1, kestrafin::platform::kPathSeparator);
    w.fill({s + "a" + s + "new\nline.txt", s + "b" + s + "say \"hi\".txt", s + "root.txt"});
    w.logic->copy_folder_path(1);
    EXPECT_EQ(w.face.clipboard, s + "b");
    w.logic->copy_folder_path(2);  // a file in the root of the file system
    EXPECT_EQ(w.face.clipboard, s);
    w.logic->copy_all_paths(PathFormat::quoted);
    EXPECT_EQ(w.face.clipboard, "\"" + s + "a" + s + "new\nline.txt\"\n\"" + s + "b" + s +
                                    "say \"\"hi\"\".txt\"\n\"" + s + "root.txt\"");
    w.logic->copy_all_paths(PathFormat::nul_ended);
    EXPECT_EQ(w.face.clipboard, s + "a" + s + "new\nline.txt" + '\0' + s + "b" + s +
                                    "say \"hi\".txt" + '\0' + s + "root.txt" + '\0');
    EXPECT_TRUE(w.face.messages.empty());
}

TEST(ResultActions, TheMenuOffersTheFormsThatKeepALineBreakInANameWhereOneDoes) {
    using kestrafin::window::ListCommand;
    using kestrafin::window::ListMenuContext;
    const auto commands = [](const ListMenuContext& context) {
        std::vector<std::pair<ListCommand, bool>> items;
        for (const auto& item : kestrafin::window::list_menu(context))
            items.emplace_back(item.command, item.enabled);
        return items;
    };
    using Items = std::vector<std::pair<ListCommand, bool>>;
    EXPECT_EQ(commands({}), (Items{{ListCommand::Copy, false},
                                   {ListCommand::CopyFolder, false},
                                   {ListCommand::CopyAll, false},
                                   {ListCommand::OpenFolder, false}}));
    EXPECT_EQ(commands({.rows_selected = true,
                        .has_rows = true,
                        .on_a_row = true,
                        .line_breaks = true,
                        .clipboard_takes_nul = true}),
              (Items{{ListCommand::Copy, true},
                     {ListCommand::CopyFolder, true},
                     {ListCommand::CopyAll, true},
                     {ListCommand::CopyAllQuoted, true},
                     {ListCommand::CopyAllNul, true},
                     {ListCommand::OpenFolder, true}}));
    EXPECT_EQ(commands({.has_rows = true, .line_breaks = true}).size(), 5u);  // no NULs there
    LogicUnderTest w;
    w.fill({"/a", "/b\rc"});
    EXPECT_TRUE(kestrafin::window::holds_line_break(w.logic->list_items().store(), 2));
    EXPECT_FALSE(kestrafin::window::holds_line_break(w.logic->list_items().store(), 1));
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

TEST(ResultActions, APathOfMegabytesIsCopiedOffTheWindowsThreadAndNamedShortInAMessage) {
    LogicUnderTest w;
    auto given = w.services();
    given.show_in_file_manager = [](const std::string&) {
        throw std::runtime_error("cannot start 'xdg-open'");
    };
    w.load_with(given);
    const std::string huge = "/srv" + std::string(kestrafin::window::kLongestCopyInPlace, 'x') +
                             "/\xFF"
                             "end.dat";
    w.fill({"/a", huge});
    w.logic->copy_paths({0, 1});
    // Joined on the work thread: the window stays busy until it is in place.
    EXPECT_TRUE(w.logic->busy());
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.face.clipboard, "/a\n" + huge.substr(0, huge.size() - 8) +
                                    "\xEF\xBF\xBD"
                                    "end.dat");
    ASSERT_EQ(w.face.messages.size(), 1u);  // the replaced byte is told, once idle
    EXPECT_EQ(w.face.activities.back(), kestrafin::window::Activity::Idle);

    w.logic->open_containing_folder(1);
    ASSERT_TRUE(w.face.settled());
    ASSERT_EQ(w.face.messages.size(), 2u);
    const std::string& text = w.face.messages[1].text;
    EXPECT_LT(text.size(), 2 * kestrafin::window::kLongestTip);
    EXPECT_TRUE(text.starts_with("The folder of \"/srvxxx"));
    EXPECT_TRUE(
        text.ends_with("x/\xFF"
                       "end.dat\" cannot be shown: cannot start 'xdg-open'"));
}

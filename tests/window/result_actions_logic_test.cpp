// What the user can do with the list: copy paths as their real text, show a
// file in the desktop's file manager, and find rows by a text their paths hold.
#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/path_rules.h"
#include "tests/window/logic_fixture.h"
#include "window/context_menu.h"
#include "window/list_find.h"
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
                                   {ListCommand::OpenFolder, false},
                                   {ListCommand::ExportAll, false},
                                   {ListCommand::ExportSelected, false},
                                   {ListCommand::FoldersNotRead, false},
                                   {ListCommand::Find, false},
                                   {ListCommand::FindNext, false}}));
    EXPECT_EQ(commands({.rows_selected = true,
                        .has_rows = true,
                        .on_a_row = true,
                        .line_breaks = true,
                        .clipboard_takes_nul = true,
                        .folders_not_read = true}),
              (Items{{ListCommand::Copy, true},
                     {ListCommand::CopyFolder, true},
                     {ListCommand::CopyAll, true},
                     {ListCommand::CopyAllQuoted, true},
                     {ListCommand::CopyAllNul, true},
                     {ListCommand::OpenFolder, true},
                     {ListCommand::ExportAll, true},
                     {ListCommand::ExportSelected, true},
                     {ListCommand::FoldersNotRead, true},
                     {ListCommand::Find, true},
                     {ListCommand::FindNext, true}}));
    EXPECT_EQ(commands({.has_rows = true, .line_breaks = true}).size(), 10u);  // no NULs there
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

TEST(ResultActions, FindMatchesLettersOfEitherCaseAsWindowsComparesNames) {
    const struct {
        const char* text;
        const char* path;
        bool found;
    } cases[] = {
        {"HR/BUD", "/srv/hr/Budget.xlsx", true},
        {"ÉTÉ", "/srv/été.jpg", true},
        {"STRASSE", "/srv/ſtrasse.pdf", true},
        {"straße", "/srv/STRASSE.pdf", false},
        {"x",
         "/srv/\xFF"
         "X.bin",
         true},
        {"budget", "/srv/bud get", false},
    };
    for (const auto& each : cases)
        EXPECT_EQ(kestrafin::window::PathMatcher(each.text).matches(each.path), each.found)
            << each.text << " in " << each.path;
}

TEST(ResultActions, FindStartsBesideTheCurrentRowWrapsAndOffersTheLastText) {
    LogicUnderTest w;
    w.fill({"/a/report", "/b", "/c/REPORT", "/d"});
    w.face.answers = {std::string("report"), std::string("missing")};
    w.logic->find_next(2, false);  // no text yet: asks, then wraps to the first row
    w.logic->find_next(0, false);
    w.logic->find_next(0, true);  // upwards, past the top
    w.logic->find_in_list(0);
    EXPECT_EQ(w.face.rows_brought_into_view, (std::vector<std::size_t>{0, 2, 2}));
    EXPECT_EQ(w.face.prompt_texts, (std::vector<std::string>{"", "report"}));
    ASSERT_EQ(w.face.messages.size(), 1u);
    EXPECT_EQ(w.face.messages[0].text, "No path in the list holds \"missing\".");
}

TEST(ResultActions, ALongListIsSearchedOffTheWindowsThread) {
    LogicUnderTest w;
    std::vector<std::string> rows(kestrafin::window::kMostRowsFoundInPlace + 2, "/srv/x");
    rows[5] = "/srv/needle";
    w.fill(rows);
    w.face.answers = {std::string("NEEDLE")};
    w.logic->find_in_list(rows.size() - 1);
    EXPECT_EQ(w.face.activity, kestrafin::window::Activity::Stoppable);
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.face.rows_brought_into_view, std::vector<std::size_t>{5});
}

TEST(ResultActions, ExportWritesTheRowsAsTheScannersCsvWithLengthsAndReasons) {
    LogicUnderTest w;
    const std::string sep(1, kestrafin::platform::kPathSeparator);
    const std::string deep = sep + "r" + sep + std::string(201, 'x') + sep + "f.txt";
    const std::string plain = sep + "short" + sep + "g", top = sep + "c";
    w.fill({deep, plain, top});
    const std::string file = w.folder / "out.csv";
    w.face.answers = {file, file};
    w.logic->export_list();
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.face.prompt_texts, std::vector<std::string>{"kestrafin-list.csv"});
    const std::string header = "\xEF\xBB\xBFpath,folder_length,path_length,kind,reasons,error\r\n";
    EXPECT_EQ(read_bytes(file), header + deep + ",204,210,file,folder_length,\r\n" + plain +
                                    ",6,8,file,,\r\n" + top + ",0,2,file,,\r\n");
    EXPECT_EQ(w.face.status_line, "Exported 3 paths to " + file);
    w.logic->export_selection({2, 9});  // a row the list does not show is left out
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(read_bytes(file), header + top + ",0,2,file,,\r\n");
    EXPECT_EQ(w.face.status_line, "Exported 1 path to " + file);

    // A file that cannot be written is told, and the line stays.
    w.face.answers = {
        w.folder / ("missing" + std::string(1, kestrafin::platform::kPathSeparator) + "out.csv"),
        std::nullopt};
    w.logic->export_list();
    ASSERT_TRUE(w.face.settled());
    ASSERT_EQ(w.face.messages.size(), 1u);
    EXPECT_EQ(w.face.messages[0].title, "Kestrafin");
    EXPECT_EQ(w.face.status_line, "Exported 1 path to " + file);
    w.logic->export_list();  // cancelled
    EXPECT_FALSE(w.logic->busy());
}

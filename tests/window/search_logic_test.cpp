// "Search": the list, the count label, Escape, and a window that acts on no
// input while the walk runs.
#include <gtest/gtest.h>

#include <cerrno>

#include "platform/path_rules.h"
#include "tests/support/host.h"
#include "tests/window/logic_fixture.h"
#include "window/count_label.h"

using namespace kestrafin::testing;
using kestrafin::window::Activity;
using kestrafin::window::count_label_text;
using kestrafin::window::Timer;

namespace {

// A program folder whose own tree is searched: a long folder with `files` files.
struct SearchedFolder : LogicUnderTest {
    std::string long_folder;
    explicit SearchedFolder(int files) {
        std::vector<std::string> names;
        for (int i = 0; i < files; ++i) names.push_back("file" + std::to_string(i));
        long_folder = make_folder_chain(folder.path(), {"tree", std::string(200, 's')}, names);
        choose_root(folder / "tree");
    }
};

// A window whose search is the paced walk, started.
struct PacedSearch : LogicUnderTest {
    PacedSearch() : LogicUnderTest(nullptr, true) { logic->cmdgetfilelist_Click(); }
};

}  // namespace

TEST(SearchLogic, TheCountLabelShowsTheCountAndRecordsFound) {
    SearchedFolder one(1);
    one.logic->cmdgetfilelist_Click();
    ASSERT_TRUE(one.face.settled());
    const std::vector<std::string> found = {one.long_folder + kestrafin::platform::kPathSeparator +
                                            "file0"};
    EXPECT_EQ(one.entries(), found);
    EXPECT_EQ(one.face.shown_rows(), found);
    EXPECT_EQ(one.face.count_label, "1 records found");

    SearchedFolder many(1057);
    many.logic->cmdgetfilelist_Click();
    ASSERT_TRUE(many.face.settled());
    EXPECT_EQ(many.face.count_label, "1057 records found");
    EXPECT_EQ(many.face.rows_shown, 1057u);
    // A second search starts from an empty list.
    many.logic->cmdgetfilelist_Click();
    ASSERT_TRUE(many.face.settled());
    EXPECT_EQ(many.logic->list_items().Count(), 1057u);
    EXPECT_EQ(many.face.rows_shown, 1057u);
}

TEST(SearchLogic, ASearchThatFindsNothingLeavesTheLabelAndTheListEmpty) {
    SearchedFolder w(3);
    w.logic->cmdgetfilelist_Click();
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.logic->list_items().Count(), 3u);
    w.choose_root(w.folder / "missing");
    w.logic->cmdgetfilelist_Click();
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.logic->list_items().Count(), 0u);
    EXPECT_EQ(w.face.count_label, "");
    EXPECT_EQ(w.face.rows_shown, 0u);
}

TEST(SearchLogic, TheLabelFollowsTheSearchAndTheListEndsWithWhatTheWalkFoundInItsOrder) {
    PacedSearch w;
    EXPECT_EQ(w.face.activity, Activity::Stoppable);
    EXPECT_EQ(w.face.count_label, "");
    ASSERT_TRUE(w.face.timer_running(Timer::search_progress));
    std::vector<std::string> found;
    for (int folder = 0; folder < 3; ++folder) {
        std::vector<std::string> entries;
        for (int file = 0; file <= folder * 40; ++file)
            entries.push_back("/f" + std::to_string(folder) + "/" + std::to_string(file));
        found.insert(found.end(), entries.begin(), entries.end());
        ASSERT_TRUE(w.paced.find(entries));
        w.face.fire(Timer::search_progress);
        EXPECT_EQ(w.face.count_label, count_label_text(found.size()));
        if (folder == 0) {
            EXPECT_EQ(w.face.rows_shown, 1u);  // the first rows show at once
        }
        EXPECT_EQ(w.entries(), found);
        EXPECT_TRUE(w.logic->busy());
    }
    ASSERT_TRUE(w.paced.end());
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.face.shown_rows(), found);
    EXPECT_EQ(w.face.count_label, "123 records found");
    EXPECT_FALSE(w.face.timer_running(Timer::search_progress));
    EXPECT_EQ(w.face.activities, (std::vector<Activity>{Activity::Stoppable, Activity::Idle}));
}

TEST(SearchLogic, WhileItRunsTheStatusLineTellsHowFarTheWalkHasCome) {
    PacedSearch w;
    w.face.fire(Timer::search_progress);
    EXPECT_EQ(w.face.status_line, "");  // nothing read yet
    ASSERT_TRUE(w.paced.find({"/a"}));
    w.face.fire(Timer::search_progress);
    EXPECT_EQ(w.face.status_line, "1 folder read, now in folder");
    ASSERT_TRUE(w.paced.find({"/b"}));
    w.face.status_room = 26;
    w.face.fire(Timer::search_progress);
    EXPECT_EQ(w.face.status_line, "2 folders read, now in f\xE2\x80\xA6r");
    EXPECT_EQ(w.face.status_tip, "2 folders read, now in folder");
    ASSERT_TRUE(w.paced.end());
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.face.status_line.substr(0, 18), "2 folders read in ");  // how it ended
}

TEST(SearchLogic, EscapeStopsASearchAndKeepsWhatItFound) {
    PacedSearch w;
    ASSERT_TRUE(w.paced.find({"/a", "/b"}));
    w.face.press_escape();
    ASSERT_TRUE(w.face.settled());
    EXPECT_TRUE(w.paced.stopped());
    EXPECT_EQ(w.entries(), (std::vector<std::string>{"/a", "/b"}));
    EXPECT_EQ(w.face.shown_rows(), w.entries());
    EXPECT_EQ(w.face.count_label, "2 records found");
    EXPECT_TRUE(w.face.messages.empty());
    EXPECT_EQ(w.face.activity, Activity::Idle);
    // Escape when idle does nothing; the next search is whole again.
    w.logic->escape_pressed();
    w.logic->cmdgetfilelist_Click();
    ASSERT_TRUE(w.paced.find({"/a", "/b"}));
    ASSERT_TRUE(w.paced.find({"/c"}));
    ASSERT_TRUE(w.paced.end());
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.entries(), (std::vector<std::string>{"/a", "/b", "/c"}));
}

TEST(SearchLogic, InputDuringASearchIsNotActedOnThenOrLater) {
    PacedSearch w;
    ASSERT_TRUE(w.paced.find({"/a"}));
    press_everything(*w.logic);
    w.face.run_posted();
    ASSERT_TRUE(w.paced.end());
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.face.resets, 1);  // one search, none replayed
    EXPECT_TRUE(w.opened.empty());
    EXPECT_TRUE(w.face.prompts.empty());
    EXPECT_TRUE(w.face.messages.empty());  // "Reload List" would have said there is no file
    EXPECT_FALSE(w.saved_list_exists());
    EXPECT_EQ(w.entries(), std::vector<std::string>{"/a"});
    // Afterwards the window takes input again.
    w.logic->cmdsavelist_Click();
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.saved_list(), "\"/a\"\r\n");
}

TEST(SearchLogic, ASearchThatFailsIsReportedAndKeepsWhatItFound) {
    LogicUnderTest w;
    auto given = w.services();
    given.search = [](const std::string& root, kestrafin::search::WalkVisitor& visitor,
                      const std::atomic<bool>&) {
        tell_file(visitor, root + "/found first");
        throw std::runtime_error("the walk failed");
    };
    w.load_with(given);
    w.choose_root("/root");
    w.logic->cmdgetfilelist_Click();
    ASSERT_TRUE(w.face.settled());
    ASSERT_EQ(w.face.messages.size(), 1u);
    EXPECT_EQ(w.face.messages[0].title, "Kestrafin");
    EXPECT_EQ(w.face.messages[0].text, "the walk failed");
    EXPECT_EQ(w.face.shown_rows(), std::vector<std::string>{"/root/found first"});
    EXPECT_EQ(w.face.count_label, "1 records found");
}

TEST(SearchLogic, TheLogoAndTheLinkOpenTheHomePageAndAFailureIsReported) {
    LogicUnderTest w;
    w.logic->Image1_Click();
    w.logic->lblorvane_Click();
    EXPECT_EQ(w.opened, std::vector<std::string>(2, "http://kestrafin.example/"));
    auto given = w.services();
    given.open_address = [](const std::string&) {
        throw std::runtime_error("cannot start 'xdg-open': No such file or directory");
    };
    w.load_with(given);
    w.fill({"/kept"});
    w.logic->Image1_Click();
    ASSERT_EQ(w.face.messages.size(), 1u);
    EXPECT_EQ(w.face.messages[0].icon, kestrafin::window::MessageIcon::Critical);
    EXPECT_EQ(w.face.messages[0].title, "Kestrafin");
    EXPECT_EQ(w.face.messages[0].text, "cannot start 'xdg-open': No such file or directory");
    EXPECT_EQ(w.entries(), std::vector<std::string>{"/kept"});
    EXPECT_FALSE(w.logic->busy());
}

TEST(SearchLogic, SearchReadsStopWhileASearchRunsAndAClickStopsIt) {
    PacedSearch w;
    EXPECT_EQ(w.face.search_caption, "Stop");
    ASSERT_TRUE(w.paced.find({"/a"}));
    w.logic->cmdgetfilelist_Click();
    ASSERT_TRUE(w.face.settled());
    EXPECT_TRUE(w.paced.stopped());
    EXPECT_EQ(w.face.search_caption, "Search");
    EXPECT_EQ(w.entries(), std::vector<std::string>{"/a"});
    EXPECT_EQ(w.face.status_line.substr(0, 17), "1 folder read in ");
    EXPECT_EQ(w.face.status_line.substr(w.face.status_line.size() - 11), " s, stopped");
    EXPECT_EQ(w.face.resets, 1);  // the click only stopped: no second search
}

TEST(SearchLogic, TheStatusLineTellsWhatTheWalkCouldNotReadOrDidNotEnter) {
    LogicUnderTest w;
    auto given = w.services();
    given.search = [](const std::string& root, kestrafin::search::WalkVisitor& visitor,
                      const std::atomic<bool>&) {
        tell_done(visitor, root);
        tell_not_read(visitor, root + "/locked", EACCES);
        tell_not_entered(visitor, root + "/loop", kestrafin::search::NotEntered::cycle);
        tell_done(visitor, root + "/open");
    };
    w.load_with(given);
    w.choose_root("/root");
    w.logic->cmdgetfilelist_Click();
    ASSERT_TRUE(w.face.settled());
    const std::string& line = w.face.status_line;
    EXPECT_EQ(line.substr(0, 18), "2 folders read in ");
    EXPECT_EQ(line.substr(line.find(" s, ")), " s, 1 could not be read, 1 not entered");
    // The tip: the whole line, then the folders with their reasons.
    EXPECT_EQ(w.face.status_tip.substr(0, line.size() + 35),
              line + "\n\nCould not be read:\n/root/locked: ");
    EXPECT_EQ(w.face.status_tip.substr(w.face.status_tip.find("\n\nNot entered:")),
              "\n\nNot entered:\n/root/loop: it leads back to a folder that is being walked"
              "\nClick the line for every folder and its reason.");
    EXPECT_TRUE(w.face.messages.empty());

    // The whole list, each with its reason, is shown, copied and exported.
    std::string denied = kestrafin::platform::error_text({EACCES, std::system_category()});
    denied.resize(denied.find_last_not_of(".\r\n ") + 1);  // the host's words, as a clause
    const std::string loop = "it leads back to a folder that is being walked";
    const std::string listed = "Could not be read:\n/root/locked: " + denied +
                               "\n\nNot entered:\n/root/loop: " + loop + "\n";
    w.logic->folder_list_requested();
    ASSERT_EQ(w.face.folder_lists.size(), 1u);
    EXPECT_EQ(w.face.folder_lists[0], std::make_pair(std::string("Folders not read"), listed));
    w.face.folder_list_action = kestrafin::window::FolderListAction::copy;
    w.logic->folder_list_requested();
    EXPECT_EQ(w.face.clipboard, listed);
    w.face.folder_list_action = kestrafin::window::FolderListAction::export_csv;
    const std::string csv = w.folder / "folders.csv";
    w.face.answers = {csv};
    w.logic->folder_list_requested();
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(read_bytes(csv), "\xEF\xBB\xBFpath,state,reason\r\n/root/locked,unreadable," +
                                   denied + "\r\n/root/loop,not entered," + loop + "\r\n");
    // The next search starts without them.
    make_folder_chain(w.folder.path(), {"tree"});
    w.load();
    w.choose_root(w.folder / "tree");
    w.logic->cmdgetfilelist_Click();
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.face.status_tip, w.face.status_line);
    EXPECT_EQ(w.face.status_line.substr(0, 17), "1 folder read in ");
    w.logic->folder_list_requested();
    EXPECT_EQ(w.face.folder_lists.size(), 0u);
}

TEST(SearchLogic, ARootThatCannotBeOpenedIsReportedWithItsReason) {
    LogicUnderTest w;
    make_file(w.folder / "a file", "x");
    // The reasons are the host's words.
    const struct {
        std::string root;
        std::string posix_reason;
    } rows[] = {
        {w.folder / "missing", "No such file or directory"},
        {w.folder / "a file", "Not a directory"},
    };
    for (const auto& row : rows) {
        w.face.messages.clear();
        w.choose_root(row.root);
        w.logic->cmdgetfilelist_Click();
        ASSERT_TRUE(w.face.settled());
        ASSERT_EQ(w.face.messages.size(), 1u) << row.root;
        EXPECT_EQ(w.face.messages[0].icon, kestrafin::window::MessageIcon::Critical);
        EXPECT_EQ(w.face.messages[0].title, "Kestrafin");
        const std::string said = "The folder \"" + row.root + "\" cannot be searched: ";
        const std::string& text = w.face.messages[0].text;
        EXPECT_EQ(text.substr(0, said.size()), said);
        if (kestrafin::testing::kPosixHost) {
            EXPECT_EQ(text.substr(said.size()), row.posix_reason + ".");
        }
        EXPECT_EQ(w.logic->list_items().Count(), 0u);
        EXPECT_EQ(w.face.count_label, "");
        EXPECT_EQ(w.face.status_line, "");
    }
}

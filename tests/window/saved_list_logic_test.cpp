// "Save List" and "Reload List".
#include <gtest/gtest.h>

#include "tests/window/logic_fixture.h"
#include "window/count_label.h"

using namespace kestrafin::testing;
using kestrafin::window::Activity;
using kestrafin::window::MessageIcon;

namespace {

const std::string kRoot = "/unused";

std::vector<std::string> numbered(std::size_t count) {
    std::vector<std::string> texts;
    texts.reserve(count);
    for (std::size_t i = 0; i < count; ++i) texts.push_back("/srv/share/f, " + std::to_string(i));
    return texts;
}

}  // namespace

TEST(SavedListLogic, SaveThenReloadGivesBackTheSameEntries) {
    LogicUnderTest w(&kRoot);
    const std::vector<std::string> texts = {"/a/one", "/b/with, comma", "/c/three"};
    w.fill(texts);
    w.logic->cmdsavelist_Click();
    EXPECT_EQ(w.face.activity, Activity::Working);  // Escape does not stop a save
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.saved_list(), "\"/a/one\"\r\n\"/b/with, comma\"\r\n\"/c/three\"\r\n");
    EXPECT_EQ(w.face.count_label, "");  // the count stays
    EXPECT_TRUE(w.face.messages.empty());
    // Where and when the list was saved ("YYYY-MM-DD HH:MM").
    const std::string to = "Saved to " + w.logic->saved_list_file() + " at 2";
    EXPECT_EQ(w.face.status_line.substr(0, to.size()), to);
    EXPECT_EQ(w.face.status_line.size(), to.size() + 15);
    const std::string first = w.saved_list();
    w.logic->cmdsavelist_Click();
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.saved_list(), first);

    w.load();  // a restart
    w.logic->cmdloadlist_Click();
    EXPECT_EQ(w.face.activity, Activity::Stoppable);  // Escape stops a reload
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.entries(), texts);
    EXPECT_EQ(w.face.shown_rows(), texts);
    EXPECT_EQ(w.face.count_label, "3 records found");
    EXPECT_EQ(w.face.activities, (std::vector<Activity>{Activity::Stoppable, Activity::Idle}));
    // Where the list came from, and when it was saved ("YYYY-MM-DD HH:MM").
    const std::string from = "Reloaded from " + w.logic->saved_list_file() + ", saved 2";
    EXPECT_EQ(w.face.status_line.substr(0, from.size()), from);
    EXPECT_EQ(w.face.status_line.size(), from.size() + 15);
    const std::string reloaded = w.face.status_line;
    // A line too long for its room says the time first; the tip says it all.
    w.face.status_room = 40;
    w.logic->status_room_changed();
    EXPECT_EQ(w.face.status_line.substr(0, 24), "Saved " + reloaded.substr(from.size() - 1) + ", ");
    EXPECT_EQ(w.face.status_tip, reloaded);
    EXPECT_EQ(w.face.spoken_status, reloaded);
    // A save says so: the reload's time is no longer the file's.
    w.logic->cmdsavelist_Click();
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.face.status_line.substr(0, 9), "Saved at ");
    EXPECT_EQ(w.face.status_tip.substr(0, 9), "Saved to ");
}

TEST(SavedListLogic, AnEmptyListSavesAsZeroBytesAndReloadsEmpty) {
    LogicUnderTest w(&kRoot);
    w.logic->cmdsavelist_Click();
    ASSERT_TRUE(w.face.settled());
    ASSERT_TRUE(w.saved_list_exists());
    EXPECT_EQ(w.saved_list(), "");
    w.fill({"/x"});
    w.face.count_label = "1 records found";
    w.logic->cmdloadlist_Click();
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.logic->list_items().Count(), 0u);
    EXPECT_EQ(w.face.rows_shown, 0u);
    EXPECT_EQ(w.face.count_label, "");
}

class SavedListSizes : public ::testing::TestWithParam<std::size_t> {};

TEST_P(SavedListSizes, ListsPastTheSixteenBitLimitSaveAndReload) {
    LogicUnderTest w(&kRoot);
    const auto texts = numbered(GetParam());
    w.fill(texts);
    w.logic->cmdsavelist_Click();
    ASSERT_TRUE(w.face.settled());
    w.fill({});
    w.logic->cmdloadlist_Click();
    ASSERT_TRUE(w.face.settled());
    EXPECT_TRUE(w.entries() == texts);
    EXPECT_EQ(w.face.count_label, kestrafin::window::count_label_text(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Counts, SavedListSizes, ::testing::Values(32766, 32767, 100000));

TEST(SavedListLogic, AListLargerThanOneStorageBlockReloadsInFull) {
    LogicUnderTest w(&kRoot);
    // About 12 MiB of texts, one of them larger than a 4 MiB block alone.
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < 40000; ++i)
        texts.push_back("/srv/" + std::string(180 + i % 97, 'a' + i % 26) + std::to_string(i));
    texts.insert(texts.begin() + 20000, "/huge/" + std::string(5 << 20, 'h'));
    w.fill(texts);
    w.logic->cmdsavelist_Click();
    ASSERT_TRUE(w.face.settled());
    w.fill({});
    w.logic->cmdloadlist_Click();
    ASSERT_TRUE(w.face.settled());
    EXPECT_TRUE(w.entries() == texts);
    EXPECT_EQ(w.face.count_label, "40001 records found");
}

TEST(SavedListLogic, HandEditedLinesReloadByTheFieldRules) {
    LogicUnderTest w(&kRoot);
    make_file(w.folder / "kestrafinlist.dxb", "\"/a\"\r\n/b,/c\r\n\r\n\"/d\"\r\n");
    w.logic->cmdloadlist_Click();
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.entries(), (std::vector<std::string>{"/a", "/b", "/c", "", "/d"}));
    EXPECT_EQ(w.face.count_label, "5 records found");
}

TEST(SavedListLogic, AReloadReplacesTheResultOfASearch) {
    LogicUnderTest w(&kRoot, true);
    w.logic->cmdgetfilelist_Click();
    ASSERT_TRUE(w.paced.find(numbered(57)));
    ASSERT_TRUE(w.paced.end());
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.face.count_label, "57 records found");
    make_file(w.folder / "kestrafinlist.dxb", "\"/1\"\r\n\"/2\"\r\n\"/3\"\r\n");
    w.logic->cmdloadlist_Click();
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.entries(), (std::vector<std::string>{"/1", "/2", "/3"}));
    EXPECT_EQ(w.face.shown_rows(), w.entries());
    EXPECT_EQ(w.face.count_label, "3 records found");
}

TEST(SavedListLogic, NoSavedFileSaysSoAndChangesNothing) {
    LogicUnderTest w(&kRoot);
    w.fill({"/kept"});
    w.face.count_label = "1 records found";
    w.logic->cmdloadlist_Click();
    ASSERT_TRUE(w.face.settled());
    ASSERT_EQ(w.face.messages.size(), 1u);
    EXPECT_EQ(w.face.messages[0].icon, MessageIcon::Information);
    EXPECT_EQ(w.face.messages[0].title, "File could not be found to load");
    EXPECT_EQ(w.face.messages[0].text, "There is no file to load, please first save the list.");
    // Shown once the window takes input again.
    EXPECT_EQ(w.face.activity, Activity::Idle);
    EXPECT_EQ(w.entries(), std::vector<std::string>{"/kept"});
    EXPECT_EQ(w.face.count_label, "1 records found");
}

TEST(SavedListLogic, QuotesLineBreaksAndOddBytesRoundTrip) {
    LogicUnderTest w(&kRoot);
    const std::vector<std::string> texts = {"/say \"hi\"", "/line\nbreak", "/cr\r\nlf",
                                            "/bad \xFF\xFE bytes", ""};
    w.fill(texts);
    w.logic->cmdsavelist_Click();
    ASSERT_TRUE(w.face.settled());
    w.fill({});
    w.logic->cmdloadlist_Click();
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.entries(), texts);
}

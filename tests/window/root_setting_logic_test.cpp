// The root folder setting: load, the first-run tick, "Change" and "Save path".
#include <gtest/gtest.h>

#include "platform/path_rules.h"
#include "tests/window/logic_fixture.h"

using namespace kestrafin::testing;
using kestrafin::window::Timer;

namespace {

const std::string kDefaultRoot(kestrafin::platform::kDefaultRoot);
const std::string kDefaultFile = "[PATH]\r\nFULLPATH=" + kDefaultRoot + "\r\n";

std::string stored(const std::string& root) {
    return "[PATH]\r\nFULLPATH=" + root + "\r\n";
}

}  // namespace

TEST(RootSettingLogic, AFirstRunCreatesTheFileEmptyAndTheTickStoresTheDefaultOnce) {
    LogicUnderTest w;
    EXPECT_FALSE(w.logic->busy());
    EXPECT_EQ(w.ini(), "");
    EXPECT_EQ(w.face.root_box, "");
    ASSERT_TRUE(w.face.timer_running(Timer::tmrwait2));
    w.face.fire(Timer::tmrwait2);
    EXPECT_FALSE(w.face.timer_running(Timer::tmrwait2));
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.ini(), kDefaultFile);
    EXPECT_EQ(w.face.root_box, kDefaultRoot);
    EXPECT_EQ(w.logic->root_text(), kDefaultRoot);
    // A value saved afterwards stays.
    w.choose_root("/after");
    w.logic->cmdsave_Click();
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.ini(), stored("/after"));
    EXPECT_FALSE(w.face.timer_running(Timer::tmrwait2));
}

TEST(RootSettingLogic, ARootEnteredBeforeTheTickIsReplacedByTheDefault) {
    LogicUnderTest w;
    w.choose_root("/chosen");
    EXPECT_EQ(w.face.root_box, "/chosen");
    w.face.fire(Timer::tmrwait2);
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.face.root_box, kDefaultRoot);
    EXPECT_EQ(w.ini(), kDefaultFile);
}

TEST(RootSettingLogic, SavePathBeforeTheTickStoresAnEmptyValueThenTheTickStoresTheDefault) {
    LogicUnderTest w;
    w.logic->cmdsave_Click();
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.ini(), stored(""));
    w.face.fire(Timer::tmrwait2);
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.ini(), kDefaultFile);
}

TEST(RootSettingLogic, TheTickWaitsUntilARunningSearchHasEnded) {
    LogicUnderTest w(nullptr, true);
    ASSERT_TRUE(w.face.timer_running(Timer::tmrwait2));
    w.logic->cmdgetfilelist_Click();
    ASSERT_TRUE(w.paced.find({"/a"}));
    w.face.fire(Timer::tmrwait2);  // falls due inside the search
    EXPECT_FALSE(w.face.timer_running(Timer::tmrwait2));
    w.face.run_posted();
    EXPECT_EQ(w.ini(), "");
    ASSERT_TRUE(w.paced.end());
    ASSERT_TRUE(w.face.settled());
    ASSERT_TRUE(w.face.run_until([&] { return w.ini() == kDefaultFile && !w.logic->busy(); }));
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.face.root_box, kDefaultRoot);
    EXPECT_EQ(w.entries(), std::vector<std::string>{"/a"});
}

TEST(RootSettingLogic, TheStoredRootIsShownAtTheNextLoad) {
    LogicUnderTest w;
    w.face.fire(Timer::tmrwait2);
    ASSERT_TRUE(w.face.settled());
    w.choose_root("/srv/share [old]");
    w.logic->cmdsave_Click();
    ASSERT_TRUE(w.face.settled());
    w.load();
    EXPECT_EQ(w.face.root_box, "/srv/share [old]");
    EXPECT_FALSE(w.face.timer_running(Timer::tmrwait2));
}

TEST(RootSettingLogic, AFileWithoutTheKeyGivesAnEmptyBoxAndNoDefault) {
    LogicUnderTest w;
    make_file(w.folder / "kestrafin.ini", "[OTHER]\r\nA=1\r\n");
    w.load();
    EXPECT_EQ(w.face.root_box, "");
    EXPECT_FALSE(w.face.timer_running(Timer::tmrwait2));
    EXPECT_EQ(w.ini(), "[OTHER]\r\nA=1\r\n");
}

TEST(RootSettingLogic, SavePathWithAnEmptyBoxStoresAnEmptyValue) {
    const std::string empty;
    LogicUnderTest w(&empty);
    EXPECT_FALSE(w.face.timer_running(Timer::tmrwait2));
    w.logic->cmdsave_Click();
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.ini(), stored(""));
    w.load();
    EXPECT_EQ(w.face.root_box, "");
    EXPECT_FALSE(w.face.timer_running(Timer::tmrwait2));
}

TEST(RootSettingLogic, ChangePromptAnswers) {
    const std::string root = "/stored";
    LogicUnderTest w(&root);
    struct Answer {
        std::optional<std::string> typed;
        std::string box_after;
    };
    const std::vector<Answer> answers = {
        {std::nullopt, "/stored"},  // Cancel
        {"", "/stored"},            // OK on an empty box
        {"   ", "   "},
        // As Explorer's "Copy as path" gives it: one pair of quotes goes.
        {"\"/copied/a b\"", "/copied/a b"},
        {"\"\"/twice\"\"", "\"/twice\""},
        {"\"", "\""},
        {"\"\"", "\""},  // nothing between them: the box keeps its text
        {"\"/opened only", "\"/opened only"},
        {"/closed only\"", "/closed only\""},
        {"/new/folder", "/new/folder"},
    };
    for (const auto& [typed, box_after] : answers) {
        w.face.answers.push_back(typed);
        w.logic->cmdseldir_Click();
        EXPECT_EQ(w.face.root_box, box_after) << typed.value_or("(cancelled)");
    }
    ASSERT_EQ(w.face.prompts.size(), answers.size());
    for (const auto& [title, prompt] : w.face.prompts) {
        EXPECT_EQ(title, "Kestrafin");
        EXPECT_EQ(prompt, "Please enter the full path");
    }
    EXPECT_EQ(w.ini(), stored("/stored"));
    // A folder dropped on the window is taken as one entered here.
    w.logic->root_dropped({"/dropped", "/second"});
    EXPECT_EQ(w.face.root_box, "/dropped");
    w.logic->root_dropped({});
    EXPECT_EQ(w.face.root_box, "/dropped");
    w.logic->cmdsave_Click();
    ASSERT_TRUE(w.face.settled());
    EXPECT_EQ(w.ini(), stored("/dropped"));
}

TEST(RootSettingLogic, ChangeOffersTheLastTenRootsEnteredOrDroppedTheLatestFirst) {
    LogicUnderTest w;
    for (int root = 0; root < 12; ++root) w.choose_root("/r" + std::to_string(root));
    w.choose_root("/r5");
    w.logic->root_dropped({"/dropped"});
    w.choose_root("/r5");
    EXPECT_EQ(w.face.recent_offered.back(),
              (std::vector<std::string>{"/dropped", "/r5", "/r11", "/r10", "/r9", "/r8", "/r7",
                                        "/r6", "/r4", "/r3"}));
    EXPECT_TRUE(w.face.recent_offered.front().empty());
}

TEST(RootSettingLogic, ARootWithALineBreakIsRefusedAndTheFileKeepsItsValue) {
    const std::string root = "/stored";
    LogicUnderTest w(&root);
    w.choose_root("/tmp/a\nb");
    w.logic->cmdsave_Click();
    ASSERT_TRUE(w.face.settled());
    ASSERT_EQ(w.face.messages.size(), 1u);
    EXPECT_EQ(w.face.messages[0].title, "Kestrafin");
    EXPECT_NE(w.face.messages[0].text.find("line break"), std::string::npos)
        << w.face.messages[0].text;
    EXPECT_EQ(w.ini(), stored("/stored"));
    EXPECT_EQ(w.logic->root_text(), "/tmp/a\nb");
}

TEST(RootSettingLogic, TheBoxShowsTheRootOnOneLineAndTheSearchTakesItAsItIs) {
    const struct {
        std::string root, shown;
    } rows[] = {
        {"/tmp/a\nb", "/tmp/a<U+000A>b"},
        {"/srv/a\tb\x1b[7m", "/srv/a<U+0009>b<U+001B>[7m"},
        {"/x/invoice\xe2\x80\xae"
         "fdp.exe",
         "/x/invoice<U+202E>fdp.exe"},
        {"/srv/r\xc3\xa9sum\xc3\xa9 [old]", "/srv/r\xc3\xa9sum\xc3\xa9 [old]"},
    };
    for (const auto& row : rows) {
        LogicUnderTest w;
        w.choose_root(row.root);
        EXPECT_EQ(w.face.root_box, row.shown);
        EXPECT_EQ(w.logic->root_text(), row.root);
    }
}

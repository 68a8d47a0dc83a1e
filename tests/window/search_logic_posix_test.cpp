// "Search" over a tree with links into /proc.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "tests/window/logic_fixture.h"

using namespace kestrafin::testing;

TEST(SearchLogicPosix, ASearchThroughALinkIntoProcEndsAndListsNothingFromIt) {
    if (access("/proc/self", F_OK) != 0) GTEST_SKIP() << "no /proc on this host";
    LogicUnderTest w;
    const std::string long_folder =
        make_folder_chain(w.folder.path(), {"tree", std::string(200, 's')}, {"file0", "file1"});
    // Below /proc, links lead into the same folders again by ever new routes.
    make_link("/proc", long_folder + "/into-proc");
    make_link("/proc/self", long_folder + "/into-self");
    w.choose_root(w.folder / "tree");
    w.logic->cmdgetfilelist_Click();
    ASSERT_TRUE(w.face.settled(std::chrono::seconds(30))) << "the search did not end";
    auto entries = w.entries();
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{long_folder + "/file0", long_folder + "/file1"}));
    EXPECT_EQ(w.face.count_label, "2 records found");
}

// Telling a folder that a file system numbered anew, after the walk closed
// it, from another folder put in its place.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>

#include "search/walk_rules.h"
#include "tests/search/recording_sink.h"

using kestrafin::platform::EntryKind;
using kestrafin::platform::FolderIdentity;
using kestrafin::search::FolderListing;
using kestrafin::search::WalkRules;

namespace {

FolderListing listing(FolderIdentity identity,
                      std::initializer_list<std::pair<const char*, EntryKind>> subfolders) {
    FolderListing made;
    made.identity = identity;
    for (const auto& [name, kind] : subfolders) {
        made.subfolders.push_back({made.names.size(), std::string(name).size(), kind});
        made.names += name;
    }
    return made;
}

struct ReopenCase {
    const char* what;
    FolderListing reread;
    bool renumbered;
    friend void PrintTo(const ReopenCase& c, std::ostream* out) { *out << c.what; }
};

constexpr FolderIdentity kRead{7, 100};
constexpr FolderIdentity kInDescent{7, 50};

class Reopened : public ::testing::TestWithParam<ReopenCase> {};

}  // namespace

TEST_P(Reopened, IsTakenForTheFolderReadOnlyWhenNothingButItsNumberChanged) {
    kestrafin::testing::RecordingSink sink;
    WalkRules rules(sink);
    rules.descend(kInDescent);
    const FolderListing read =
        listing(kRead, {{"a", EntryKind::folder}, {"b", EntryKind::link_to_folder}});
    EXPECT_EQ(rules.renumbered(read, GetParam().reread), GetParam().renumbered);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Reopened,
    ::testing::Values(
        ReopenCase{"a new number, the same subfolders",
                   listing({7, 300}, {{"a", EntryKind::folder}, {"b", EntryKind::link_to_folder}}),
                   true},
        ReopenCase{"the same subfolders delivered in another order",
                   listing({7, 300}, {{"b", EntryKind::link_to_folder}, {"a", EntryKind::folder}}),
                   true},
        ReopenCase{"another volume",
                   listing({8, 300}, {{"a", EntryKind::folder}, {"b", EntryKind::link_to_folder}}),
                   false},
        ReopenCase{"a subfolder fewer", listing({7, 300}, {{"a", EntryKind::folder}}), false},
        ReopenCase{"an empty folder in its place", listing({7, 300}, {}), false},
        ReopenCase{"a subfolder renamed",
                   listing({7, 300}, {{"a", EntryKind::folder}, {"c", EntryKind::link_to_folder}}),
                   false},
        ReopenCase{
            "a link where a folder was",
            listing({7, 300}, {{"a", EntryKind::link_to_folder}, {"b", EntryKind::link_to_folder}}),
            false},
        ReopenCase{
            "a folder the walk is inside",
            listing(kInDescent, {{"a", EntryKind::folder}, {"b", EntryKind::link_to_folder}}),
            false},
        ReopenCase{"a number the host cannot tell",
                   listing({0, 0}, {{"a", EntryKind::folder}, {"b", EntryKind::link_to_folder}}),
                   false}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

#include "volume/volume_walk.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "platform/path_rules.h"
#include "platform/text.h"
#include "search/searchfiles.h"
#include "tests/search/transcript_compare.h"
#include "tests/support/fake_volume_tree.h"
#include "tests/support/temp_tree.h"

using namespace kestrafin;
using namespace kestrafin::testing;
using search::Answer;
using search::NotEntered;
using search::WalkEvent;
using search::WalkEventKind;
using volume::RecordNumber;
using FakeTree = kestrafin::testing::FakeVolumeTree;
using kestrafin::testing::kSymbolicLinkTag;

namespace {

constexpr char kSeparator = platform::kPathSeparator;

// Every event with all it carries, answered by `answer`.
struct Transcript : search::WalkVisitor {
    std::function<Answer(const WalkEvent&)> answer;
    std::vector<std::string> events;
    Answer visit(const WalkEvent& event) override {
        static const char* const kinds[] = {"file ", "entered ", "done ", "not read ",
                                            "not entered "};
        std::string line = kinds[static_cast<int>(event.kind)] + std::string(event.path);
        if (event.kind == WalkEventKind::folder_entered) {
            for (const auto& name : event.names.subfolders)
                line += " +" + std::string(name.name) +
                        (name.kind == platform::EntryKind::link_to_folder ? "@" : "");
            for (const auto& name : event.names.declined)
                line +=
                    " -" + std::string(name.name) + ":" + search::not_entered_reason(name.reason);
            for (const auto& name : event.names.excluded) line += " x" + std::string(name.name);
            line += " files " + std::to_string(event.names.files);
        }
        if (event.kind == WalkEventKind::folder_not_read) line += " " + std::to_string(event.error);
        if (event.kind == WalkEventKind::folder_not_entered)
            line += std::string(" ") + search::not_entered_reason(event.reason);
        events.push_back(line);
        return answer ? answer(event) : Answer::go_on;
    }
};

struct NamedExclusion : search::NameExclusion {
    bool excludes(std::string_view below, std::string_view name) const override {
        // By name, by a path below the root, and by one below a link.
        return name == "skipped" || (below == std::string("a") + kSeparator + "b" && name == "x") ||
               (below == std::string("a") + kSeparator + "first" && name == "t");
    }
};

std::string joined(std::string first, std::initializer_list<std::string> rest) {
    for (const std::string& name : rest) first += kSeparator + name;
    return first;
}

}  // namespace

// The strongest check without an image: a real tree walked by the host and
// the same tree played from a volume's table give the same events.
TEST(VolumeWalk, TellsWhatTheWalkTellsOfTheSameFolders) {
    TempFolder disk;
    const std::string root = disk / "root";
    make_folder(root);
    make_folder_chain(root, {"a", "b", "c"}, {"deep1", "deep2"});
    make_folder_chain(root, {"a", "b", "x"}, {"inside"});
    make_folder_chain(root, {"a", "skipped"}, {"never"});
    make_folder_chain(root, {"a"}, {"one", "two"});
    make_folder_chain(root, {"targets"}, {"skipped"});
    make_folder_chain(root, {"long", std::string(150, 'l'), std::string(60, 'm')}, {"far"});
    make_folder_chain(root, {"targets", "t"}, {"target-file"});
#if KESTRAFIN_TEST_POSIX_HOST
    make_link("..", joined(root, {"a", "b", "up"}));  // back into the walk
    make_link("../targets", joined(root, {"a", "first"}));
    make_link("../targets", joined(root, {"a", "second"}));  // walked through a link already
    make_link("nowhere", joined(root, {"a", "dangling"}));
#endif
    FakeTree tree;
    tree.add_from_disk(volume::kRootFolder, root);
    const auto exclusion = std::make_shared<NamedExclusion>();
    std::error_code error;
    const platform::FolderIdentity folder_a =
        platform::Folder::open(joined(root, {"a"}), error).identity(error);
    const auto stop_at = [](std::string suffix, Answer answer) {
        return [=](const WalkEvent& event) {
            return std::string_view(event.path).ends_with(suffix) ? answer : Answer::go_on;
        };
    };
    const struct Case {
        const char* what;
        search::SearchOptions options;
        std::function<Answer(const WalkEvent&)> answer;
    } cases[] = {
        {"short folders", {.longer_than = 0, .threads = 1}, {}},
        {"links read ahead", {.longer_than = 0, .threads = 4}, {}},
        {"every file", {.longer_than = 1000, .every_file = true, .threads = 1}, {}},
        {"long folders only", {.longer_than = root.size() + 160, .threads = 1}, {}},
        {"exclusions", {.longer_than = 0, .exclusion = exclusion, .threads = 1}, {}},
        {"the own file left out",
         {.longer_than = 0, .threads = 1, .leave_out = search::LeftOutFile{folder_a, "one"}},
         {}},
        {"no links", {.longer_than = 0, .threads = 1, .follow_links = false}, {}},
        {"pruned",
         {.longer_than = 0, .threads = 1},
         [](const WalkEvent& event) {
             return event.kind == WalkEventKind::folder_entered &&
                            std::string_view(event.path).ends_with("b")
                        ? Answer::prune
                        : Answer::go_on;
         }},
        {"stopped at a file", {.longer_than = 0, .threads = 1}, stop_at("deep1", Answer::stop)},
        {"stopped below a link",
         {.longer_than = 0, .threads = 1},
         stop_at(joined("first", {"t", "target-file"}), Answer::stop)},
    };
    for (const Case& one : cases) {
        Transcript walked, played;
        walked.answer = played.answer = one.answer;
        search::searchfiles(root, walked, one.options);
        volume::walk_volume(tree, volume::kRootFolder, root, played, one.options,
                            {.host_paths = true});
        EXPECT_EQ(first_difference(played.events, walked.events), "") << one.what;
        EXPECT_GT(walked.events.size(), 3u) << one.what;
    }
}

TEST(VolumeWalk, TellsWhatTheVolumeAloneKnows) {
    const int damaged = platform::kDamagedDataError;
    const std::string r = "r", s(1, kSeparator);
    struct Case {
        const char* what;
        std::function<void(FakeTree&)> make;
        volume::VolumeWalkHost host;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"a folder read part way",
         [](FakeTree& tree) {
             tree.add(volume::kRootFolder, "f", false);
             tree.damage[volume::kRootFolder] = {5, "torn"};
         },
         {},
         {"file r" + s + "f", "entered r files 1", "not read r " + std::to_string(damaged),
          "done r"}},
        {"damage no folder holds",
         [](FakeTree& tree) {
             tree.unplaced.push_back({5, "torn"});
         },
         {},
         {"entered r files 0", "done r", "not read r " + std::to_string(damaged)}},
        {"a folder listed below itself",
         [](FakeTree& tree) {
             const RecordNumber a = tree.add(volume::kRootFolder, "a", true);
             tree.also_in(a, a, "again");
         },
         {},
         {"entered r +a files 0", "done r", "entered r" + s + "a +again files 0",
          "done r" + s + "a", "not read r" + s + "a" + s + "again " + std::to_string(damaged)}},
        {"a link without a host path",
         [](FakeTree& tree) { tree.add(volume::kRootFolder, "l", true, kSymbolicLinkTag); },
         {},
         {"entered r -l:" + std::string(search::not_entered_reason(NotEntered::link)) + " files 0",
          "not entered r" + s + "l " + search::not_entered_reason(NotEntered::link), "done r"}},
        {"an offline folder where attributes tell",
         [](FakeTree& tree) { tree.add(volume::kRootFolder, "o", true, 0, 0x1000); },
         {.attributes_mark_offline = true},
         {"entered r -o:" + std::string(search::not_entered_reason(NotEntered::offline)) +
              " files 0",
          "not entered r" + s + "o " + search::not_entered_reason(NotEntered::offline), "done r"}},
    };
    for (const Case& one : cases) {
        FakeTree tree;
        one.make(tree);
        Transcript played;
        const volume::VolumeWalkResult result = volume::walk_volume(
            tree, volume::kRootFolder, r, played, {.longer_than = 0, .threads = 1}, one.host);
        EXPECT_EQ(first_difference(played.events, one.expected), "") << one.what;
    }
}

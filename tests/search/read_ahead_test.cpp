// The read-ahead on its own, over trees held in memory: readers read the
// folders the walk will enter, in the walk's own order.
#include "search/read_ahead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/path_rules.h"

namespace {

using kestrafin::platform::EntryKind;
using kestrafin::platform::kPathSeparator;
using namespace kestrafin::search;

// Folder paths, with the separator after each name, and their subfolders; a
// name ending in '@' is a link to a folder.
using Tree = std::map<std::string, std::vector<std::string>>;

FolderListing listing_of(const Tree& tree, const std::string& slashed_path) {
    FolderListing listing;
    const auto found = tree.find(slashed_path);
    if (found == tree.end()) return listing;
    for (const std::string& name : found->second) {
        const EntryKind kind = name.ends_with('@') ? EntryKind::link_to_folder : EntryKind::folder;
        listing.subfolders.push_back({listing.names.size(), name.size(), kind});
        listing.names.append(name);
    }
    return listing;
}

// Notes each folder read; the test waits until as many as it expects are.
class RecordingReader : public ReadAhead::Reader {
  public:
    explicit RecordingReader(const Tree& tree) : tree_(tree) {}
    bool read(FolderToRead& folder, FolderRead& read, ReadAllowance&) override {
        read.listing = listing_of(tree_, folder.path + kPathSeparator);
        read.folder = std::make_shared<SharedFolder>();
        std::lock_guard lock(mutex_);
        read_.push_back(folder.path);
        changed_.notify_all();
        return true;
    }
    // What was read once `count` folders are; a read-ahead that stops short
    // fails the test after a minute instead of hanging it.
    std::vector<std::string> wait_for(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::minutes(1), [&] { return read_.size() >= count; });
        return read_;
    }

  private:
    const Tree& tree_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> read_;
};

std::string slashed(std::string path) {
    for (char& at : path)
        if (at == '/') at = kPathSeparator;
    return path;
}

TEST(ReadAhead, OneReaderReadsTheFoldersBelowTheWalkInTheWalksOrder) {
    struct Case {
        const char* what;
        Tree tree;  // with '/' for the separator
        std::vector<std::string> order;
    };
    const std::vector<Case> cases = {
        {"three levels, three wide",
         {{"r/", {"a", "b", "c"}}, {"r/a/", {"d", "e"}}, {"r/a/d/", {"f"}}, {"r/c/", {"g"}}},
         {"r/a", "r/a/d", "r/a/d/f", "r/a/e", "r/b", "r/c", "r/c/g"}},
        {"a chain with folders on both sides",
         {{"r/", {"a", "m", "z"}},
          {"r/m/", {"a", "m", "z"}},
          {"r/m/m/", {"a", "m", "z"}},
          {"r/m/m/m/", {"x"}}},
         {"r/a", "r/m", "r/m/a", "r/m/m", "r/m/m/a", "r/m/m/m", "r/m/m/m/x", "r/m/m/z", "r/m/z",
          "r/z"}},
        {"below a link, nothing until the walk enters it",
         {{"r/", {"a@", "b"}}, {"r/a@/", {"hidden"}}, {"r/b/", {"c"}}},
         {"r/a@", "r/b", "r/b/c"}},
    };
    for (const Case& test : cases) {
        Tree tree;
        for (const auto& [path, names] : test.tree) tree[slashed(path)] = names;
        RecordingReader reader(tree);
        const FolderListing root = listing_of(tree, slashed("r/"));
        std::vector<std::string> read;
        {
            ReadAhead ahead(reader, {.readers = 1, .first_readers = 1});
            ahead.lend(root, std::make_shared<SharedFolder>(), slashed("r/"), 2, 0);
            read = reader.wait_for(test.order.size());
        }
        std::vector<std::string> expected;
        for (const std::string& path : test.order) expected.push_back(slashed(path));
        EXPECT_EQ(read, expected) << test.what;
    }
}

// One reader, and room to keep one handle below the walk: a folder read
// keeps its handle while readers have subfolders of it left to open and room
// is left, and lets it go with the open of its last subfolder. Readers get
// the parent's handle where it was kept, and open it again otherwise.
TEST(ReadAhead, AFolderReadAheadKeepsItsHandleOnlyUntilItsSubfoldersAreOpened) {
    Tree tree;
    for (const auto& [path, names] :
         Tree{{"r/", {"a", "b"}}, {"r/a/", {"c", "d"}}, {"r/a/c/", {"g"}}, {"r/b/", {"e", "f"}}})
        tree[slashed(path)] = names;
    struct HandleReader : ReadAhead::Reader {
        const Tree& tree;
        std::shared_ptr<int> handles = std::make_shared<int>(0);  // alive, of those offered
        std::vector<std::pair<std::string, bool>> reads;          // path, parent's handle given
        std::mutex mutex;
        std::condition_variable changed;
        explicit HandleReader(const Tree& in) : tree(in) {}
        bool read(FolderToRead& folder, FolderRead& read, ReadAllowance&) override {
            read.listing = listing_of(tree, folder.path + kPathSeparator);
            if (!read.listing.subfolders.empty()) {
                ++*handles;
                read.folder = std::make_shared<SharedFolder>();
                read.folder->set({new kestrafin::platform::Folder,
                                  [count = handles](const kestrafin::platform::Folder* handle) {
                                      --*count;
                                      delete handle;
                                  }});
            }
            std::lock_guard lock(mutex);
            reads.emplace_back(folder.path, folder.parent != nullptr);
            changed.notify_all();
            return true;
        }
    } reader(tree);
    const FolderListing root = listing_of(tree, slashed("r/"));
    auto root_folder = std::make_shared<SharedFolder>();
    root_folder->set(std::make_shared<const kestrafin::platform::Folder>());
    {
        ReadAhead ahead(reader, {.readers = 1, .first_readers = 1, .handles_kept = 1});
        ahead.lend(root, root_folder, slashed("r/"), 2, 0);
        std::unique_lock lock(reader.mutex);
        reader.changed.wait_for(lock, std::chrono::minutes(1), [&] { return reader.reads.size() >= 7; });
    }
    const std::vector<std::pair<std::string, bool>> expected = {
        {"r/a", true},
        {"r/a/c", true},
        {"r/a/c/g", false},  // r/a holds the one handle kept
        {"r/a/d", true},     // the last of r/a: its handle goes
        {"r/b", true},       // and r/b takes its place
        {"r/b/e", true},
        {"r/b/f", true}};
    std::vector<std::pair<std::string, bool>> want;
    for (const auto& [path, given] : expected) want.emplace_back(slashed(path), given);
    EXPECT_EQ(reader.reads, want);
    EXPECT_EQ(*reader.handles, 0) << "a handle offered outlived the read-ahead";
}

// Where folders are found cached, a walk waiting for a reader held up on one
// reads the next folders itself instead of sleeping.
TEST(ReadAhead, AWalkWaitingOnACachedTreeReadsTheNextFoldersItself) {
    Tree tree;
    for (int at = 100; at < 130; ++at) tree[slashed("r/")].push_back("f" + std::to_string(at));
    // The first folder is held up until the walk has read two.
    struct HeldUpReader : ReadAhead::Reader {
        const Tree& tree;
        const std::thread::id walk = std::this_thread::get_id();
        std::mutex mutex;
        std::condition_variable changed;
        std::size_t reads = 0, walk_reads = 0;
        bool released = false;
        explicit HeldUpReader(const Tree& in) : tree(in) {}
        bool read(FolderToRead& folder, FolderRead& read, ReadAllowance&) override {
            read.listing = listing_of(tree, folder.path + kPathSeparator);
            std::unique_lock lock(mutex);
            ++reads;
            if (std::this_thread::get_id() == walk) ++walk_reads;
            changed.notify_all();
            if (folder.name == "f100")
                released = changed.wait_for(lock, std::chrono::minutes(1),
                                            [&] { return walk_reads >= 2; });
            return true;
        }
    } reader(tree);
    const FolderListing root = listing_of(tree, slashed("r/"));
    // Taken for cached from the start: reads are judged only after several.
    ReadAhead ahead(reader, {.readers = 1, .first_readers = 1, .reads_cached = true});
    ReadAhead::Branch* branch =
        ahead.lend(root, std::make_shared<SharedFolder>(), slashed("r/"), 2, 0);
    {
        std::unique_lock lock(reader.mutex);
        // The reader is held up on the folder the walk enters first.
        reader.changed.wait_for(lock, std::chrono::minutes(1), [&] { return reader.reads == 1; });
    }
    std::size_t read_ahead = 0;
    for (std::size_t at = 0; at < root.subfolders.size(); ++at) {
        FolderListing listing;
        if (ahead.take(branch, at, listing).read) ++read_ahead;
    }
    ahead.leave(branch);
    EXPECT_TRUE(reader.released) << "the walk slept while the reader was held up";
    EXPECT_EQ(read_ahead, root.subfolders.size());
}

}  // namespace

// A walk asked to stop while it waits for a reader that waits for the host
// (a share that no longer answers) goes at once: it abandons that reader,
// which frees the read-ahead and its own reader once the host answers.
TEST(ReadAhead, AStopRequestLeavesAReaderThatWaitsForTheHostToEndOnItsOwn) {
    struct StuckReader : ReadAhead::Reader {
        bool read(FolderToRead&, FolderRead&, ReadAllowance&) override {
            std::unique_lock lock(mutex);
            entered = true;
            changed.notify_all();
            changed.wait(lock, [&] { return answered; });
            return true;
        }
        std::mutex mutex;
        std::condition_variable changed;
        bool entered = false;
        bool answered = false;
    };
    auto reader = std::make_shared<StuckReader>();
    const std::weak_ptr<StuckReader> reader_left = reader;
    std::atomic<bool> stop{false};
    Tree tree{{slashed("r/"), {"slow"}}};
    const FolderListing root = listing_of(tree, slashed("r/"));
    auto ahead = std::make_shared<ReadAhead>(
        *reader, ReadAheadLimits{.readers = 1, .first_readers = 1, .stop = &stop});
    ReadAhead::Branch* branch =
        ahead->lend(root, std::make_shared<SharedFolder>(), slashed("r/"), 2, 0);
    {
        std::unique_lock lock(reader->mutex);
        reader->changed.wait(lock, [&] { return reader->entered; });
    }
    stop = true;
    FolderListing listing;
    EXPECT_TRUE(ahead->take(branch, 0, listing).stopped);
    // Returns while the reader is held: waiting for it would hang here.
    ReadAhead::abandon(std::move(ahead), reader);
    EXPECT_EQ(ReadAhead::abandoned_readers(), 1u);
    {
        std::lock_guard lock(reader->mutex);
        reader->answered = true;
        reader->changed.notify_all();
    }
    reader.reset();
    while (ReadAhead::abandoned_readers() > 0) std::this_thread::yield();
    EXPECT_TRUE(reader_left.expired()) << "the last reader keeps what it read with";
}

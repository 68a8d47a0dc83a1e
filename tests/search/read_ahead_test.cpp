// The read-ahead over a tree held in memory, so that delays, giant folders and
// endless trees cost nothing to build. The walk below follows the real walk's
// shape: enter a subfolder, check its identity against the descent, leave.
#include "search/read_ahead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

using kestrafin::search::ReadAhead;
using kestrafin::search::ReadAheadFigures;
using kestrafin::search::ReadAheadLimits;
using kestrafin::search::ReadAllowance;

namespace {

struct Subfolder {
    std::string name;
    std::size_t target = 0;  // a folder of the tree; an ancestor makes a cycle
};

struct TreeFolder {
    std::vector<std::string> files;
    std::vector<Subfolder> subfolders;
    bool unreadable = false;
};

// A tree of `folder_count` folders with files, unreadable folders, links to
// ancestors (cycles) and links to other folders (walked again).
std::vector<TreeFolder> make_tree(unsigned seed, std::size_t folder_count) {
    std::mt19937 random(seed);
    std::vector<TreeFolder> tree(folder_count);
    std::vector<std::size_t> parent_of(folder_count, 0);
    for (std::size_t folder = 1; folder < folder_count; ++folder) {
        // Recent folders are likelier parents, so the tree grows deep as well as wide.
        const std::size_t parent =
            folder - 1 -
            std::min<std::size_t>(folder - 1, random() % 4 == 0 ? random() % folder : random() % 3);
        parent_of[folder] = parent;
        tree[parent].subfolders.push_back({"d" + std::to_string(folder), folder});
    }
    for (std::size_t folder = 0; folder < folder_count; ++folder) {
        TreeFolder& entry = tree[folder];
        for (std::size_t file = random() % 6; file > 0; --file)
            entry.files.push_back("f" + std::to_string(folder) + "-" + std::to_string(file) +
                                  std::string(random() % 40, 'x'));
        entry.unreadable = folder > 20 && random() % 29 == 0;
        if (random() % 11 == 0) {  // a link to an ancestor
            std::size_t ancestor = folder;
            for (std::size_t up = random() % 4; up > 0 && ancestor != 0; --up)
                ancestor = parent_of[ancestor];
            entry.subfolders.insert(
                entry.subfolders.begin() + random() % (entry.subfolders.size() + 1),
                {"up", ancestor});
        }
        if (random() % 37 == 0 && folder_count > 1)  // a link to any folder: a second walk there
            entry.subfolders.push_back({"across", 1 + random() % (folder_count - 1)});
    }
    return tree;
}

std::atomic<long> live_listings{0};

struct Listing {
    std::size_t folder = 0;
    bool unreadable = false;
    std::vector<std::string> files;
    std::vector<std::string> subfolder_names;
    std::vector<std::size_t> subfolder_targets;

    Listing() { ++live_listings; }
    Listing(const Listing& other) = default;
    Listing(Listing&& other) noexcept
        : folder(other.folder),
          unreadable(other.unreadable),
          files(std::move(other.files)),
          subfolder_names(std::move(other.subfolder_names)),
          subfolder_targets(std::move(other.subfolder_targets)) {
        ++live_listings;
    }
    ~Listing() { --live_listings; }
};

// Reads folders of a tree, with a delay now and then that shuffles which
// reader finishes first.
struct TreeReader {
    const std::vector<TreeFolder>& tree;
    std::chrono::microseconds delay{0};
    std::size_t slow_every = 5;  // reads that wait for the delay: one in this many
    std::atomic<std::size_t> reads{0};

    Listing read(std::size_t folder) const {
        Listing listing;
        listing.folder = folder;
        const TreeFolder& source = tree[folder];
        if (source.unreadable) {
            listing.unreadable = true;
            return listing;
        }
        listing.files = source.files;
        for (const Subfolder& subfolder : source.subfolders) {
            listing.subfolder_names.push_back(subfolder.name);
            listing.subfolder_targets.push_back(subfolder.target);
        }
        return listing;
    }

    ReadAhead<Listing>::Reading reading() {
        return {
            .read_subfolder = [this](const Listing& parent, std::size_t index,
                                     ReadAllowance& allowance) -> std::optional<Listing> {
                const std::size_t folder = parent.subfolder_targets[index];
                const std::size_t turn = reads++;
                if (delay.count() > 0 && turn % slow_every == 0) std::this_thread::sleep_for(delay);
                // Names are counted as they come, so a giant folder is given up early.
                const TreeFolder& source = tree[folder];
                Listing listing;
                listing.folder = folder;
                listing.unreadable = source.unreadable;
                if (source.unreadable) return listing;
                std::size_t bytes = 0;
                for (const std::string& file : source.files) {
                    bytes += file.size() + sizeof(std::string);
                    if (!allowance.allow(bytes)) return std::nullopt;
                    listing.files.push_back(file);
                }
                for (const Subfolder& subfolder : source.subfolders) {
                    listing.subfolder_names.push_back(subfolder.name);
                    listing.subfolder_targets.push_back(subfolder.target);
                }
                return listing;
            },
            .subfolder_count =
                [](const Listing& listing) { return listing.subfolder_names.size(); },
        };
    }
};

// The walk's order: a folder's files, then each subfolder's subtree in turn;
// a subfolder that is a folder of the current descent is reported, not walked.
std::vector<std::string> walk(const std::vector<TreeFolder>& tree, std::size_t readers,
                              const ReadAheadLimits& base_limits = {},
                              ReadAheadFigures* figures = nullptr,
                              std::chrono::microseconds delay = std::chrono::microseconds(30),
                              std::size_t slow_every = 5) {
    TreeReader reader{tree, readers > 0 ? delay : std::chrono::microseconds(0), slow_every};
    ReadAheadLimits limits = base_limits;
    limits.readers = readers;
    ReadAhead<Listing> read_ahead(reader.read(0), reader.reading(), limits);
    std::vector<std::string> output;
    struct Frame {
        ReadAhead<Listing>::Folder folder;
        std::string path;
        std::size_t next = 0;
    };
    std::vector<Frame> descent{{read_ahead.root(), "top"}};
    std::vector<std::size_t> descent_folders{0};
    auto emit_files = [&](const Frame& frame) {
        const Listing& listing = read_ahead.listing(frame.folder);
        if (listing.unreadable) output.push_back("unreadable " + frame.path);
        for (const std::string& file : listing.files) output.push_back(frame.path + "/" + file);
    };
    emit_files(descent.back());
    while (!descent.empty()) {
        Frame& frame = descent.back();
        const Listing& listing = read_ahead.listing(frame.folder);
        if (frame.next == listing.subfolder_names.size()) {
            read_ahead.leave(frame.folder);
            descent.pop_back();
            descent_folders.pop_back();
            continue;
        }
        const std::size_t index = frame.next++;
        const std::string path = frame.path + "/" + listing.subfolder_names[index];
        ReadAhead<Listing>::Folder child = read_ahead.enter(frame.folder, index);
        const std::size_t identity = read_ahead.listing(child).folder;
        if (std::find(descent_folders.begin(), descent_folders.end(), identity) !=
            descent_folders.end()) {
            output.push_back("cycle " + path);
            read_ahead.leave(child);
            continue;
        }
        descent.push_back({child, path});
        descent_folders.push_back(identity);
        emit_files(descent.back());
    }
    if (figures != nullptr) *figures = read_ahead.figures();
    return output;
}

}  // namespace

TEST(ReadAhead, EveryReaderCountListsExactlyWhatTheSerialWalkLists) {
    // Whether the readers get ahead of a walk in memory is up to the
    // scheduler on a busy machine, so it is asked of all walks together.
    std::map<std::size_t, std::size_t> read_ahead_by_readers;
    for (unsigned seed = 1; seed <= 4; ++seed) {
        const std::vector<TreeFolder> tree = make_tree(seed, 1500);
        const std::vector<std::string> serial = walk(tree, 0);
        ASSERT_GT(serial.size(), 1000u);
        ASSERT_NE(std::count_if(serial.begin(), serial.end(),
                                [](const std::string& line) { return line.starts_with("cycle "); }),
                  0);
        for (const std::size_t readers : {1, 2, 7, 63}) {
            for (int repeat = 0; repeat < 3; ++repeat) {
                ReadAheadFigures figures;
                ASSERT_EQ(walk(tree, readers, {}, &figures), serial)
                    << "seed " << seed << ", " << readers << " readers, run " << repeat;
                read_ahead_by_readers[readers] += figures.read_ahead;
            }
        }
    }
    for (const auto& [readers, read_ahead] : read_ahead_by_readers)
        EXPECT_GT(read_ahead, 0u) << readers << " readers read nothing ahead in any walk";
    EXPECT_EQ(live_listings.load(), 0);
}

TEST(ReadAhead, HoldsNoMoreFoldersOrBytesAheadThanItsLimits) {
    // A wide tree: one folder with 20,000 subfolders of a few files each.
    std::vector<TreeFolder> wide(20'001);
    for (std::size_t folder = 1; folder < wide.size(); ++folder) {
        wide[0].subfolders.push_back({"w" + std::to_string(folder), folder});
        wide[folder].files.assign(3, std::string(100, 'n'));
    }
    const ReadAheadLimits small{.max_bytes = 1 << 20, .max_folders = 50};
    ReadAheadFigures figures;
    EXPECT_EQ(walk(wide, 8, small, &figures), walk(wide, 0));
    EXPECT_LE(figures.peak_folders, 50u);
    EXPECT_GE(figures.peak_folders, 8u) << "the readers did not read ahead at all";
    EXPECT_LE(figures.peak_bytes, std::size_t{1} << 20);

    // A folder of a million names between two small ones: its reader gives it
    // up at the byte budget and the walk reads it when it gets there.
    std::vector<TreeFolder> giant(4);
    giant[0].subfolders = {{"small", 1}, {"giant", 2}, {"after", 3}};
    giant[1].files = {"a"};
    giant[2].files.reserve(1'000'000);
    for (int name = 0; name < 1'000'000; ++name) giant[2].files.push_back(std::to_string(name));
    giant[3].files = {"z"};
    const std::vector<std::string> listed = walk(giant, 4, small, &figures);
    ASSERT_EQ(listed.size(), 1'000'002u);
    EXPECT_EQ(listed.front(), "top/small/a");
    EXPECT_EQ(listed[1'000'000], "top/giant/999999");
    EXPECT_EQ(listed.back(), "top/after/z");
    // A reader gives it up, or the walk gets there before any reader does.
    EXPECT_LE(figures.given_up, 1u);
    EXPECT_GE(figures.read_on_entry, 1u);
    EXPECT_LE(figures.peak_bytes, std::size_t{1} << 20);
    EXPECT_EQ(live_listings.load(), 0);
}

TEST(ReadAhead, ReadersReadWhatTheWalkEntersNextNotWhatItReachesMuchLater) {
    // Every read waits, as on a share, and only a few folders may be held
    // ahead of a bushy tree: readers that read far ahead would fill that
    // room with folders the walk reaches much later and leave it to read the
    // next ones itself, one by one.
    std::mt19937 random(5);
    std::vector<TreeFolder> tree(3000);
    for (std::size_t folder = 1; folder < tree.size(); ++folder) {
        tree[random() % folder].subfolders.push_back({"d" + std::to_string(folder), folder});
        tree[folder].files = {"f"};
    }
    ReadAheadFigures figures;
    const ReadAheadLimits few{.max_folders = 64};
    ASSERT_EQ(walk(tree, 16, few, &figures, std::chrono::microseconds(300), 1), walk(tree, 0));
    const std::size_t entered = figures.read_ahead + figures.read_on_entry;
    EXPECT_LT(figures.read_on_entry * 2, entered)
        << figures.read_on_entry << " of " << entered << " folders were read by the walk itself";
}

TEST(ReadAhead, StoppingOrLeavingEarlyEndsEveryReaderAndFreesEveryListing) {
    // An endless tree: every folder holds itself twice.
    std::vector<TreeFolder> endless(1);
    endless[0].files = {"file"};
    endless[0].subfolders = {{"again", 0}, {"more", 0}};
    for (const bool stop_first : {false, true}) {
        TreeReader reader{endless, std::chrono::microseconds(200)};
        {
            ReadAhead<Listing> read_ahead(reader.read(0), reader.reading(),
                                          {.readers = 16, .max_folders = 200});
            // Enter 30 levels, and leave the engine with all of them entered.
            ReadAhead<Listing>::Folder folder = read_ahead.root();
            for (int level = 0; level < 30; ++level) folder = read_ahead.enter(folder, 1);
            if (stop_first) {
                read_ahead.stop();
                const std::size_t reads_at_stop = reader.reads.load();
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                EXPECT_LE(reader.reads.load(), reads_at_stop + 16) << "readers went on reading";
                // Entering still works after a stop, reading on the spot.
                folder = read_ahead.enter(folder, 0);
                EXPECT_EQ(read_ahead.listing(folder).files.front(), "file");
            }
            EXPECT_LE(read_ahead.figures().peak_folders, 200u);
        }
        EXPECT_EQ(live_listings.load(), 0) << "stop first: " << stop_first;
    }
}

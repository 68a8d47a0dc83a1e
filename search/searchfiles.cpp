#include "search/searchfiles.h"

#include <deque>
#include <string>
#include <vector>

#include "platform/folder_search.h"
#include "platform/path_rules.h"
#include "search/path_text.h"

namespace kestrafin::search {

namespace {

using platform::FindRecord;
using platform::FolderSearch;

constexpr char kViaLink = 'L';
constexpr char kPlainFolder = 'D';
constexpr std::string_view kAllNames = "*.*";

// One walk. The slashed path of the folder being read lives in one reused
// buffer; each level keeps the names of its subfolders in one reused arena.
class Walker {
  public:
    Walker(SearchSink& sink, const SearchOptions& options) : sink_(sink), options_(options) {
        path_.reserve(4096);
    }

    void walk_root(std::string_view root, bool descend) {
        path_ = addslash(root);
        const std::size_t slashed_units = utf16_length(path_);
        path_.append(kAllNames);
        FolderSearch search = FolderSearch::open(path_);
        path_.resize(path_.size() - kAllNames.size());
        root_ = root;
        visit(search, 0, utf16_length(root), slashed_units, descend);
    }

  private:
    // Reads the folder whose slashed path is path_, lists its files when its
    // directory string is long enough, then walks its subfolders.
    void visit(FolderSearch& search, std::size_t depth, std::size_t directory_units,
               std::size_t slashed_units, bool descend) {
        const std::size_t slashed_length = path_.size();
        if (!search.valid()) {
            sink_.folder_unreadable(directory_text(depth), search.error());
            return;
        }
        const bool lists_files = options_.every_file || directory_units > options_.longer_than;
        if (subfolders_.size() <= depth) subfolders_.emplace_back();
        std::string& subfolders = subfolders_[depth];
        subfolders.clear();

        while (search.next(record_)) {
            const std::string_view name = stripnulls({record_.name, sizeof record_.name});
            if ((record_.attributes & platform::kAttributeDirectory) != 0) {
                if (descend && name != "." && name != "..") {
                    const bool link = (record_.attributes & platform::kAttributeReparsePoint) != 0;
                    subfolders.push_back(link ? kViaLink : kPlainFolder);
                    subfolders.append(name);
                    subfolders.push_back('\0');
                }
                continue;
            }
            if (!lists_files) continue;
            path_.append(name);
            sink_.add_entry(path_);
            path_.resize(slashed_length);
        }
        if (search.error() != 0) sink_.folder_unreadable(directory_text(depth), search.error());
        sink_.folder_done(directory_text(depth));
        if (!descend || stopped()) return;

        ancestors_.push_back(&search);
        std::size_t at = 0;
        // subfolders_ is a deque, so this arena stays put while deeper levels grow theirs.
        while (at < subfolders.size() && !stopped()) {
            const bool via_link = subfolders[at] == kViaLink;
            const std::size_t end = subfolders.find('\0', at + 1);
            const std::string_view name(subfolders.data() + at + 1, end - at - 1);
            at = end + 1;
            descend_into(search, name, via_link, depth, slashed_units);
            path_.resize(slashed_length);
        }
        ancestors_.pop_back();
    }

    void descend_into(FolderSearch& parent, std::string_view name, bool via_link, std::size_t depth,
                      std::size_t parent_slashed_units) {
        path_.append(name);
        const std::size_t directory_units = parent_slashed_units + utf16_length(name);
        path_.push_back(platform::kPathSeparator);
        path_.append(kAllNames);
        FolderSearch child = FolderSearch::open(path_, &parent, name);
        path_.resize(path_.size() - kAllNames.size());
        if (via_link && child.valid() && leads_to_ancestor(child)) {
            child.close();
            sink_.cycle_skipped(directory_text(depth + 1));
            return;
        }
        visit(child, depth + 1, directory_units, directory_units + 1, true);
    }

    bool stopped() {
        if (!stop_) stop_ = sink_.should_stop();
        return stop_;
    }

    bool leads_to_ancestor(const FolderSearch& folder) const {
        const platform::FolderIdentity identity = folder.identity();
        if (identity == platform::FolderIdentity{}) return false;
        for (const FolderSearch* ancestor : ancestors_)
            if (ancestor->identity() == identity) return true;
        return false;
    }

    // The directory string of the folder at `depth` whose slashed path is path_.
    std::string_view directory_text(std::size_t depth) const {
        if (depth == 0) return root_;
        return std::string_view(path_).substr(0, path_.size() - 1);
    }

    SearchSink& sink_;
    const SearchOptions& options_;
    std::string path_;
    std::string_view root_;
    FindRecord record_;
    std::deque<std::string> subfolders_;
    std::vector<const FolderSearch*> ancestors_;
    bool stop_ = false;
};

}  // namespace

void searchfiles(std::string_view directory, bool descend, SearchSink& sink,
                 const SearchOptions& options) {
    Walker walker(sink, options);
    walker.walk_root(directory, descend);
}

}  // namespace kestrafin::search

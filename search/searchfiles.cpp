#include "search/searchfiles.h"

#include <cerrno>
#include <deque>
#include <string>

#include "platform/folder_reader.h"
#include "platform/path_rules.h"
#include "search/descriptor_budget.h"
#include "search/folder_listing.h"
#include "search/path_text.h"
#include "search/threaded_walk.h"
#include "search/walk_rules.h"

namespace kestrafin::search {

namespace {

using platform::EntryKind;
using platform::Folder;

// One folder of the current descent whose subfolders are still being walked.
struct Frame {
    Folder folder;  // closed by the descriptor budget when far from the deepest level
    FolderListing listing;
    std::size_t next_subfolder = 0;
    std::size_t slashed_length = 0;  // bytes of the walk's path up to its separator
    std::size_t slashed_units = 0;   // the same in UTF-16 code units
    FolderRoute route;
};

// One walk. The descent is a stack of frames, not of calls, so any depth
// fits; the slashed path of the deepest folder lives in one reused buffer.
class Walker {
  public:
    Walker(SearchSink& sink, const SearchOptions& options)
        : sink_(sink), options_(options), budget_(options.open_folders), rules_(sink) {
        path_.reserve(4096);
    }

    void walk(std::string_view root, bool descend) {
        root_ = root;
        path_ = addslash(root);
        std::error_code error;
        Folder folder = Folder::open(path_, error);
        if (!folder.is_open()) {
            sink_.folder_unreadable(root_, error.value());
            return;
        }
        Frame& frame = frame_at(0);
        frame.slashed_length = path_.size();
        frame.slashed_units = utf16_length(path_);
        frame.route = {};
        const bool lists_files = lists_files_of(utf16_length(root));
        if (!take_folder(std::move(folder), {std::nullopt, lists_files}, 0)) return;
        if (!descend || frame.listing.subfolders.empty()) return;
        push(0);
        while (depth_ > 0 && !stopped()) {
            Frame& top = frames_[depth_ - 1];
            if (top.next_subfolder == top.listing.subfolders.size()) {
                pop();
                continue;
            }
            descend_into(depth_ - 1, top.listing.subfolders[top.next_subfolder++]);
        }
        while (depth_ > 0) pop();
    }

  private:
    Frame& frame_at(std::size_t depth) {
        while (frames_.size() <= depth) frames_.emplace_back();
        return frames_[depth];
    }

    // Reads `folder` into `frame`, applies the walk's rules and lists its
    // files. False when the folder is not to be walked further.
    bool take_folder(Folder folder, const ListingRequest& request, std::size_t depth) {
        Frame& frame = frames_[depth];
        read_folder_listing(folder, request, frame.listing);
        if (!rules_.admit(frame.listing, frame.route, directory_of(depth))) return false;
        rules_.hand_on_files(frame.listing, path_, frame.slashed_length);
        rules_.folder_read(frame.listing, directory_of(depth));
        frame.folder = std::move(folder);
        return true;
    }

    void descend_into(std::size_t parent_depth, const ListedName& subfolder) {
        Frame& parent = frames_[parent_depth];
        const std::string_view name = parent.listing.name_of(subfolder);
        path_.resize(parent.slashed_length);
        const Folder* parent_folder = open_folder_at(parent_depth);
        if (parent_folder == nullptr) return;

        path_.append(name);
        const std::size_t directory_units = parent.slashed_units + utf16_length(name);
        const bool through_link = subfolder.kind == EntryKind::link_to_folder;
        std::error_code error;
        Folder folder = Folder::open_child(*parent_folder, name, path_, through_link, error);
        if (!folder.is_open()) {
            sink_.folder_unreadable(path_, error.value());
            return;
        }
        Frame& child = frame_at(parent_depth + 1);
        Frame& parent_again = frames_[parent_depth];  // frames_ is a deque: references stay
        path_.push_back(platform::kPathSeparator);
        child.slashed_length = path_.size();
        child.slashed_units = directory_units + 1;
        child.route = {through_link, parent_again.route.below_link || through_link};
        child.next_subfolder = 0;
        const ListingRequest request{parent_again.listing.identity.volume,
                                     lists_files_of(directory_units)};
        if (!take_folder(std::move(folder), request, parent_depth + 1)) {
            child.folder.close();
            return;
        }
        if (child.listing.subfolders.empty()) {
            child.folder.close();
            return;
        }
        push(parent_depth + 1);
    }

    // The open folder at `depth` of the descent, reopened from its nearest
    // open ancestor when the budget closed it. Reopened folders must be the
    // ones the walk read: when one is not, the tree changed under the walk
    // and the remaining subfolders of the folder at `depth` are left out.
    const Folder* open_folder_at(std::size_t depth) {
        Frame& target = frames_[depth];
        if (target.folder.is_open()) return &target.folder;
        std::size_t level = budget_.nearest_open(depth).value_or(0);
        std::error_code error;
        while (level < depth) {
            Frame& above = frames_[level];
            Frame& below = frames_[level + 1];
            const std::string_view name(path_.data() + above.slashed_length,
                                        below.slashed_length - 1 - above.slashed_length);
            const std::string_view full_path(path_.data(), below.slashed_length - 1);
            Folder reopened = Folder::open_child(above.folder, name, full_path,
                                                 below.route.entered_through_link, error);
            if (reopened.is_open() && reopened.identity(error) != below.listing.identity) {
                // Another folder now stands where the walk read this one.
                error = std::make_error_code(std::errc::no_such_file_or_directory);
                reopened.close();
            }
            if (!reopened.is_open()) {
                sink_.folder_unreadable(directory_of(depth), error.value());
                target.next_subfolder = target.listing.subfolders.size();
                return nullptr;
            }
            below.folder = std::move(reopened);
            keep_budget(level + 1);
            ++level;
        }
        return &target.folder;
    }

    void push(std::size_t depth) {
        depth_ = depth + 1;
        rules_.descend(frames_[depth].listing.identity);
        keep_budget(depth);
    }

    void pop() {
        --depth_;
        Frame& frame = frames_[depth_];
        rules_.ascend(frame.listing.identity);
        if (frame.folder.is_open()) {
            frame.folder.close();
            budget_.closed(depth_);
        }
    }

    void keep_budget(std::size_t depth) {
        if (const auto closing = budget_.opened(depth)) frames_[*closing].folder.close();
    }

    std::string_view directory_of(std::size_t depth) const {
        if (depth == 0) return root_;
        return std::string_view(path_).substr(0, frames_[depth].slashed_length - 1);
    }

    // Whether the files of a folder whose directory string has `units` code
    // units are handed on.
    bool lists_files_of(std::size_t units) const {
        return options_.every_file || units > options_.longer_than;
    }

    bool stopped() {
        if (!stop_) stop_ = sink_.should_stop();
        return stop_;
    }

    SearchSink& sink_;
    const SearchOptions& options_;
    DescriptorBudget budget_;
    std::string path_;
    std::string_view root_;
    std::deque<Frame> frames_;  // frames_[0, depth_) is the descent; deeper ones are kept for reuse
    std::size_t depth_ = 0;
    WalkRules rules_;
    bool stop_ = false;
};

}  // namespace

void searchfiles(std::string_view directory, bool descend, SearchSink& sink,
                 const SearchOptions& options) {
    if (descend && options.threads > 1 && walk_with_read_ahead(directory, sink, options)) return;
    Walker walker(sink, options);
    walker.walk(directory, descend);
}

}  // namespace kestrafin::search

#include "search/searchfiles.h"

#include <algorithm>
#include <cerrno>
#include <string>

#include "platform/folder_reader.h"
#include "platform/handle_limit.h"
#include "platform/path_rules.h"
#include "search/descriptor_budget.h"
#include "search/folder_listing.h"
#include "search/path_text.h"
#include "search/read_waits.h"
#include "search/threaded_walk.h"
#include "search/walk_descent.h"
#include "search/walk_rules.h"

namespace kestrafin::search {

namespace {

using platform::EntryKind;
using platform::Folder;

// One walk. The descent is a stack of frames, not of calls, so any depth
// fits; the slashed path of the deepest folder lives in one reused buffer.
// With readers to spare, the walk watches how its own reads go and hands the
// rest of the descent to the walk with read-ahead once they wait.
class Walker {
  public:
    Walker(SearchSink& sink, const SearchOptions& options, const ReaderPlan& readers)
        : sink_(sink), options_(options), readers_(readers), descent_(sink, options.open_folders) {
        descent_.path.reserve(4096);
    }

    void walk(std::string_view root, bool descend) {
        descent_.root = root;
        descent_.path = addslash(root);
        std::error_code error;
        Folder folder = Folder::open(descent_.path, error);
        if (!folder.is_open()) {
            sink_.folder_unreadable(root, error.value());
            return;
        }
        DescentFrame& frame = frame_at(0);
        frame.slashed_length = descent_.path.size();
        frame.slashed_units = utf16_length(descent_.path);
        frame.route = {};
        if (!take_folder(std::move(folder), 0,
                         {std::nullopt, lists_files_of(options_, utf16_length(root))}, {}))
            return;
        if (!descend || frame.listing.subfolders.empty()) return;
        push(0);
        while (descent_.depth > 0) {
            // Before asking the sink: the walk that goes on asks it first
            // itself, and the sink is asked once per step either way.
            if (time_to_read_ahead()) {
                walk_on_with_read_ahead(descent_, sink_, options_, readers_);
                return;
            }
            if (stopped()) break;
            DescentFrame& top = descent_.frames[descent_.depth - 1];
            if (top.next_subfolder == top.listing.subfolders.size()) {
                pop();
                continue;
            }
            descend_into(descent_.depth - 1, top.listing.subfolders[top.next_subfolder++]);
        }
        while (descent_.depth > 0) pop();
    }

  private:
    DescentFrame& frame_at(std::size_t depth) {
        while (descent_.frames.size() <= depth) descent_.frames.emplace_back();
        return descent_.frames[depth];
    }

    // Reads the folder just opened for the frame at `depth`, applies the walk's
    // rules to it and hands on its files as they are read, so that no folder
    // is held whole. False when it is not to be walked further.
    bool take_folder(Folder folder, std::size_t depth, const ListingRequest& request,
                     const ReadWaits::Read& read) {
        DescentFrame& frame = descent_.frames[depth];
        read_folder_identity(folder, request, frame.listing);
        // Only the host's part is timed: handing on files may wait for the sink.
        waits_.finish(read);
        if (!descent_.rules.admit(frame.listing, frame.route, descent_.directory_of(depth)))
            return false;
        ReadAllowance unbounded;
        const std::size_t slashed_length = frame.slashed_length;
        read_folder_names(folder, request, frame.listing, unbounded,
                          [&](std::string_view name, EntryKind) {
                              descent_.rules.hand_on_file(name, descent_.path, slashed_length);
                              return true;
                          });
        descent_.rules.folder_read(frame.listing, descent_.directory_of(depth));
        frame.folder = std::move(folder);
        ++folders_taken_;
        return true;
    }

    void descend_into(std::size_t parent_depth, const ListedName& subfolder) {
        DescentFrame& parent = descent_.frames[parent_depth];
        std::string& path = descent_.path;
        const std::string_view name = parent.listing.name_of(subfolder);
        path.resize(parent.slashed_length);
        const Folder* parent_folder = open_folder_at(parent_depth);
        if (parent_folder == nullptr) return;

        path.append(name);
        const std::size_t directory_units = parent.slashed_units + utf16_length(name);
        const bool through_link = subfolder.kind == EntryKind::link_to_folder;
        const ReadWaits::Read read = readers_.readers > 0 ? waits_.start() : ReadWaits::Read{};
        std::error_code error;
        Folder folder = Folder::open_child(*parent_folder, name, path, through_link, error);
        if (!folder.is_open()) {
            sink_.folder_unreadable(path, error.value());
            return;
        }
        DescentFrame& child = frame_at(parent_depth + 1);
        DescentFrame& parent_again = descent_.frames[parent_depth];  // a deque: references stay
        path.push_back(platform::kPathSeparator);
        child.slashed_length = path.size();
        child.slashed_units = directory_units + 1;
        child.route = {through_link, parent_again.route.below_link || through_link};
        child.next_subfolder = 0;
        const ListingRequest request{parent_again.listing.identity.volume,
                                     lists_files_of(options_, directory_units)};
        if (!take_folder(std::move(folder), parent_depth + 1, request, read) ||
            child.listing.subfolders.empty()) {
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
        auto& frames = descent_.frames;
        DescentFrame& target = frames[depth];
        if (target.folder.is_open()) return &target.folder;
        std::size_t level = descent_.budget.nearest_open(depth).value_or(0);
        std::error_code error;
        while (level < depth) {
            DescentFrame& above = frames[level];
            DescentFrame& below = frames[level + 1];
            const std::string_view path = descent_.path;
            const std::string_view name =
                path.substr(above.slashed_length, below.slashed_length - 1 - above.slashed_length);
            const std::string_view full_path = path.substr(0, below.slashed_length - 1);
            Folder reopened = Folder::open_child(above.folder, name, full_path,
                                                 below.route.entered_through_link, error);
            if (reopened.is_open() &&
                !descent_.rules.reopened_is_read(reopened, below.listing, below.listing.identity)) {
                // Another folder now stands where the walk read this one.
                error = std::make_error_code(std::errc::no_such_file_or_directory);
                reopened.close();
            }
            if (!reopened.is_open()) {
                sink_.folder_unreadable(descent_.directory_of(depth), error.value());
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
        descent_.depth = depth + 1;
        descent_.rules.descend(descent_.frames[depth].listing.identity);
        keep_budget(depth);
    }

    void pop() {
        const std::size_t depth = --descent_.depth;
        DescentFrame& frame = descent_.frames[depth];
        descent_.rules.ascend(frame.listing.identity);
        if (frame.folder.is_open()) {
            frame.folder.close();
            descent_.budget.closed(depth);
        }
    }

    void keep_budget(std::size_t depth) {
        if (const auto closing = descent_.budget.opened(depth))
            descent_.frames[*closing].folder.close();
    }

    bool time_to_read_ahead() const {
        if (readers_.readers == 0) return false;
        if (options_.read_ahead_after_folders)
            return folders_taken_ >= *options_.read_ahead_after_folders;
        return waits_.reads_wait();
    }

    bool stopped() {
        if (!stop_) stop_ = sink_.should_stop();
        return stop_;
    }

    SearchSink& sink_;
    const SearchOptions& options_;
    const ReaderPlan readers_;
    Descent descent_;
    ReadWaits waits_;
    std::size_t folders_taken_ = 0;
    bool stop_ = false;
};

}  // namespace

void searchfiles(std::string_view directory, bool descend, SearchSink& sink,
                 const SearchOptions& options) {
    // A process allowed few handles keeps fewer folders open, and leaves half
    // of its handles to the rest of the program.
    SearchOptions fitted = options;
    fitted.open_folders = std::clamp(platform::open_handle_limit() / 2, kFewestOpenFolders,
                                     std::max(options.open_folders, kFewestOpenFolders));
    Walker walker(sink, fitted, descend ? plan_readers(fitted) : ReaderPlan{});
    walker.walk(directory, descend);
}

}  // namespace kestrafin::search

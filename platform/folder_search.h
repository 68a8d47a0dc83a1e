// Enumeration of the names in one folder, shaped after the host's find-file
// search: open on a search pattern, fetch one find record at a time, close.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace kestrafin::platform {

inline constexpr std::uint32_t kAttributeDirectory = 0x10;
// Set for symbolic links and other reparse points; the directory bit tells
// whether the link leads to a folder.
inline constexpr std::uint32_t kAttributeReparsePoint = 0x400;
inline constexpr std::uint32_t kAttributeNormal = 0x80;

inline constexpr std::size_t kFindNameSize = 260;

// One entry of a folder. The name field always holds a NUL after the name.
struct FindRecord {
    std::uint32_t attributes = 0;
    char name[kFindNameSize] = {};
};

// Identifies a folder on the host, so that a walk can tell when a link leads
// back to a folder that it is already inside.
struct FolderIdentity {
    std::uint64_t device = 0;
    std::uint64_t node = 0;
    bool operator==(const FolderIdentity&) const = default;
};

class FolderSearch {
  public:
    // Opens a search on `pattern`, a folder's path with a trailing separator
    // followed by "*.*". When `parent` is given, `name` is the folder's name in
    // the parent's folder and the folder is opened relative to the parent, so
    // that the length of the full path sets no limit.
    static FolderSearch open(std::string_view pattern, const FolderSearch* parent = nullptr,
                             std::string_view name = {});

    FolderSearch(FolderSearch&&) noexcept;
    FolderSearch& operator=(FolderSearch&&) noexcept;
    ~FolderSearch();

    // True when the folder could be opened; false carries error() instead.
    bool valid() const { return state_ != nullptr; }

    // Fills `record` with the next entry. "." and ".." come first, as on the
    // host's own find-file search. Returns false when the folder is exhausted
    // or reading failed (error() is then non-zero).
    bool next(FindRecord& record);

    // The host's error number of the failed open or read, 0 when none.
    int error() const { return error_; }

    // The folder's identity; the device and node are 0 when the host cannot tell.
    FolderIdentity identity() const;

    // Ends the search early; the destructor does the same.
    void close();

  private:
    struct State;
    FolderSearch(std::unique_ptr<State> state, int error);
    std::unique_ptr<State> state_;
    int error_ = 0;
};

}  // namespace kestrafin::platform

// A small read-only FUSE file system of our own that serves names longer than
// most local file systems allow (up to 1,000 bytes, as FUSE passes them), so
// that the walk meets them as a hostile share would give them. It can also
// lie about its folders the way some network and FUSE file systems do.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kestrafin::testing {

enum class FileSystemLie {
    none,
    same_number_for_every_folder,  // every folder reports inode 42
    number_zero_for_every_folder,
    child_takes_parents_number,  // each folder reports the inode of the one above it
    kind_unknown_and_unaskable,  // listings type nothing, and the folder "x" cannot be stat'ed
    dots_typed_as_files,         // "." and ".." are listed as regular files
    // The root holds only the files n00..n99, refuses to be stat'ed, and its
    // first listing reply ends at the offset ext4 gives a folder's end.
    unaskable_root_with_early_end_mark,
};

class LongNameFileSystem {
  public:
    // Mounts the file system on the empty folder `mount_point`, served by a
    // child process. When that cannot be done, mounted() is false and
    // why_not() says why.
    explicit LongNameFileSystem(std::string mount_point, FileSystemLie lie = FileSystemLie::none);
    // Unmounts and ends the child.
    ~LongNameFileSystem();
    LongNameFileSystem(const LongNameFileSystem&) = delete;
    LongNameFileSystem& operator=(const LongNameFileSystem&) = delete;

    bool mounted() const { return server_ > 0; }
    const std::string& why_not() const { return why_not_; }

    // Every file served, as a path below the mount point ("/" first), in the
    // walk's order: a folder's files, then each subfolder's tree; under
    // kind_unknown_and_unaskable, without those below unaskable_folder().
    static std::vector<std::string> files(FileSystemLie lie = FileSystemLie::none);
    // The folder whose kind cannot be learned under kind_unknown_and_unaskable.
    static std::string unaskable_folder();

  private:
    std::string mount_point_;
    std::string why_not_;
    pid_t server_ = -1;
};

}  // namespace kestrafin::testing

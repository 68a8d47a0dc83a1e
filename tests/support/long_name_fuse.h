// A small read-only FUSE file system of our own that serves names longer than
// most local file systems allow (up to 1,000 bytes, as FUSE passes them), so
// that the walk meets them as a hostile share would give them.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kestrafin::testing {

class LongNameFileSystem {
  public:
    // Mounts the file system on the empty folder `mount_point`, served by a
    // child process. When that cannot be done, mounted() is false and
    // why_not() says why.
    explicit LongNameFileSystem(std::string mount_point);
    // Unmounts and ends the child.
    ~LongNameFileSystem();
    LongNameFileSystem(const LongNameFileSystem&) = delete;
    LongNameFileSystem& operator=(const LongNameFileSystem&) = delete;

    bool mounted() const { return server_ > 0; }
    const std::string& why_not() const { return why_not_; }

    // Every file served, as a path below the mount point ("/" first), in the
    // walk's order.
    static std::vector<std::string> files();

  private:
    std::string mount_point_;
    std::string why_not_;
    pid_t server_ = -1;
};

}  // namespace kestrafin::testing

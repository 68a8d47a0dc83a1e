// Reading one file from start to end in pieces, so that a large file never has
// to be held whole.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrafin::platform {

class SequentialFileReader {
  public:
    // Opens `path` for reading. Raises std::system_error naming `what` and the
    // path when it cannot be opened, is not a regular file (never blocking on
    // a FIFO or a device in its place) or lies on a kernel file system, whose
    // files may never end (FileKind::KernelFile).
    SequentialFileReader(const std::string& path, std::string_view what);
    ~SequentialFileReader();
    SequentialFileReader(const SequentialFileReader&) = delete;
    SequentialFileReader& operator=(const SequentialFileReader&) = delete;

    // Reads up to `size` bytes into `into`: returns how many were read, 0 at
    // the end of the file. Raises std::system_error when the read fails.
    std::size_t read(char* into, std::size_t size);

  private:
    std::string path_;
    std::string what_;
    int descriptor_ = -1;
};

}  // namespace kestrafin::platform

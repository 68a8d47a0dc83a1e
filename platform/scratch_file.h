// A file of the program's own for what does not fit in memory: unnamed, or
// removed by the host once closed, so that it never outlives the program,
// however that ends. Written at its end, then read from its start.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace kestrafin::platform {

class ScratchFile {
  public:
    // Makes the file in the host's folder for temporary files. Raises
    // std::system_error when it cannot.
    ScratchFile();
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    // Appends `bytes`. Raises std::system_error when the host refuses.
    void append(std::string_view bytes);
    // Reads up to `size` bytes into `into` from where the last read ended
    // (the start, first): how many, 0 at the end.
    std::size_t read(char* into, std::size_t size);

  private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
};

}  // namespace kestrafin::platform

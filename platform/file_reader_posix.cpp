#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_errors_posix.h"
#include "platform/file_reader.h"

namespace kestrafin::platform {

SequentialFileReader::SequentialFileReader(const std::string& path, std::string_view what)
    : path_(path), what_(what) {
    // A FIFO, a device or a terminal in the file's place neither blocks the
    // open nor is read.
    descriptor_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor_ < 0) posix::raise_file_error("open", what_, path_, errno);
    posix::refuse_unless_regular_user_file(descriptor_, "open", what_, path_);
}

SequentialFileReader::~SequentialFileReader() {
    ::close(descriptor_);
}

std::size_t SequentialFileReader::read(char* into, std::size_t size) {
    for (;;) {
        const ssize_t got = ::read(descriptor_, into, size);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) posix::raise_file_error("read", what_, path_, errno);
    }
}

}  // namespace kestrafin::platform

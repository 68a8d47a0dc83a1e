#include "platform/standard_stream.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>
#include <system_error>

namespace kestrafin::platform {

void keep_standard_streams_open() {
    for (const int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(stream, F_GETFD) != -1) continue;
        // open() returns the lowest free descriptor, which is this one.
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0 && null != stream) ::close(null);
    }
}

void write_stream(int descriptor, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t put = ::write(descriptor, bytes.data(), bytes.size());
        if (put < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "cannot write the output");
        }
        bytes.remove_prefix(static_cast<std::size_t>(put));
    }
}

bool stream_is_terminal(int descriptor) {
    return ::isatty(descriptor) == 1;
}

std::size_t terminal_columns(int descriptor) {
    winsize size{};
    if (::ioctl(descriptor, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

}  // namespace kestrafin::platform

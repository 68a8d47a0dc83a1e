// The program folder on Linux: the link /proc/self/exe names the executable.
#include "platform/program_folder.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

namespace kestrafin::platform {

std::string program_folder() {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            throw std::system_error(errno, std::generic_category(),
                                    "cannot find the program's folder");
        if (static_cast<std::size_t>(length) < buffer.size()) {
            std::string path(buffer.data(), static_cast<std::size_t>(length));
            const auto slash = path.find_last_of('/');
            if (slash == std::string::npos) return ".";
            return slash == 0 ? "/" : path.substr(0, slash);
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace kestrafin::platform

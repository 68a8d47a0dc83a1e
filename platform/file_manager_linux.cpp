// Shows a file through the freedesktop file manager interface, which selects
// it in its folder, and falls back on opening the folder through xdg-open
// where no file manager answers on the session bus.
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/file_manager.h"
#include "platform/process_posix.h"
#include "platform/text.h"

namespace kestrafin::platform {

namespace {

std::string absolute_path(const std::string& path) {
    if (!path.empty() && path.front() == '/') return path;
    std::string folder(4096, '\0');
    while (::getcwd(folder.data(), folder.size()) == nullptr) {
        if (errno != ERANGE)
            throw std::system_error(errno, std::generic_category(),
                                    "cannot tell where \"" + path + "\" lies");
        folder.resize(folder.size() * 2);
    }
    folder.resize(folder.find('\0'));
    return folder + "/" + path;
}

}  // namespace

void show_in_file_manager(const std::string& path) {
    const std::string absolute = absolute_path(path);
    // Waits for the reply, so that a bus without a file manager is known.
    const int status =
        run_to_end({"dbus-send", "--session", "--print-reply", "--reply-timeout=5000",
                    "--dest=org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                    "org.freedesktop.FileManager1.ShowItems", "array:string:" + file_uri(absolute),
                    "string:"});
    if (status == 0) return;
    const std::size_t last = absolute.find_last_of('/');
    start_detached({"xdg-open", last == 0 ? std::string("/") : absolute.substr(0, last)});
}

}  // namespace kestrafin::platform

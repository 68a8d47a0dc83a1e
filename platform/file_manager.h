// Showing a found file in the desktop's own file manager.
#pragma once

#include <string>

namespace kestrafin::platform {

// Opens the folder that holds the file `path` in the desktop's file manager,
// with the file selected where the manager can do that: on Windows Explorer;
// elsewhere the file manager the desktop names on the session bus
// (org.freedesktop.FileManager1), or else the folder through xdg-open.
// Waits only until the request has been handed over. Raises
// std::system_error when no way to show it could be started.
void show_in_file_manager(const std::string& path);

}  // namespace kestrafin::platform

// Closing a top-level window on an X display as a window manager's close
// button does. Kept apart from Qt code, whose names the X headers' macros spoil.
#pragma once

#include <string>

namespace kestrafin::testing {

// Sends a close request to the top-level window titled `title` on the X
// display `display_name`. Returns false when the display cannot be opened or
// holds no such window.
bool request_window_close(const std::string& display_name, const std::string& title);

}  // namespace kestrafin::testing

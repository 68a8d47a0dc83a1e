// Starting another program from a command line, as the host's shell does.
#pragma once

#include <functional>
#include <string>

namespace kestrafin::platform {

// Window style codes a command line is started with.
enum class WindowStyle : int {
    Hidden = 0,
    NormalWithFocus = 1,
    MinimizedWithFocus = 2,
    MaximizedWithFocus = 3,
    NormalWithoutFocus = 4,
    MinimizedWithoutFocus = 6,
};

// Starts the program named by the first word of `command_line`, with the rest
// of the line as its arguments, and returns without waiting for it. A line
// whose first word is "explorer" opens the rest of the line in the desktop's
// default browser or file manager. Raises std::system_error when the program
// cannot be started.
void start_program(const std::string& command_line, WindowStyle style);

// The signature of start_program, so that callers can be handed a stand-in.
using ProgramStarter = std::function<void(const std::string&, WindowStyle)>;

}  // namespace kestrafin::platform

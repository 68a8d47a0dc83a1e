// Starting other programs by their argument lists on POSIX hosts.
#pragma once

#include <string>
#include <vector>

namespace kestrafin::platform {

// Starts `arguments` (the program, found on PATH, then its arguments) in a
// session of its own and returns without waiting for it; no zombie is left.
// Raises std::system_error when the program cannot be started.
void start_detached(const std::vector<std::string>& arguments);

// Runs `arguments` with its output and errors discarded and waits for it to
// end. Its exit status; -1 when it could not be started or did not exit.
int run_to_end(const std::vector<std::string>& arguments);

}  // namespace kestrafin::platform

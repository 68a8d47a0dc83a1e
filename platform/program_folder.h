// Where the running program lives.
#pragma once

#include <string>
#include <string_view>

namespace kestrafin::platform {

// The folder that holds the running executable, without a trailing separator
// (except for the host's root). Raises std::system_error when the host cannot tell.
std::string program_folder();

// A file of the program: the folder, the host's separator and the name,
// appended plainly whatever the folder ends with.
std::string program_file(const std::string& folder, std::string_view name);

}  // namespace kestrafin::platform

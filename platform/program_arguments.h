// The program's command-line arguments as the core reads them: UTF-8.
#pragma once

#include <string>
#include <vector>

namespace kestrafin::platform {

// The arguments after the program's name. Where the host's command line is
// UTF-16, it is read from the system and converted (unpaired surrogates as
// WTF-8), and `argv` serves only when the system cannot be asked; elsewhere
// `argv` is the command line itself.
std::vector<std::string> program_arguments(int argc, char** argv);

}  // namespace kestrafin::platform

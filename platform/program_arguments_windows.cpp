// The command line as the system holds it, in UTF-16: the narrow argv of the
// C runtime has lost every character outside the ANSI code page.
#include "platform/program_arguments.h"
#include "platform/windows_api.h"

#include <shellapi.h>

namespace kestrafin::platform {

std::vector<std::string> program_arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr)
        return argc < 1 ? std::vector<std::string>{}
                        : std::vector<std::string>(argv + 1, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(windows::utf8_from_wide(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

}  // namespace kestrafin::platform

// The command line as the system holds it, in UTF-16: the narrow argv of the
// C runtime has lost every character outside the ANSI code page.
#include "platform/program_arguments.h"
#include "platform/windows/system.h"

#include <shellapi.h>

#include <memory>

namespace kestrafin::platform {

namespace {

// CommandLineToArgvW's block is the caller's to free with LocalFree; it is
// owned from the call on, so that a throwing conversion cannot leak it.
struct LocalRelease {
    void operator()(wchar_t** block) const noexcept { ::LocalFree(block); }
};

}  // namespace

std::vector<std::string> program_arguments(int argc, char** argv) {
    int count = 0;
    const std::unique_ptr<wchar_t*, LocalRelease> wide(
        ::CommandLineToArgvW(::GetCommandLineW(), &count));
    if (!wide)
        return argc < 1 ? std::vector<std::string>{}
                        : std::vector<std::string>(argv + 1, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(windows::utf8_from_wide(wide.get()[i]));
    return arguments;
}

}  // namespace kestrafin::platform

// Starting a program on Windows as the system's own shell function does: the
// whole line goes to CreateProcessW, which finds the program named by its
// first word, and the window style becomes the new program's show command.
#include "platform/start_program.h"
#include "platform/windows/system.h"

#include <system_error>

namespace kestrafin::platform {

namespace {

WORD show_command(WindowStyle style) {
    switch (style) {
        case WindowStyle::Hidden:
            return SW_HIDE;
        case WindowStyle::NormalWithFocus:
            return SW_SHOWNORMAL;
        case WindowStyle::MinimizedWithFocus:
            return SW_SHOWMINIMIZED;
        case WindowStyle::MaximizedWithFocus:
            return SW_SHOWMAXIMIZED;
        case WindowStyle::NormalWithoutFocus:
            return SW_SHOWNOACTIVATE;
        case WindowStyle::MinimizedWithoutFocus:
            return SW_SHOWMINNOACTIVE;
    }
    return SW_SHOWNORMAL;
}

}  // namespace

void start_program(const std::string& command_line, WindowStyle style) {
    if (command_line.find_first_not_of(" \t") == std::string::npos)
        throw std::system_error(ERROR_INVALID_PARAMETER, std::system_category(),
                                "cannot start an empty command");
    // CreateProcessW may write into the command line, so it gets its own copy.
    std::wstring line = windows::wide_from_utf8(command_line);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = show_command(style);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &started)) {
        const std::error_code error = windows::last_error();
        const auto first_word = command_line.substr(0, command_line.find(' '));
        throw std::system_error(error, "cannot start '" + first_word + "'");
    }
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
}

}  // namespace kestrafin::platform

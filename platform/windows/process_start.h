// Starting programs on Windows: which file a program's name stands for, and
// the one call that starts it, which tests may replace so that they see what
// would be started without starting it. Included only by the Windows backends
// and by tests.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/windows/system.h"

namespace kestrafin::platform::windows {

// The file that the first word of a command line names. A full path (a drive
// path or a share) is taken as it is. A bare name is a program of the system:
// System32's, else the shared Windows folder's, ".exe" added when the name
// has none; the program's folder, the current folder and PATH are never
// searched, so a planted copy there is never started. Anything else (a
// relative path) is refused. Empty on failure, and `error` says why
// (ERROR_FILE_NOT_FOUND when the system holds no such program).
std::wstring program_file_for(std::wstring_view word, std::error_code& error);

// A program to start: its full path, and the command line it is given, whose
// first word is that path, quoted.
struct ProgramStart {
    std::wstring program;
    std::wstring command_line;
    WORD show = SW_SHOWNORMAL;  // the window's show command
};

// Starts the program and returns without waiting for it, through the
// system's CreateProcessW unless a test replaced the call. Raises
// std::system_error when it cannot be started.
void start_process(const ProgramStart& start);

// Starts the program that the first word of `command_line` (UTF-8; quoted
// when it holds spaces) names, as program_file_for finds it, with the rest
// of the line as its arguments and `show` as its window's show command.
// Raises std::system_error when the line is empty or names no program to
// start.
void start_command_line(const std::string& command_line, WORD show);

// While alive, start_process hands every start to `stand_in` instead of the
// system. For tests; made and dropped while no other thread starts programs.
class ReplacedProcessStart {
  public:
    explicit ReplacedProcessStart(std::function<void(const ProgramStart&)> stand_in);
    ~ReplacedProcessStart();
    ReplacedProcessStart(const ReplacedProcessStart&) = delete;
    ReplacedProcessStart& operator=(const ReplacedProcessStart&) = delete;

  private:
    std::function<void(const ProgramStart&)> replaced_;
};

}  // namespace kestrafin::platform::windows

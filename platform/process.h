// The running program and its dealings with the host: where it lives and its
// arguments, its standard streams, large blocks of memory, the desktop's
// browser and file manager, and ending at once.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/path_rules.h"

namespace kestrafin::platform {

// --- Where the program lives and what it was given

// The folder that holds the running executable, without a trailing separator
// (except for the host's root). Raises std::system_error when the host cannot tell.
std::string program_folder();

// A file of the program: the folder, the host's separator and the name,
// appended plainly whatever the folder ends with.
inline std::string program_file(const std::string& folder, std::string_view name) {
    std::string path = folder;
    path.push_back(kPathSeparator);
    path.append(name);
    return path;
}

// The arguments after the program's name. Where the host's command line is
// UTF-16, it is read from the system and converted (unpaired surrogates as
// WTF-8), and `argv` serves only when the system cannot be asked; elsewhere
// `argv` is the command line itself.
std::vector<std::string> program_arguments(int argc, char** argv);

// Makes every library the program loads from now on come from the system's
// own folder, never from the program's folder or the current one, where
// anyone may have put a file of a system library's name. Call it first in
// main. Nothing where the host has no such search.
void load_libraries_from_the_system_only();

// --- Standard streams: text written to them. A stream is named by its number
// in the C runtime: kStandardOutput, kStandardError, or one the runtime opened.

inline constexpr int kStandardOutput = 1;
inline constexpr int kStandardError = 2;

// Makes sure standard input, output and error are open, opening the null
// device in place of any that is closed, so that no file the program opens
// later takes a stream's place and receives what is written to it. Writing to
// an output that was closed still fails. Call it first in main. Never fails:
// a stream that cannot be filled stays closed.
void keep_standard_streams_open();

// Writes all of `bytes` (UTF-8 text) to the stream `descriptor`. Pipes and
// files get the bytes unchanged; a console that takes wide text gets the text
// as wide characters. Raises std::system_error when the stream fails.
void write_stream(int descriptor, std::string_view bytes);

// True when `descriptor` is an interactive terminal or console, which then
// also understands the cursor control sequences "\r" and "ESC [ K".
bool stream_is_terminal(int descriptor);

// The width of the terminal at `descriptor` in columns, 80 when unknown.
std::size_t terminal_columns(int descriptor);

// --- Large blocks of memory straight from the host, backed by huge pages where
// the host offers them, so that filling a block takes few page faults

// A block of `size` bytes; raises std::bad_alloc when the host has none.
void* allocate_large_block(std::size_t size);

// Returns a block from allocate_large_block with the same size.
void free_large_block(void* block, std::size_t size) noexcept;

// --- The desktop's browser and file manager. The programs that do it are
// the system's own: on Windows Explorer, started by its full path in the
// system's folders, never a file of its name in the program's folder, the
// current folder or PATH.

// Opens the web address `address` ("http://host/", without spaces) in the
// desktop's default browser: on Windows through Explorer, started minimized;
// elsewhere through xdg-open. Returns without waiting for the browser.
// Raises std::system_error when the opener cannot be started.
void open_address(const std::string& address);

// Opens the folder that holds the file `path` in the desktop's file manager,
// with the file selected where the manager can do that: on Windows Explorer;
// elsewhere the file manager the desktop names on the session bus
// (org.freedesktop.FileManager1), or else the folder through xdg-open.
// Waits only until the request has been handed over. Raises
// std::system_error when no way to show it could be started.
void show_in_file_manager(const std::string& path);

// --- Ending the program at once, while a thread may still be blocked on a
// folder that no longer answers (a share that stopped), without leaving behind
// what unfinished saves created

// Waits for a file being written in place to end whole, removes the
// temporary files of saves that have not ended and ends the process with
// `status`, running no destructors and waiting for no other thread.
// Where the removal cannot finish at once (its folder does not answer) it
// goes on after the process has ended, and ends when the folder answers.
[[noreturn]] void end_program_at_once(int status);

}  // namespace kestrafin::platform

// Writing text to the program's standard streams.
#pragma once

#include <cstddef>
#include <string_view>

namespace kestrafin::platform {

inline constexpr int kStandardOutput = 1;
inline constexpr int kStandardError = 2;

// Makes sure standard input, output and error are open, opening the null
// device in place of any that is closed, so that no file the program opens
// later takes a stream's place and receives what is written to it. Call it
// first in main. Never fails: a stream that cannot be filled stays closed.
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

}  // namespace kestrafin::platform

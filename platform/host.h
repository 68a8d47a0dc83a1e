// What the host tells of itself and of the program's run: the machine's and
// the account's names, random bytes, which server or volume a folder lies
// on, and a request to stop (SIGINT or SIGTERM, Ctrl+C or Ctrl+Break on a
// console) that the program answers in its own time.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

namespace kestrafin::platform {

// The machine's name as the network knows it (Windows: its DNS host name);
// empty when the host will not tell.
std::string host_name();

// The name of the account the program runs as; empty when the host will not
// tell.
std::string user_name();

// Fills `size` bytes at `into` from the host's random source. Raises
// std::system_error when it has none.
void random_bytes(unsigned char* into, std::size_t size);

// Names the server or volume that serves `folder`, so that folders of
// different ones can be read at the same time without waiting on each
// other: on Windows the server of a UNC path ("\\FS01"), or else the
// drive ("C:"), told from the path alone; elsewhere the device the folder
// lies on. Empty when that cannot be told (a POSIX folder that cannot be
// reached).
std::string volume_of(const std::string& folder);

// From the first call on, an interruption sets the flag returned instead of
// ending the program; a second one takes its usual course (which removes the
// temporary files of saves still running). The same flag on every call.
const std::atomic<bool>& stop_on_interruption();

}  // namespace kestrafin::platform

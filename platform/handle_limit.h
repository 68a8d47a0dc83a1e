// How many handles (files, folders) this process may hold open at once.
#pragma once

#include <cstddef>

namespace kestrafin::platform {

// The most handles the process may have open at once: the host's limit for
// this process, or a very large number when the host sets none.
std::size_t open_handle_limit();

}  // namespace kestrafin::platform

#include "platform/handle_limit.h"

namespace kestrafin::platform {

// Windows sets no small limit on a process's handles; this many folders open
// at once is far more than a walk keeps.
std::size_t open_handle_limit() {
    return std::size_t{1} << 20;
}

}  // namespace kestrafin::platform

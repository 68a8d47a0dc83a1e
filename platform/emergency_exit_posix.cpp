#include <cstdlib>

#include "platform/emergency_exit.h"
#include "platform/linux/signal_guard.h"

namespace kestrafin::platform {

namespace {

// Long enough for a folder that answers; a stopped share is not waited for.
constexpr int kRemovalPatienceMs = 2000;

}  // namespace

void end_program_at_once(int status) {
    // A file written in place is let end whole first.
    linux_host::finish_in_place_writes();
    linux_host::remove_held_names_before_exit(kRemovalPatienceMs);
    std::_Exit(status);
}

}  // namespace kestrafin::platform

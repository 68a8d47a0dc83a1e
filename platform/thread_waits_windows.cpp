#include "platform/thread_waits.h"

namespace kestrafin::platform {

// Windows keeps no count of a thread's waits that is cheap to ask for; the
// walk then judges its reads by their time alone.
std::optional<std::uint64_t> thread_waits() {
    return std::nullopt;
}

}  // namespace kestrafin::platform

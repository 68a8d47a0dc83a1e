#include <sys/resource.h>

#include "platform/handle_limit.h"

namespace kestrafin::platform {

std::size_t open_handle_limit() {
    constexpr std::size_t kNoLimit = std::size_t{1} << 20;
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kNoLimit;
    return static_cast<std::size_t>(limit.rlim_cur);
}

}  // namespace kestrafin::platform

#include <sys/resource.h>

#include "platform/thread_waits.h"

namespace kestrafin::platform {

std::optional<std::uint64_t> thread_waits() {
    rusage usage{};
    if (getrusage(RUSAGE_THREAD, &usage) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(usage.ru_nvcsw);
}

}  // namespace kestrafin::platform

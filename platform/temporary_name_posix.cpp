#include "platform/temporary_name_posix.h"

#include "platform/signal_guard_posix.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace kestrafin::platform::posix {

namespace {

constexpr int kAttempts = 100;

std::string fresh_name() {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char random[12];
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        // Without the host's random source the names still differ per call.
        static std::atomic<unsigned> counter{0};
        const unsigned seed = counter++ ^ static_cast<unsigned>(::getpid()) * 2654435761u;
        for (std::size_t i = 0; i < sizeof random; ++i)
            random[i] = static_cast<unsigned char>(seed >> (i % 4 * 8));
    }
    std::string name = ".kestrafin-";
    for (const unsigned char byte : random) name.push_back(kLetters[byte % (sizeof kLetters - 1)]);
    return name;
}

}  // namespace

TemporaryName::~TemporaryName() {
    if (held()) remove();
}

int TemporaryName::claim(int folder, const std::function<int(const char* name)>& make) {
    SignalsHeldBack held_back;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const std::string name = fresh_name();
        const int result = make(name.c_str());
        if (result < 0 && errno == EEXIST) continue;
        if (result < 0) return result;
        name_ = name;
        folder_ = folder;
        guard_ = guard_name(folder, name);
        held_ = true;
        return result;
    }
    errno = EEXIST;
    return -1;
}

void TemporaryName::release() {
    if (!held()) return;
    unguard_name(guard_);
    guard_ = -1;
    held_ = false;
}

void TemporaryName::remove() {
    if (!held()) return;
    ::unlinkat(folder_, name_.c_str(), 0);
    release();
}

}  // namespace kestrafin::platform::posix

#include "platform/temporary_name_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/random.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace kestrafin::platform::posix {

namespace {

constexpr std::array<int, 3> kGuardedSignals = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kSlots = 16;
constexpr std::size_t kNameRoom = 32;
constexpr int kAttempts = 100;

// Read by the signal handler, so plain memory and lock-free atomics only.
struct Slot {
    std::atomic<int> folder{-1};
    char name[kNameRoom] = {};
};
std::array<Slot, kSlots> slots;

std::mutex guard_lock;
std::size_t names_held = 0;
std::array<bool, kGuardedSignals.size()> handler_installed{};

void remove_held_names(int signal_number) {
    for (Slot& slot : slots) {
        const int folder = slot.folder.load();
        if (folder >= 0) ::unlinkat(folder, slot.name, 0);
    }
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);  // delivered once this handler returns
}

void install_handlers() {
    for (std::size_t i = 0; i < kGuardedSignals.size(); ++i) {
        struct sigaction current {};
        if (::sigaction(kGuardedSignals[i], nullptr, &current) != 0) continue;
        if (current.sa_handler != SIG_DFL || (current.sa_flags & SA_SIGINFO) != 0) continue;
        struct sigaction ours {};
        ours.sa_handler = remove_held_names;
        sigemptyset(&ours.sa_mask);
        for (const int other : kGuardedSignals) sigaddset(&ours.sa_mask, other);
        handler_installed[i] = ::sigaction(kGuardedSignals[i], &ours, nullptr) == 0;
    }
}

void restore_handlers() {
    for (std::size_t i = 0; i < kGuardedSignals.size(); ++i) {
        if (!handler_installed[i]) continue;
        struct sigaction current {};
        // Put the default back only where our handler is still the one in place.
        if (::sigaction(kGuardedSignals[i], nullptr, &current) == 0 &&
            current.sa_handler == remove_held_names)
            ::signal(kGuardedSignals[i], SIG_DFL);
        handler_installed[i] = false;
    }
}

// Holds the guarded signals back while a name is made and registered, so no
// signal finds a name that is not yet guarded.
class SignalsHeldBack {
  public:
    SignalsHeldBack() {
        sigset_t blocked;
        sigemptyset(&blocked);
        for (const int signal_number : kGuardedSignals) sigaddset(&blocked, signal_number);
        ::pthread_sigmask(SIG_BLOCK, &blocked, &previous_);
    }
    ~SignalsHeldBack() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsHeldBack(const SignalsHeldBack&) = delete;
    SignalsHeldBack& operator=(const SignalsHeldBack&) = delete;

  private:
    sigset_t previous_;
};

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
    std::lock_guard lock(guard_lock);
    std::size_t free_slot = kSlots;
    for (std::size_t i = 0; i < kSlots; ++i)
        if (slots[i].folder.load() < 0) {
            free_slot = i;
            break;
        }
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const std::string name = fresh_name();
        const int result = make(name.c_str());
        if (result < 0 && errno == EEXIST) continue;
        if (result < 0) return result;
        name_ = name;
        folder_ = folder;
        // With every slot taken the name is still removed by this object,
        // only not by a signal.
        if (free_slot < kSlots) {
            std::memcpy(slots[free_slot].name, name.c_str(), name.size() + 1);
            slots[free_slot].folder.store(folder);
            if (names_held++ == 0) install_handlers();
        }
        slot_ = static_cast<int>(free_slot);
        return result;
    }
    errno = EEXIST;
    return -1;
}

void TemporaryName::release() {
    if (!held()) return;
    std::lock_guard lock(guard_lock);
    if (static_cast<std::size_t>(slot_) < kSlots) {
        slots[static_cast<std::size_t>(slot_)].folder.store(-1);
        if (--names_held == 0) restore_handlers();
    }
    slot_ = -1;
}

void TemporaryName::remove() {
    if (!held()) return;
    ::unlinkat(folder_, name_.c_str(), 0);
    release();
}

void remove_held_names_before_exit(int patience_ms) {
    int ended[2];
    if (::pipe2(ended, O_CLOEXEC) != 0) return;
    // The child inherits the folders' descriptors; it calls only what is safe
    // after fork in a process with threads.
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ended[0]);
        for (Slot& slot : slots) {
            const int folder = slot.folder.load();
            if (folder >= 0) ::unlinkat(folder, slot.name, 0);
        }
        ::_exit(0);
    }
    ::close(ended[1]);
    if (child > 0) {
        // The pipe reads its end once the child has ended.
        pollfd end{ended[0], POLLIN, 0};
        while (::poll(&end, 1, patience_ms) < 0 && errno == EINTR) {
        }
    }
    ::close(ended[0]);
}

}  // namespace kestrafin::platform::posix

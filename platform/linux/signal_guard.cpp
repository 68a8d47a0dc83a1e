#include "platform/linux/signal_guard.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/random.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>

namespace kestrafin::platform::linux_host {

namespace {

constexpr std::array<int, 3> kGuardedSignals = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kSlots = 16;
constexpr std::size_t kNameRoom = 32;

// Read by the signal handler, so plain memory and lock-free atomics only.
struct Slot {
    std::atomic<int> folder{-1};
    char name[kNameRoom] = {};
};
std::array<Slot, kSlots> slots;
std::atomic<int> writes_in_place{0};
std::atomic<int> waiting_signal{0};

// The rest only under guard_lock.
std::mutex guard_lock;
std::condition_variable writes_ended;
bool writes_barred = false;
std::size_t names_held = 0;
std::array<bool, kGuardedSignals.size()> handler_installed{};

// Removes the guarded names and lets the signal take its default course.
void act_on(int signal_number) {
    for (Slot& slot : slots) {
        const int folder = slot.folder.load();
        if (folder >= 0) ::unlinkat(folder, slot.name, 0);
    }
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);  // delivered once the handler, if any, returns
}

// The signal is noted before the count of writes is looked at, and a write
// that ends takes the note after lowering the count, so that one of the two
// always acts on it.
void on_signal(int signal_number) {
    int none = 0;
    waiting_signal.compare_exchange_strong(none, signal_number);
    if (writes_in_place.load() == 0) act_on(signal_number);
}

void install_handlers() {
    for (std::size_t i = 0; i < kGuardedSignals.size(); ++i) {
        struct sigaction current {};
        if (::sigaction(kGuardedSignals[i], nullptr, &current) != 0) continue;
        if (current.sa_handler != SIG_DFL || (current.sa_flags & SA_SIGINFO) != 0) continue;
        struct sigaction ours {};
        ours.sa_handler = on_signal;
        ours.sa_flags = SA_RESTART;
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
            current.sa_handler == on_signal)
            ::signal(kGuardedSignals[i], SIG_DFL);
        handler_installed[i] = false;
    }
}

bool guarding() {
    return names_held > 0 || writes_in_place.load() > 0;
}

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

SignalsHeldBack::SignalsHeldBack() {
    sigset_t blocked;
    sigemptyset(&blocked);
    for (const int signal_number : kGuardedSignals) sigaddset(&blocked, signal_number);
    ::pthread_sigmask(SIG_BLOCK, &blocked, &previous_);
}

SignalsHeldBack::~SignalsHeldBack() {
    ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

int guard_name(int folder, const std::string& name) {
    if (name.size() >= kNameRoom) return -1;
    const std::lock_guard lock(guard_lock);
    for (std::size_t i = 0; i < kSlots; ++i) {
        if (slots[i].folder.load() >= 0) continue;
        std::memcpy(slots[i].name, name.c_str(), name.size() + 1);
        if (!guarding()) install_handlers();
        slots[i].folder.store(folder);
        ++names_held;
        return static_cast<int>(i);
    }
    return -1;
}

void unguard_name(int guard) {
    if (guard < 0 || static_cast<std::size_t>(guard) >= kSlots) return;
    const std::lock_guard lock(guard_lock);
    slots[static_cast<std::size_t>(guard)].folder.store(-1);
    --names_held;
    if (!guarding()) restore_handlers();
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

InPlaceWrite::InPlaceWrite() {
    SignalsHeldBack held_back;
    std::unique_lock lock(guard_lock);
    writes_ended.wait(lock, [] { return !writes_barred; });
    if (!guarding()) install_handlers();
    ++writes_in_place;
}

InPlaceWrite::~InPlaceWrite() {
    int waiting = 0;
    {
        const std::lock_guard lock(guard_lock);
        if (--writes_in_place == 0) {
            waiting = waiting_signal.exchange(0);
            if (names_held == 0) restore_handlers();
        }
    }
    writes_ended.notify_all();
    if (waiting != 0) act_on(waiting);
}

void finish_in_place_writes() {
    std::unique_lock lock(guard_lock);
    writes_barred = true;
    writes_ended.wait(lock, [] { return writes_in_place.load() == 0; });
}

TemporaryName::~TemporaryName() {
    if (held()) remove();
}

int TemporaryName::claim(int folder, const std::function<int(const char* name)>& make) {
    SignalsHeldBack held_back;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const std::string name = fresh_name();
        // Guarded before it is made: a share may make the file and then stop
        // answering, and a program ended meanwhile must still remove it. A
        // name so fresh is no one else's file.
        const int guard = guard_name(folder, name);
        const int result = make(name.c_str());
        if (result < 0) {
            const int error = errno;
            unguard_name(guard);
            errno = error;
            if (error == EEXIST) continue;
            return result;
        }
        name_ = name;
        folder_ = folder;
        guard_ = guard;
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

}  // namespace kestrafin::platform::linux_host

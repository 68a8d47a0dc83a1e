#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

#include "platform/host.h"
#include "platform/scratch_file.h"

namespace kestrafin::platform {

std::string host_name() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::string user_name() {
    const uid_t user = ::geteuid();
    std::vector<char> room(4096);
    passwd entry{};
    passwd* found = nullptr;
    while (::getpwuid_r(user, &entry, room.data(), room.size(), &found) == ERANGE &&
           room.size() < (1u << 20))
        room.resize(room.size() * 2);
    // An account without a name (a container's) is known by its number.
    return found != nullptr ? std::string(found->pw_name) : std::to_string(user);
}

void random_bytes(unsigned char* into, std::size_t size) {
    while (size > 0) {
        const ssize_t got = ::getrandom(into, size, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::system_category(), "no random source");
        }
        into += got;
        size -= static_cast<std::size_t>(got);
    }
}

std::string volume_of(const std::string& folder) {
    struct stat about {};
    if (::stat(folder.c_str(), &about) != 0) return {};
    return std::to_string(static_cast<unsigned long long>(about.st_dev));
}

namespace {

// Read by the signal handler: lock-free atomics and plain memory only.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);
constexpr std::array<int, 2> kStopSignals = {SIGINT, SIGTERM};
std::array<struct sigaction, kStopSignals.size()> before{};

void on_stop_signal(int signal_number) {
    if (!interrupted.exchange(true)) return;
    // The second one takes the course it had before: what was in place
    // then (a save's guard, or the default) acts on it once this returns.
    for (std::size_t i = 0; i < kStopSignals.size(); ++i)
        if (kStopSignals[i] == signal_number) ::sigaction(signal_number, &before[i], nullptr);
    ::raise(signal_number);
}

}  // namespace

const std::atomic<bool>& stop_on_interruption() {
    static const bool installed = [] {
        for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
            struct sigaction ours {};
            ours.sa_handler = on_stop_signal;
            ours.sa_flags = SA_RESTART;
            sigemptyset(&ours.sa_mask);
            ::sigaction(kStopSignals[i], &ours, &before[i]);
        }
        return true;
    }();
    (void)installed;
    return interrupted;
}

struct ScratchFile::Handle {
    int descriptor = -1;
    off_t written = 0;
    off_t read = 0;
};

namespace {

std::string temporary_folder() {
    const char* chosen = std::getenv("TMPDIR");
    return chosen != nullptr && chosen[0] == '/' ? chosen : "/tmp";
}

}  // namespace

ScratchFile::ScratchFile() : handle_(std::make_unique<Handle>()) {
    const std::string folder = temporary_folder();
    handle_->descriptor = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (handle_->descriptor >= 0) return;
    // A file system without unnamed files: a name, removed at once.
    std::string name = folder + "/.kestrafin-XXXXXX";
    handle_->descriptor = ::mkostemp(name.data(), O_CLOEXEC);
    if (handle_->descriptor < 0)
        throw std::system_error(errno, std::system_category(),
                                "cannot make a temporary file in '" + folder + "'");
    ::unlink(name.c_str());
}

ScratchFile::~ScratchFile() {
    if (handle_->descriptor >= 0) ::close(handle_->descriptor);
}

void ScratchFile::append(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t put =
            ::pwrite(handle_->descriptor, bytes.data(), bytes.size(), handle_->written);
        if (put < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::system_category(), "cannot write a temporary file");
        }
        handle_->written += put;
        bytes.remove_prefix(static_cast<std::size_t>(put));
    }
}

std::size_t ScratchFile::read(char* into, std::size_t size) {
    for (;;) {
        const ssize_t got = ::pread(handle_->descriptor, into, size, handle_->read);
        if (got >= 0) {
            handle_->read += got;
            return static_cast<std::size_t>(got);
        }
        if (errno != EINTR)
            throw std::system_error(errno, std::system_category(), "cannot read a temporary file");
    }
}

}  // namespace kestrafin::platform

// The process on Linux. Other programs are started by fork and exec in a
// session of their own, so that they outlive this one and leave no zombie.
#include "platform/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <new>
#include <system_error>
#include <vector>

#include "platform/linux/signal_guard.h"
#include "platform/text.h"

namespace kestrafin::platform {

namespace {

std::string absolute_path(const std::string& path) {
    if (!path.empty() && path.front() == '/') return path;
    std::string folder(4096, '\0');
    while (::getcwd(folder.data(), folder.size()) == nullptr) {
        if (errno != ERANGE)
            throw std::system_error(errno, std::generic_category(),
                                    "cannot tell where \"" + path + "\" lies");
        folder.resize(folder.size() * 2);
    }
    folder.resize(folder.find('\0'));
    return folder + "/" + path;
}

// Long enough for a folder that answers; a stopped share is not waited for.
constexpr int kRemovalPatienceMs = 2000;

constexpr std::size_t kHugePage = 2 << 20;

// Starts `words` (the program, found on PATH, then its arguments) in a
// session of its own and returns without waiting for it; no zombie is left.
// Raises std::system_error when the program cannot be started.
void start_detached(const std::vector<std::string>& words) {
    std::vector<char*> argv;
    for (const auto& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);

    // The grandchild reports a failed exec through a close-on-exec pipe; an
    // empty read means the program is running. The double fork leaves no zombie.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        throw std::system_error(errno, std::generic_category(), "cannot start '" + words[0] + "'");
    const pid_t child = ::fork();
    if (child < 0) {
        const int error = errno;
        ::close(report[0]);
        ::close(report[1]);
        throw std::system_error(error, std::generic_category(), "cannot start '" + words[0] + "'");
    }
    if (child == 0) {
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            ::execvp(argv[0], argv.data());
            const int error = errno;
            [[maybe_unused]] auto ignored = ::write(report[1], &error, sizeof error);
            ::_exit(127);
        }
        ::_exit(grandchild < 0 ? 1 : 0);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got = 0;
    do {
        got = ::read(report[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    if (got == static_cast<ssize_t>(sizeof error))
        throw std::system_error(error, std::generic_category(), "cannot start '" + words[0] + "'");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::system_error(ECHILD, std::generic_category(), "cannot start '" + words[0] + "'");
}

// Runs `words` with its output and errors discarded and waits for it to end.
// Its exit status; -1 when it could not be started or did not exit.
int run_to_end(const std::vector<std::string>& words) {
    std::vector<char*> argv;
    for (const auto& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    if (::posix_spawn_file_actions_init(&actions) != 0) return -1;
    ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t child = 0;
    const int failed = ::posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) return -1;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

// /proc/self/exe names the executable.
std::string program_folder() {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            throw std::system_error(errno, std::generic_category(),
                                    "cannot find the program's folder");
        if (static_cast<std::size_t>(length) < buffer.size()) {
            std::string path(buffer.data(), static_cast<std::size_t>(length));
            const auto slash = path.find_last_of('/');
            if (slash == std::string::npos) return ".";
            return slash == 0 ? "/" : path.substr(0, slash);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::vector<std::string> program_arguments(int argc, char** argv) {
    if (argc < 1) return {};
    return {argv + 1, argv + argc};
}

void keep_standard_streams_open() {
    for (const int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(stream, F_GETFD) != -1) continue;
        // open() returns the lowest free descriptor, which is this one. Output
        // read-only: what is written to a closed output is lost, and saying so
        // beats a status that claims it was written.
        const int null = ::open("/dev/null", stream == STDOUT_FILENO ? O_RDONLY : O_RDWR);
        if (null >= 0 && null != stream) ::close(null);
    }
}

void write_stream(int descriptor, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t put = ::write(descriptor, bytes.data(), bytes.size());
        if (put < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "cannot write the output");
        }
        bytes.remove_prefix(static_cast<std::size_t>(put));
    }
}

bool stream_is_terminal(int descriptor) {
    return ::isatty(descriptor) == 1;
}

std::size_t terminal_columns(int descriptor) {
    winsize size{};
    if (::ioctl(descriptor, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

void* allocate_large_block(std::size_t size) {
    // Map a huge page more than asked for and trim it to a huge-page boundary,
    // since only aligned ranges can be backed by huge pages.
    const std::size_t mapped = size + kHugePage;
    void* raw = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kHugePage - 1) & ~(std::uintptr_t{kHugePage} - 1);
    if (aligned > start) munmap(raw, aligned - start);
    const std::uintptr_t end = start + mapped;
    if (end > aligned + size) munmap(reinterpret_cast<void*>(aligned + size), end - aligned - size);
#ifdef MADV_HUGEPAGE
    madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
#endif
    return reinterpret_cast<void*>(aligned);
}

void free_large_block(void* block, std::size_t size) noexcept {
    if (block != nullptr) munmap(block, size);
}

// The dynamic loader searches only the paths the system and the executable
// name; the current folder is never among them.
void load_libraries_from_the_system_only() {}

void open_address(const std::string& address) {
    start_detached({"xdg-open", address});
}

// Shows a file through the freedesktop file manager interface, which selects
// it in its folder, and falls back on opening the folder through xdg-open
// where no file manager answers on the session bus.
void show_in_file_manager(const std::string& path) {
    const std::string absolute = absolute_path(path);
    // Waits for the reply, so that a bus without a file manager is known.
    const int status =
        run_to_end({"dbus-send", "--session", "--print-reply", "--reply-timeout=5000",
                    "--dest=org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                    "org.freedesktop.FileManager1.ShowItems", "array:string:" + file_uri(absolute),
                    "string:"});
    if (status == 0) return;
    const std::size_t last = absolute.find_last_of('/');
    start_detached({"xdg-open", last == 0 ? std::string("/") : absolute.substr(0, last)});
}

void end_program_at_once(int status) {
    // A file written in place is let end whole first.
    linux_host::finish_in_place_writes();
    linux_host::remove_held_names_before_exit(kRemovalPatienceMs);
    std::_Exit(status);
}

}  // namespace kestrafin::platform

#include "platform/start_program.h"

#include <spawn.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include "platform/process_posix.h"

namespace kestrafin::platform {

namespace {

std::vector<std::string> split_words(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    for (const char c : line) {
        if (c == ' ' || c == '\t') {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
        } else {
            word.push_back(c);
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    return words;
}

// The POSIX reading of a command line: "explorer" hands the rest to the
// desktop's opener; any other first word is the program itself.
std::vector<std::string> arguments_for(const std::string& command_line) {
    std::vector<std::string> words = split_words(command_line);
    if (!words.empty() && words.front() == "explorer") words.front() = "xdg-open";
    return words;
}

}  // namespace

void start_program(const std::string& command_line, WindowStyle /*style*/) {
    const std::vector<std::string> words = arguments_for(command_line);
    if (words.empty())
        throw std::system_error(EINVAL, std::generic_category(), "cannot start an empty command");
    start_detached(words);
}

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

}  // namespace kestrafin::platform

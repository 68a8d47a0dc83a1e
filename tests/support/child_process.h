// Runs a piece of a test in a child process: as another user, in a private
// mount namespace, or where a signal is to end it.
#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <exception>
#include <functional>
#include <string>

namespace kestrafin::testing {

inline constexpr uid_t kNobody = 65534;

// Becomes user and group "nobody" for good, with no supplementary groups.
// False when that is not possible (the tests do not run as root).
inline bool become_nobody() {
    return geteuid() == 0 && setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 &&
           setuid(kNobody) == 0;
}

struct ChildResult {
    std::string report;  // what `body` returned, or the text of what it threw
    int status = -1;     // as waitpid gives it
};

// Runs `body` in a forked child, as "nobody" when `as_nobody` is set, and
// returns the text it reports. The child ends with _exit, so no test state
// of the parent is touched twice.
inline ChildResult in_child(bool as_nobody, const std::function<std::string()>& body) {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) return {"pipe failed", -1};
    const pid_t child = fork();
    if (child == 0) {
        close(pipe_ends[0]);
        std::string report;
        if (as_nobody && !become_nobody()) {
            report = "cannot become nobody";
        } else {
            try {
                report = body();
            } catch (const std::exception& error) {
                report = std::string("threw: ") + error.what();
            }
        }
        [[maybe_unused]] const auto put = write(pipe_ends[1], report.data(), report.size());
        _exit(0);
    }
    close(pipe_ends[1]);
    ChildResult result;
    char block[4096];
    ssize_t got = 0;
    while ((got = read(pipe_ends[0], block, sizeof block)) > 0)
        result.report.append(block, static_cast<std::size_t>(got));
    close(pipe_ends[0]);
    waitpid(child, &result.status, 0);
    return result;
}

}  // namespace kestrafin::testing

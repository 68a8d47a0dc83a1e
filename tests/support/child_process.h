// Runs a piece of a test in a child process: as another user, in a private
// mount namespace, with a lowered descriptor limit, or where a signal is to
// end it.
#pragma once

#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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

inline constexpr int kChildSkipped = 77;

struct TimedChildResult {
    bool exited = false;  // false: killed by a signal or by the time limit
    int status = -1;      // the exit status when exited
    std::string output;   // what the body returned, or the reason to skip
    bool skipped() const { return exited && status == kChildSkipped; }
    bool succeeded() const { return exited && status == 0; }
};

// Thrown by a child's body to have the test skipped with `reason`.
struct SkipInChild {
    std::string reason;
};

// Forks, runs `body` in the child and returns what it returned. A body that
// throws SkipInChild ends with kChildSkipped; one that runs past `limit` is
// killed. The child ends with _exit and runs no destructors of the parent.
inline TimedChildResult run_in_child(const std::function<std::string()>& body,
                                     std::chrono::seconds limit = std::chrono::seconds(120)) {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) return {};
    const pid_t child = fork();
    if (child < 0) return {};
    if (child == 0) {
        close(pipe_ends[0]);
        std::string output;
        int status = 0;
        try {
            output = body();
        } catch (const SkipInChild& skip) {
            output = skip.reason;
            status = kChildSkipped;
        } catch (const std::exception& error) {
            output = std::string("failed: ") + error.what();
            status = 1;
        }
        for (std::size_t at = 0; at < output.size();) {
            const ssize_t put = write(pipe_ends[1], output.data() + at, output.size() - at);
            if (put <= 0) _exit(2);
            at += static_cast<std::size_t>(put);
        }
        _exit(status);
    }
    close(pipe_ends[1]);
    TimedChildResult result;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    char block[65536];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd waiting{pipe_ends[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&waiting, 1, static_cast<int>(left.count())) <= 0) {
            kill(child, SIGKILL);
            break;
        }
        const ssize_t got = read(pipe_ends[0], block, sizeof block);
        if (got <= 0) break;
        result.output.append(block, static_cast<std::size_t>(got));
    }
    close(pipe_ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    result.exited = WIFEXITED(status);
    result.status = result.exited ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace kestrafin::testing

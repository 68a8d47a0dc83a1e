// A FUSE share whose server can be made to stop answering, as a network share
// whose host has gone, for tests of a window that must not wait for it.
// Needs the kestrafin-latency-fs program (KESTRAFIN_LATENCY_FS).
#pragma once

#ifdef KESTRAFIN_LATENCY_FS
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "tests/support/temp_tree.h"

namespace kestrafin::testing {

// A temporary place for a share: `source`, the folder behind it, and
// `share`, where it is mounted, both made.
struct ShareFolders {
    ShareFolders() {
        make_folder(source);
        make_folder(share);
    }
    TempFolder place;
    const std::string source = place / "source";
    const std::string share = place / "share";
};

// A share served from `source` on `mount_point` whose server can be made to
// stop answering. A share that stops by itself can be written to, and its
// server stops on the first write, or once it has made the first file asked
// for, before answering.
enum class StopsBySelf { never, at_first_write, at_first_create };

class ShareServer {
  public:
    // Each request the server answers waits `milliseconds` first. With
    // `counted`, folder_reads_served() tells what it served.
    ShareServer(const std::string& source, const std::string& mount_point,
                StopsBySelf stops = StopsBySelf::never, int milliseconds = 0, bool counted = false)
        : mount_point_(mount_point) {
        const std::string delay = std::to_string(milliseconds);
        if (access("/dev/fuse", R_OK | W_OK) != 0) {
            why_not_ = "/dev/fuse cannot be used here, so no share can be mounted";
            return;
        }
        int reports[2] = {-1, -1};
        if (counted && pipe2(reports, O_CLOEXEC) != 0) {
            why_not_ = "no pipe for the server's reports";
            return;
        }
        server_ = fork();
        if (server_ == 0) {
            if (counted) dup2(reports[1], STDERR_FILENO);
            if (stops == StopsBySelf::never)
                execl(KESTRAFIN_LATENCY_FS, KESTRAFIN_LATENCY_FS, source.c_str(),
                      mount_point.c_str(), delay.c_str(), static_cast<char*>(nullptr));
            else
                execl(KESTRAFIN_LATENCY_FS, KESTRAFIN_LATENCY_FS,
                      stops == StopsBySelf::at_first_write ? "--stop-at-first-write"
                                                           : "--stop-at-first-create",
                      source.c_str(), mount_point.c_str(), delay.c_str(),
                      static_cast<char*>(nullptr));
            _exit(127);
        }
        if (counted) {
            close(reports[1]);
            reports_ = fdopen(reports[0], "r");
        }
        const auto mounted = [&] {
            struct stat top {};
            struct stat served {};
            return stat(mount_point.c_str(), &served) == 0 &&
                   stat((mount_point + "/..").c_str(), &top) == 0 && served.st_dev != top.st_dev;
        };
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (server_ > 0 && !mounted() && waitpid(server_, nullptr, WNOHANG) == 0 &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (server_ <= 0 || !mounted()) {
            why_not_ = "no FUSE share could be mounted here";
            end_server();
        }
    }
    ~ShareServer() {
        if (server_ > 0) {
            answer_again();
            umount2(mount_point_.c_str(), MNT_DETACH);
            end_server();
        }
        if (reports_ != nullptr) std::fclose(reports_);
    }
    ShareServer(const ShareServer&) = delete;
    ShareServer& operator=(const ShareServer&) = delete;

    bool serving() const { return why_not_.empty(); }
    pid_t process() const { return server_; }
    const std::string& why_not() const { return why_not_; }
    // Returns once the server has stopped: a stop signal takes effect some
    // time after it is sent, and the server answers until then.
    void stop_answering() {
        kill(server_, SIGSTOP);
        wait_until_stopped();
    }
    // Returns once the server has stopped, by itself or told to.
    void wait_until_stopped() {
        int status = 0;
        while (waitpid(server_, &status, WUNTRACED) == -1 && errno == EINTR) {
        }
    }
    void answer_again() { kill(server_, SIGCONT); }
    // The folder reads (readdir requests) served since the last call; -1 when
    // the server does not tell.
    long folder_reads_served() {
        if (reports_ == nullptr || server_ <= 0) return -1;
        kill(server_, SIGUSR1);
        char line[256];
        long lookups = 0, links = 0, opens = 0, reads = 0;
        while (std::fgets(line, sizeof line, reports_) != nullptr)
            if (std::sscanf(
                    line,
                    "round trips: %ld lookup or getattr, %ld readlink, %ld opendir, %ld readdir",
                    &lookups, &links, &opens, &reads) == 4)
                return reads;
        return -1;
    }

  private:
    void end_server() {
        if (server_ <= 0) return;
        kill(server_, SIGCONT);
        kill(server_, SIGTERM);
        waitpid(server_, nullptr, 0);
        server_ = -1;
    }

    std::string mount_point_;
    pid_t server_ = -1;
    std::FILE* reports_ = nullptr;  // the server's standard error, when counted
    std::string why_not_;
};

// Runs `act` while the share is silent. Should it wait for the share, the
// share answers again after five seconds, so that the test ends instead of
// hanging, and false is returned.
inline bool returns_while_share_is_silent(ShareServer& server, const std::function<void()>& act) {
    std::mutex returned_mutex;
    std::condition_variable returned_signal;
    bool returned = false;
    bool waited = false;
    std::thread watchdog([&] {
        std::unique_lock lock(returned_mutex);
        if (!returned_signal.wait_for(lock, std::chrono::seconds(5), [&] { return returned; })) {
            waited = true;
            server.answer_again();
        }
    });
    act();
    {
        const std::lock_guard lock(returned_mutex);
        returned = true;
    }
    returned_signal.notify_all();
    watchdog.join();
    return !waited;
}

}  // namespace kestrafin::testing
#endif

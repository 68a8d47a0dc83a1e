// A FUSE share whose server can be made to stop answering, as a network share
// whose host has gone, for tests of a window that must not wait for it.
// Needs the kestrafin-latency-fs program (KESTRAFIN_LATENCY_FS).
#pragma once

#ifdef KESTRAFIN_LATENCY_FS
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <QProcess>
#include <QTest>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace kestrafin::testing {
// A share served from `source` on `mount_point` whose server can be made to
// stop answering, as a network share whose host has gone.
class ShareServer {
  public:
    ShareServer(const std::string& source, const std::string& mount_point)
        : mount_point_(mount_point) {
        server_.setProcessChannelMode(QProcess::MergedChannels);
        server_.start(QStringLiteral(KESTRAFIN_LATENCY_FS),
                      {QString::fromStdString(source), QString::fromStdString(mount_point),
                       QStringLiteral("0")});
        struct stat top {};
        struct stat served {};
        const bool mounted = QTest::qWaitFor(
            [&] {
                return stat(mount_point.c_str(), &served) == 0 &&
                       stat((mount_point + "/..").c_str(), &top) == 0 &&
                       served.st_dev != top.st_dev;
            },
            10000);
        if (!mounted) {
            why_not_ = "no FUSE share could be mounted here: " +
                       QString::fromUtf8(server_.readAll()).toStdString();
            server_.kill();
            server_.waitForFinished();
        }
    }
    ~ShareServer() {
        if (server_.state() == QProcess::NotRunning) return;
        answer_again();
        umount2(mount_point_.c_str(), MNT_DETACH);
        if (!server_.waitForFinished(10000)) {
            server_.kill();
            server_.waitForFinished();
        }
    }
    ShareServer(const ShareServer&) = delete;
    ShareServer& operator=(const ShareServer&) = delete;

    bool serving() const { return why_not_.empty(); }
    const std::string& why_not() const { return why_not_; }
    void stop_answering() { kill(static_cast<pid_t>(server_.processId()), SIGSTOP); }
    void answer_again() { kill(static_cast<pid_t>(server_.processId()), SIGCONT); }

  private:
    std::string mount_point_;
    QProcess server_;
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

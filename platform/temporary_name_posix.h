// Temporary names in a folder that an interruption does not leave behind:
// while a name is held, SIGINT, SIGTERM and SIGHUP remove it before the signal
// takes its usual course (see signal_guard_posix.h).
#pragma once

#include <functional>
#include <string>

namespace kestrafin::platform::posix {

class TemporaryName {
  public:
    TemporaryName() = default;
    TemporaryName(const TemporaryName&) = delete;
    TemporaryName& operator=(const TemporaryName&) = delete;
    // Removes the name when it is still held.
    ~TemporaryName();

    // Calls `make` with fresh names in `folder` (a descriptor) until it
    // succeeds or fails for a reason other than EEXIST; `make` returns 0 or
    // more on success and -1 with errno set on failure. Returns what `make`
    // returned; on success the name is held and guarded.
    int claim(int folder, const std::function<int(const char* name)>& make);

    // Stops guarding the name without removing it (it was renamed away).
    void release();
    // Removes the name and stops guarding it.
    void remove();

    bool held() const { return held_; }
    const std::string& name() const { return name_; }

  private:
    int folder_ = -1;
    int guard_ = -1;
    bool held_ = false;
    std::string name_;
};

}  // namespace kestrafin::platform::posix

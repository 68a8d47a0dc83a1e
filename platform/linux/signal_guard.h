// What SIGINT, SIGTERM and SIGHUP do while files are being replaced. Two
// kinds of work are guarded:
//  - a temporary name held in a folder is removed before the signal takes
//    its usual course;
//  - while a file is written in place, a signal waits: it is acted on once
//    the last such write has ended, so no file is left half new, half old.
// Only signals whose course is the default one are guarded: a program that
// ignores or handles a signal keeps its choice.
// Temporary names in a folder are held through TemporaryName, which guards
// them. Included only by the *_linux.cpp files and by tests.
#pragma once

#include <signal.h>

#include <functional>
#include <string>

namespace kestrafin::platform::linux_host {

// Holds the guarded signals back from the calling thread while it lives, so
// that none comes between making a name and guarding it.
class SignalsHeldBack {
  public:
    SignalsHeldBack();
    ~SignalsHeldBack();
    SignalsHeldBack(const SignalsHeldBack&) = delete;
    SignalsHeldBack& operator=(const SignalsHeldBack&) = delete;

  private:
    sigset_t previous_;
};

// Guards the name `name` in the folder `folder` (a descriptor). Returns the
// guard's number for unguard_name(), or -1 when every guard is taken (the
// caller still removes the name itself, only not on a signal).
int guard_name(int folder, const std::string& name);
void unguard_name(int guard);

// Removes every guarded name in a child process, since the folder that holds
// one may not answer, and waits up to `patience_ms` for it. The child goes on
// alone after that and after this process has ended. For a process that is
// about to end without running destructors.
void remove_held_names_before_exit(int patience_ms);

// Waits until every write in place that has begun has ended, and keeps new
// ones from beginning; for a process about to end at once.
void finish_in_place_writes();

// Lives as long as one write in place.
class InPlaceWrite {
  public:
    // Waits for good once finish_in_place_writes() was called.
    InPlaceWrite();
    // Acts on a signal that came meanwhile, once no other write in place runs.
    ~InPlaceWrite();
    InPlaceWrite(const InPlaceWrite&) = delete;
    InPlaceWrite& operator=(const InPlaceWrite&) = delete;
};

// A temporary name in a folder that an interruption does not leave behind:
// while it is held, the guarded signals remove it before they take their
// usual course.
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
    // returned; on success the name is held and guarded. Each name is guarded
    // while `make` runs too, so that a program ended meanwhile removes a file
    // made by a call that has not returned.
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

}  // namespace kestrafin::platform::linux_host

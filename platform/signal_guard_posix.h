// What SIGINT, SIGTERM and SIGHUP do while files are being replaced. Two
// kinds of work are guarded:
//  - a temporary name held in a folder is removed before the signal takes
//    its usual course;
//  - while a file is written in place, a signal waits: it is acted on once
//    the last such write has ended, so no file is left half new, half old.
// Only signals whose course is the default one are guarded: a program that
// ignores or handles a signal keeps its choice.
#pragma once

#include <signal.h>

#include <string>

namespace kestrafin::platform::posix {

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

}  // namespace kestrafin::platform::posix

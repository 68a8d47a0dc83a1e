// Ending the program at once, while a thread may still be blocked on a folder
// that no longer answers (a share that stopped), without leaving behind what
// unfinished saves created.
#pragma once

namespace kestrafin::platform {

// Waits for a file being written in place to end whole, removes the
// temporary files of saves that have not ended and ends the process with
// `status`, running no destructors and waiting for no other thread.
// Where the removal cannot finish at once (its folder does not answer) it
// goes on after the process has ended, and ends when the folder answers.
[[noreturn]] void end_program_at_once(int status);

}  // namespace kestrafin::platform

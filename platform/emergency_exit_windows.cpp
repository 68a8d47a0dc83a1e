// Temporary files of unfinished saves are marked for deletion on Windows
// until they are complete, so ending the process removes them.
#include <cstdlib>

#include "platform/emergency_exit.h"

namespace kestrafin::platform {

void end_program_at_once(int status) {
    std::_Exit(status);
}

}  // namespace kestrafin::platform

#include "platform/program_arguments.h"

namespace kestrafin::platform {

std::vector<std::string> program_arguments(int argc, char** argv) {
    if (argc < 1) return {};
    return {argv + 1, argv + argc};
}

}  // namespace kestrafin::platform

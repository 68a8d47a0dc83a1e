// Shows a file in Explorer, selected in its folder.
#include "platform/file_manager.h"
#include "platform/start_program.h"

namespace kestrafin::platform {

void show_in_file_manager(const std::string& path) {
    start_program("explorer.exe /select,\"" + path + "\"", WindowStyle::NormalWithFocus);
}

}  // namespace kestrafin::platform

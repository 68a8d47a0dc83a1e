#include "platform/path_rules.h"
#include "platform/program_folder.h"

namespace kestrafin::platform {

std::string program_file(const std::string& folder, std::string_view name) {
    std::string path = folder;
    path.push_back(kPathSeparator);
    path.append(name);
    return path;
}

}  // namespace kestrafin::platform

#include "scan/sinks/saved_list_output.h"

#include <system_error>

#include "platform/folders.h"

namespace kestrafin::scan {

std::optional<search::LeftOutFile> SavedListOutput::own_file() const {
    const auto temporary = list_.temporary_file();
    if (!temporary) return std::nullopt;
    std::error_code error;
    const platform::Folder folder = platform::Folder::open(temporary->folder, error);
    if (!folder.is_open()) return std::nullopt;
    const platform::FolderIdentity identity = folder.identity(error);
    if (error) return std::nullopt;
    return search::LeftOutFile{identity, temporary->name};
}

}  // namespace kestrafin::scan

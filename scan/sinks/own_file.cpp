#include "scan/sinks/own_file.h"

#include "platform/folders.h"

namespace kestrafin::scan {

std::optional<search::LeftOutFile> left_out_file(
    const std::optional<platform::AtomicFileWriter::TemporaryFile>& temporary) {
    if (!temporary) return std::nullopt;
    std::error_code error;
    const platform::Folder folder = platform::Folder::open(temporary->folder, error);
    if (!folder.is_open()) return std::nullopt;
    const platform::FolderIdentity identity = folder.identity(error);
    if (error) return std::nullopt;
    return search::LeftOutFile{identity, temporary->name};
}

}  // namespace kestrafin::scan

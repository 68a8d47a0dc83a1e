// The reason given when a name is refused for not being a regular file.
#include <string>
#include <system_error>

#include "platform/file_system.h"

namespace kestrafin::platform {

namespace {

class FileKindCategory : public std::error_category {
  public:
    const char* name() const noexcept override { return "file kind"; }
    std::string message(int value) const override {
        switch (static_cast<FileKind>(value)) {
            case FileKind::Folder:
                return "it is a folder, not a regular file";
            case FileKind::Fifo:
                return "it is a FIFO, not a regular file";
            case FileKind::Socket:
                return "it is a socket, not a regular file";
            case FileKind::Device:
                return "it is a device, not a regular file";
            case FileKind::KernelFile:
                return "it lies on a kernel file system, not a regular file";
            case FileKind::Other:
                break;
        }
        return "it is not a regular file";
    }
};

}  // namespace

const std::error_category& file_kind_category() {
    static const FileKindCategory category;
    return category;
}

std::error_code make_error_code(FileKind kind) {
    return {static_cast<int>(kind), file_kind_category()};
}

}  // namespace kestrafin::platform

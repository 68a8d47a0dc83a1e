#include "platform/file_errors_posix.h"

#include <system_error>

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

namespace posix {

namespace {

std::string message(std::string_view action, std::string_view what, const std::string& path) {
    std::string text = "cannot ";
    text.append(action).append(" ").append(what).append(" '").append(path).append("'");
    return text;
}

}  // namespace

void raise_file_error(std::string_view action, std::string_view what, const std::string& path,
                      int error) {
    throw std::system_error(error, std::generic_category(), message(action, what, path));
}

FileKind kind_of(mode_t mode) {
    if (S_ISDIR(mode)) return FileKind::Folder;
    if (S_ISFIFO(mode)) return FileKind::Fifo;
    if (S_ISSOCK(mode)) return FileKind::Socket;
    if (S_ISCHR(mode) || S_ISBLK(mode)) return FileKind::Device;
    return FileKind::Other;
}

void raise_not_regular(std::string_view action, std::string_view what, const std::string& path,
                       mode_t mode) {
    throw std::system_error(make_error_code(kind_of(mode)), message(action, what, path));
}

}  // namespace posix

}  // namespace kestrafin::platform

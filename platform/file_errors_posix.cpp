#include "platform/file_errors_posix.h"

#include <unistd.h>

#include <cerrno>

#include "platform/linux/files.h"

#include <system_error>

namespace kestrafin::platform::posix {

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

void refuse_unless_regular_user_file(int descriptor, std::string_view action, std::string_view what,
                                     const std::string& path) {
    struct stat entry {};
    if (::fstat(descriptor, &entry) != 0) {
        const int error = errno;
        ::close(descriptor);
        raise_file_error(action, what, path, error);
    }
    if (!S_ISREG(entry.st_mode)) {
        ::close(descriptor);
        raise_not_regular(action, what, path, entry.st_mode);
    }
    if (linux_host::is_kernel_file_system(descriptor)) {
        ::close(descriptor);
        throw std::system_error(make_error_code(FileKind::KernelFile), message(action, what, path));
    }
}

}  // namespace kestrafin::platform::posix

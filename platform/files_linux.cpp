// Files on Linux: every name is looked at and every open descriptor checked,
// so that nothing but a regular file of the user's is read or written.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/files.h"
#include "platform/linux/files.h"
#include "platform/process.h"

namespace kestrafin::platform {

namespace linux_host {

void raise_file_error(std::string_view action, std::string_view what, const std::string& path,
                      int error) {
    platform::raise_file_error(action, what, path, {error, std::generic_category()});
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
    platform::raise_file_error(action, what, path, make_error_code(kind_of(mode)));
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
    if (is_kernel_file_system(descriptor)) {
        ::close(descriptor);
        platform::raise_file_error(action, what, path, make_error_code(FileKind::KernelFile));
    }
}

}  // namespace linux_host

using linux_host::raise_file_error;
using linux_host::raise_not_regular;

namespace {

// Flags for opening a name that should be a regular file: a FIFO, a device or
// a terminal in its place neither blocks the open nor becomes ours.
constexpr int kNeverBlock = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// Refuses `path` when it exists and is no regular file; true when it exists.
bool refuse_unless_regular(const std::string& path, std::string_view action,
                           std::string_view what) {
    struct stat entry {};
    if (::stat(path.c_str(), &entry) != 0) return false;
    if (!S_ISREG(entry.st_mode)) raise_not_regular(action, what, path, entry.st_mode);
    return true;
}

// Checks what an open descriptor holds; closes it and raises when it is no
// regular file of the user's (the name was swapped after it was looked at).
void check_opened_is_regular(int descriptor, const std::string& path, std::string_view action,
                             std::string_view what) {
    linux_host::refuse_unless_regular_user_file(descriptor, action, what, path);
}

}  // namespace

bool file_exists(const std::string& path) {
    struct stat entry {};
    return ::stat(path.c_str(), &entry) == 0;
}

bool visible_file_exists(const std::string& path) {
    struct stat entry {};
    return ::stat(path.c_str(), &entry) == 0 && S_ISREG(entry.st_mode);
}

void ensure_file_exists(const std::string& path, std::string_view what) {
    refuse_unless_regular(path, "open", what);
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CREAT | kNeverBlock, 0666);
    if (descriptor >= 0) {
        check_opened_is_regular(descriptor, path, "open", what);
        ::close(descriptor);
        return;
    }
    const int error = errno;
    // A file that exists but may not be read is still there; reading it will
    // tell the user why it cannot be used.
    if ((error == EACCES || error == EPERM || error == EROFS) &&
        refuse_unless_regular(path, "open", what))
        return;
    raise_file_error("create", what, path, error);
}

void make_writable(const std::string& path, std::string_view what) {
    struct stat entry {};
    if (::stat(path.c_str(), &entry) != 0) raise_file_error("open", what, path, errno);
    if (!S_ISREG(entry.st_mode)) raise_not_regular("open", what, path, entry.st_mode);
    if ((entry.st_mode & S_IWUSR) != 0) return;
    if (::chmod(path.c_str(), (entry.st_mode & 07777) | S_IWUSR) != 0)
        raise_file_error("make writable", what, path, errno);
}

void refuse_read_only_file(const std::string& path, std::string_view what) {
    struct stat entry {};
    if (::stat(path.c_str(), &entry) != 0) return;
    if (S_ISREG(entry.st_mode) && (entry.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        raise_file_error("write", what, path, EACCES);
}

std::string read_file(const std::string& path, std::string_view what) {
    refuse_unless_regular(path, "open", what);
    const int descriptor = ::open(path.c_str(), O_RDONLY | kNeverBlock);
    if (descriptor < 0) raise_file_error("open", what, path, errno);
    check_opened_is_regular(descriptor, path, "open", what);
    std::string content;
    struct stat entry {};
    if (::fstat(descriptor, &entry) == 0 && entry.st_size > 0)
        content.reserve(static_cast<std::size_t>(entry.st_size));
    char block[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(descriptor, block, sizeof block);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(descriptor);
            raise_file_error("read", what, path, error);
        }
        content.append(block, static_cast<std::size_t>(got));
    }
    ::close(descriptor);
    return content;
}

void FileSystemObject::CreateTextFile(const std::string& folder, std::string_view name) const {
    const std::string path = program_file(folder, name);
    refuse_unless_regular(path, "create", "file");
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | kNeverBlock, 0666);
    if (descriptor < 0) raise_file_error("create", "file", path, errno);
    check_opened_is_regular(descriptor, path, "create", "file");
    // Emptied only once it is known to be a regular file.
    if (::ftruncate(descriptor, 0) != 0) {
        const int error = errno;
        ::close(descriptor);
        raise_file_error("create", "file", path, error);
    }
    ::close(descriptor);
}

struct SequentialFileReader::OpenFile {
    int descriptor = -1;
    ~OpenFile() { ::close(descriptor); }
};

SequentialFileReader::SequentialFileReader(const std::string& path, std::string_view what)
    : path_(path), what_(what) {
    // A FIFO, a device or a terminal in the file's place neither blocks the
    // open nor is read.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) raise_file_error("open", what_, path_, errno);
    linux_host::refuse_unless_regular_user_file(descriptor, "open", what_, path_);
    file_ = std::make_unique<OpenFile>();
    file_->descriptor = descriptor;
}

SequentialFileReader::~SequentialFileReader() = default;

std::size_t SequentialFileReader::read(char* into, std::size_t size) {
    for (;;) {
        const ssize_t got = ::read(file_->descriptor, into, size);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) raise_file_error("read", what_, path_, errno);
    }
}

}  // namespace kestrafin::platform

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_errors_posix.h"
#include "platform/file_system.h"
#include "platform/program_folder.h"

namespace kestrafin::platform {

using posix::raise_file_error;
using posix::raise_not_regular;

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
    posix::refuse_unless_regular_user_file(descriptor, action, what, path);
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

void replace_file(const std::string& path, std::string_view bytes, std::string_view what) {
    AtomicFileWriter writer(path, what);
    writer.write(bytes);
    writer.commit();
}

}  // namespace kestrafin::platform

#include "platform/file_system.h"

#include "platform/program_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace kestrafin::platform {

namespace {

[[noreturn]] void raise(std::string_view action, std::string_view what, const std::string& path,
                        int error) {
    std::string text = "cannot ";
    text.append(action).append(" ").append(what).append(" '").append(path).append("'");
    throw std::system_error(error, std::generic_category(), text);
}

constexpr std::size_t kWriteChunk = 1 << 20;

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
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
    if (descriptor >= 0) {
        ::close(descriptor);
        return;
    }
    // A read-only file that already exists is fine here.
    if ((errno == EACCES || errno == EPERM || errno == EROFS) && file_exists(path)) return;
    raise("create", what, path, errno);
}

void make_writable(const std::string& path, std::string_view what) {
    struct stat entry {};
    if (::stat(path.c_str(), &entry) != 0) raise("open", what, path, errno);
    if ((entry.st_mode & S_IWUSR) != 0) return;
    if (::chmod(path.c_str(), (entry.st_mode & 07777) | S_IWUSR) != 0)
        raise("make writable", what, path, errno);
}

void refuse_read_only_file(const std::string& path, std::string_view what) {
    struct stat entry {};
    if (::stat(path.c_str(), &entry) != 0) return;
    if ((entry.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) raise("write", what, path, EACCES);
}

std::string read_file(const std::string& path, std::string_view what) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) raise("open", what, path, errno);
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
            raise("read", what, path, error);
        }
        content.append(block, static_cast<std::size_t>(got));
    }
    ::close(descriptor);
    return content;
}

void FileSystemObject::CreateTextFile(const std::string& folder, std::string_view name) const {
    const std::string path = program_file(folder, name);
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (descriptor < 0) raise("create", "file", path, errno);
    ::close(descriptor);
}

AtomicFileWriter::AtomicFileWriter(std::string path, std::string_view what)
    : path_(std::move(path)), what_(what) {
    temporary_path_ = path_ + ".XXXXXX";
    descriptor_ = ::mkostemp(temporary_path_.data(), O_CLOEXEC);
    if (descriptor_ < 0) {
        const int error = errno;
        temporary_path_.clear();
        fail("create", error);
    }
    // Keep the rights of the file being replaced; a new file gets the usual ones.
    struct stat old_file {};
    mode_t mode = 0666;
    if (::stat(path_.c_str(), &old_file) == 0) {
        mode = old_file.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode &= ~mask;
    }
    ::fchmod(descriptor_, mode);
}

AtomicFileWriter::~AtomicFileWriter() {
    if (descriptor_ >= 0) ::close(descriptor_);
    if (!committed_ && !temporary_path_.empty()) ::unlink(temporary_path_.c_str());
}

void AtomicFileWriter::write(std::string_view bytes) {
    buffer_.append(bytes);
    if (buffer_.size() >= kWriteChunk) flush_buffer();
}

void AtomicFileWriter::flush_buffer() {
    std::size_t done = 0;
    while (done < buffer_.size()) {
        const ssize_t put = ::write(descriptor_, buffer_.data() + done, buffer_.size() - done);
        if (put < 0) {
            if (errno == EINTR) continue;
            fail("write", errno);
        }
        done += static_cast<std::size_t>(put);
    }
    buffer_.clear();
}

void AtomicFileWriter::commit() {
    flush_buffer();
    if (::fsync(descriptor_) != 0) fail("write", errno);
    const int descriptor = descriptor_;
    descriptor_ = -1;
    if (::close(descriptor) != 0) fail("write", errno);
    if (::rename(temporary_path_.c_str(), path_.c_str()) != 0) fail("replace", errno);
    committed_ = true;
}

void AtomicFileWriter::fail(std::string_view action, int error) {
    raise(action, what_, path_, error);
}

void replace_file(const std::string& path, std::string_view bytes, std::string_view what) {
    AtomicFileWriter writer(path, what);
    writer.write(bytes);
    writer.commit();
}

}  // namespace kestrafin::platform

// File operations the core needs from the host. Every failure is raised as a
// std::system_error whose text names the file and what failed.
#pragma once

#include <string>
#include <string_view>

namespace kestrafin::platform {

// True when `path` names an existing file of any kind.
bool file_exists(const std::string& path);

// True when `path` names a regular file that a user sees in a folder listing
// (on hosts with hidden or system flags, a file without them).
bool visible_file_exists(const std::string& path);

// Creates `path` empty when it does not exist; leaves an existing file untouched.
// `what` names the file in error texts, such as "settings file".
void ensure_file_exists(const std::string& path, std::string_view what);

// Lets the owner write the file (clears a read-only flag); other rights stay.
void make_writable(const std::string& path, std::string_view what);

// Fails with EACCES when the file exists and is marked read-only, so that a
// replacement by rename does not override the user's protection.
void refuse_read_only_file(const std::string& path, std::string_view what);

// The whole content of a file.
std::string read_file(const std::string& path, std::string_view what);

// Writes a file anew without ever leaving it half written: the bytes go to a
// temporary file in the same folder, which replaces the old file by rename
// only after everything has been written. On failure, or when the writer is
// dropped without commit(), the old file stays and the temporary file goes.
class AtomicFileWriter {
  public:
    AtomicFileWriter(std::string path, std::string_view what);
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;
    ~AtomicFileWriter();

    void write(std::string_view bytes);
    void commit();

  private:
    void flush_buffer();
    [[noreturn]] void fail(std::string_view action, int error);

    std::string path_;
    std::string what_;
    std::string temporary_path_;
    std::string buffer_;
    int descriptor_ = -1;
    bool committed_ = false;
};

// The host's file-system service as the window uses it on load.
class FileSystemObject {
  public:
    bool FileExists(const std::string& path) const { return file_exists(path); }
    // Creates the file `name` in `folder`, empty; an existing file is emptied.
    void CreateTextFile(const std::string& folder, std::string_view name) const;
};

// Replaces the content of `path` with `bytes` through an AtomicFileWriter.
void replace_file(const std::string& path, std::string_view bytes, std::string_view what);

}  // namespace kestrafin::platform

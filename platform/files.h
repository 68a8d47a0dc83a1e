// Files as the core uses them: whether one exists, read it whole or in
// pieces, create it, and replace its content safely. Every failure is raised
// as a std::system_error whose text is "cannot <action> <what> '<path>'" and
// whose code is the host's reason from the call that failed (or
// file_kind_category() when the name is not a regular file). No operation
// here blocks on a FIFO, socket or device that stands where a file is
// expected: such names are refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

namespace kestrafin::platform {

// Why a name was refused although the host would have opened it: it names
// something other than a regular file (or a link to one), or a file that the
// kernel makes up from its own state (proc, sysfs, ...).
enum class FileKind { Folder = 1, Fifo, Socket, Device, Other, KernelFile };
const std::error_category& file_kind_category();
std::error_code make_error_code(FileKind kind);

// The host's words for `error` as UTF-8 text, without the full stop and line
// end some hosts close them with. Where the host's own words come in another
// encoding (Windows's code page), they are asked for in a form that converts.
std::string error_text(std::error_code error);

// What `failure` says, as UTF-8 text: a std::system_error of the host's
// category ends with error_text() of its code in place of the C++ runtime's
// own words, which on Windows are code-page bytes.
std::string failure_text(const std::exception& failure);

// Raises the failure to <action> the file <what> named by `path`, for `reason`.
[[noreturn]] void raise_file_error(std::string_view action, std::string_view what,
                                   const std::string& path, std::error_code reason);

// Raised where work on a file needs more memory than the program can have.
// Its text says what failed: "not enough memory to rewrite settings file
// '/x/kestrafin.ini' (1.0 GB)".
struct NotEnoughMemory : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Raises NotEnoughMemory for the work <action> on the file <what> named by
// `path`, whose size is `size` bytes (left out when 0).
[[noreturn]] void raise_not_enough_memory(std::string_view action, std::string_view what,
                                          const std::string& path, std::uint64_t size);

// A size as a user reads it: "512 bytes", "2.5 KB", "300.0 MB", "1.0 GB"
// (units of 1024).
std::string size_text(std::uint64_t bytes);

// True when `path` names an existing file of any kind.
bool file_exists(const std::string& path);

// True when `path` names a regular file that a user sees in a folder listing
// (on hosts with hidden or system flags, a file without them).
bool visible_file_exists(const std::string& path);

// Creates `path` empty when it does not exist; leaves an existing regular file
// untouched. Refuses a name that is not a regular file. `what` names the file
// in error texts, such as "settings file".
void ensure_file_exists(const std::string& path, std::string_view what);

// Lets the owner write the file (clears a read-only flag); other rights stay.
void make_writable(const std::string& path, std::string_view what);

// Fails with the host's "access denied" when the file exists and is marked
// read-only, so that a replacement does not override the user's protection,
// even for an administrator.
void refuse_read_only_file(const std::string& path, std::string_view what);

// The whole content of a regular file; one on a kernel file system, which
// may never end, is refused (FileKind::KernelFile).
std::string read_file(const std::string& path, std::string_view what);

// The same for a file the user names to a command, which may also be a FIFO
// (a shell's <(...) hands one over): that is read until its writer closes
// it. Raises std::system_error (std::errc::file_too_large) past `most`
// bytes, so that an endless writer is not held.
std::string read_file_or_fifo(const std::string& path, std::string_view what, std::size_t most);

// Reads one file from start to end in pieces, so that a large file never has
// to be held whole.
class SequentialFileReader {
  public:
    // Opens `path` for reading. Raises std::system_error naming `what` and the
    // path when it cannot be opened, is not a regular file (never blocking on
    // a FIFO or a device in its place) or lies on a kernel file system, whose
    // files may never end (FileKind::KernelFile).
    SequentialFileReader(const std::string& path, std::string_view what);
    ~SequentialFileReader();
    SequentialFileReader(const SequentialFileReader&) = delete;
    SequentialFileReader& operator=(const SequentialFileReader&) = delete;

    // Reads up to `size` bytes into `into`: returns how many were read, 0 at
    // the end of the file. Raises std::system_error when the read fails.
    std::size_t read(char* into, std::size_t size);

    // Reads again from the start. Raises std::system_error when it cannot.
    void rewind();

    // The file's size in bytes now; raises std::system_error when it cannot
    // be learned.
    std::uint64_t size() const;

  private:
    struct OpenFile;  // the host's handle
    std::string path_;
    std::string what_;
    std::unique_ptr<OpenFile> file_;
};

// Replaces the content of the file named by `path` so that every reader sees
// either the old content or the new one, whole, and the new one has reached
// the disk when commit() returns:
//  - the user's rights decide: where this user could not open the existing
//    file for output, the constructor fails with the host's reason and the
//    file stays untouched; a replaced file keeps its owner, group and rights;
//  - a link is kept: the file it finally leads to is replaced, in that file's
//    own folder; a file with several names is written in place, so every name
//    sees the new content;
//  - where no new file can be made beside it but the file itself may be
//    written, it is written in place: room for the new size is reserved
//    first, so a full disk fails before any byte changes;
//  - no temporary file outlives a failure, a dropped writer, or an
//    interruption of the program (a forced kill in the instant between
//    naming the complete new file and renaming it over the old one aside);
//  - a missing file is created with the usual rights for a new file;
//  - a file on a kernel file system (proc, sysfs, ...) is refused
//    (FileKind::KernelFile) before it is opened.
// A failure in write() or commit() leaves the old content, whole; one in the
// last flush, after the new file took the name, leaves the new one, whole.
class AtomicFileWriter {
  public:
    AtomicFileWriter(std::string path, std::string_view what);
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;
    ~AtomicFileWriter();

    void write(std::string_view bytes);
    void commit();

    // The temporary file being filled, while it has a name in a folder: a
    // walk of that folder must not take it for a file of the user's.
    struct TemporaryFile {
        std::string folder;
        std::string name;
    };
    std::optional<TemporaryFile> temporary_file() const;

    struct State;

  private:
    std::unique_ptr<State> state_;
};

// Replaces the content of `path` with `bytes` through an AtomicFileWriter.
void replace_file(const std::string& path, std::string_view bytes, std::string_view what);

}  // namespace kestrafin::platform

template <>
struct std::is_error_code_enum<kestrafin::platform::FileKind> : std::true_type {};

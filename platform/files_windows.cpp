// Files on Windows. Every path reaches the system with the "\\?\" prefix;
// every file is opened as a handle that is checked to be a regular file.
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/windows/renaming.h"
#include "platform/windows/system.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>
#include <system_error>
#include <utility>

namespace kestrafin::platform {

using windows::Handle;

namespace {

// What an open handle holds, when it is no regular file.
std::optional<FileKind> irregular_kind(HANDLE file) {
    switch (::GetFileType(file)) {
        case FILE_TYPE_DISK:
            break;
        case FILE_TYPE_PIPE:
            return FileKind::Fifo;
        case FILE_TYPE_CHAR:
            return FileKind::Device;
        default:
            return FileKind::Other;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(file, &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return FileKind::Folder;
    return std::nullopt;
}

// Raises the failure to <action> the file <what> named by `path` with the
// calling thread's last error.
[[noreturn]] void raise_last_error(std::string_view action, std::string_view what,
                                   const std::string& path) {
    raise_file_error(action, what, path, windows::last_error());
}

// The system path of `path`; raises when there is none (a NUL in the name).
std::wstring checked_path(const std::string& path, std::string_view action, std::string_view what) {
    std::error_code error;
    std::wstring system_path = windows::system_path(path, error);
    if (error) raise_file_error(action, what, path, error);
    return system_path;
}

// Opens `path` (a system path) and refuses anything but a regular file. A
// folder in the name's place is refused before it is opened.
Handle open_regular(const std::wstring& system_path, DWORD access, DWORD disposition,
                    std::string_view action, std::string_view what, const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(system_path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        raise_file_error(action, what, path, make_error_code(FileKind::Folder));
    Handle file(::CreateFileW(system_path.c_str(), access, windows::kShareAll, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) raise_last_error(action, what, path);
    if (const auto kind = irregular_kind(file.get()))
        raise_file_error(action, what, path, make_error_code(*kind));
    return file;
}

DWORD attributes_of(const std::string& path) {
    std::error_code error;
    const std::wstring system_path = windows::system_path(path, error);
    if (error) return INVALID_FILE_ATTRIBUTES;
    return ::GetFileAttributesW(system_path.c_str());
}

}  // namespace

bool file_exists(const std::string& path) {
    return attributes_of(path) != INVALID_FILE_ATTRIBUTES;
}

bool visible_file_exists(const std::string& path) {
    const DWORD attributes = attributes_of(path);
    constexpr DWORD kNotVisible =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & kNotVisible) == 0;
}

void ensure_file_exists(const std::string& path, std::string_view what) {
    const std::wstring system_path = checked_path(path, "create", what);
    open_regular(system_path, FILE_READ_ATTRIBUTES, OPEN_ALWAYS, "create", what, path);
}

// The system's own attribute call: the file becomes archive only, which
// clears read-only, hidden and system alike.
void make_writable(const std::string& path, std::string_view what) {
    const std::wstring system_path = checked_path(path, "open", what);
    const DWORD attributes = ::GetFileAttributesW(system_path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) raise_last_error("open", what, path);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        raise_file_error("open", what, path, make_error_code(FileKind::Folder));
    if (!::SetFileAttributesW(system_path.c_str(), FILE_ATTRIBUTE_ARCHIVE))
        raise_last_error("make writable", what, path);
}

void refuse_read_only_file(const std::string& path, std::string_view what) {
    const DWORD attributes = attributes_of(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        raise_file_error("write", what, path, {ERROR_ACCESS_DENIED, std::system_category()});
}

std::string read_file(const std::string& path, std::string_view what) {
    const std::wstring system_path = checked_path(path, "open", what);
    const Handle file = open_regular(system_path, GENERIC_READ, OPEN_EXISTING, "open", what, path);
    std::string content;
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(file.get(), &size) && size.QuadPart > 0)
        content.reserve(static_cast<std::size_t>(size.QuadPart));
    char block[64 * 1024];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), block, sizeof block, &got, nullptr))
            raise_last_error("read", what, path);
        if (got == 0) break;
        content.append(block, got);
    }
    return content;
}

// No FIFO stands in Windows's file system: a pipe has a name of its own.
std::string read_file_or_fifo(const std::string& path, std::string_view what, std::size_t most) {
    std::string content = read_file(path, what);
    if (content.size() > most)
        platform::raise_file_error("read", what, path,
                                   std::make_error_code(std::errc::file_too_large));
    return content;
}

struct SequentialFileReader::OpenFile {
    Handle handle;
};

SequentialFileReader::SequentialFileReader(const std::string& path, std::string_view what)
    : path_(path), what_(what) {
    const std::wstring system_path = checked_path(path_, "open", what_);
    file_ = std::make_unique<OpenFile>(
        open_regular(system_path, GENERIC_READ, OPEN_EXISTING, "open", what_, path_));
}

SequentialFileReader::~SequentialFileReader() = default;

std::size_t SequentialFileReader::read(char* into, std::size_t size) {
    DWORD got = 0;
    const auto part = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!::ReadFile(file_->handle.get(), into, part, &got, nullptr))
        raise_last_error("read", what_, path_);
    return got;
}

void SequentialFileReader::rewind() {
    const LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file_->handle.get(), start, nullptr, FILE_BEGIN))
        raise_last_error("read", what_, path_);
}

std::uint64_t SequentialFileReader::size() const {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file_->handle.get(), &size)) raise_last_error("read", what_, path_);
    return static_cast<std::uint64_t>(size.QuadPart);
}

// --- Replacing a file safely on Windows. A file is replaced by a temporary file
// beside the one a link finally leads to, which takes the old file's access
// list, attributes and creation time (what ReplaceFileW would carry over) and
// then its name, in one rename: ReplaceFileW takes several steps, between
// which the name is missing (under Wine on every call, on Windows in its
// documented failures). The temporary file is marked for deletion until it is
// complete, so a crash leaves nothing behind.

namespace windows {

BOOL Renaming::rename_by_handle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS information_class,
                                FILE_RENAME_INFO* information, DWORD bytes) {
    return ::SetFileInformationByHandle(file, information_class, information, bytes);
}

namespace {
Renaming system_renaming;
Renaming* renaming_in_use = &system_renaming;
}  // namespace

Renaming& renaming() {
    return *renaming_in_use;
}

void replace_renaming(Renaming* replacement) {
    renaming_in_use = replacement != nullptr ? replacement : &system_renaming;
}

}  // namespace windows

namespace {

constexpr std::size_t kWriteChunk = 1 << 20;

// MinGW's headers hide the class behind a mistaken version test; its number
// is Windows's (minwinbase.h: FileDispositionInfoEx + 1).
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

void set_delete_on_close(HANDLE file, bool remove) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = remove ? TRUE : FALSE;
    ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

bool write_all(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD put = 0;
        const auto part = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        if (!::WriteFile(file, bytes.data(), part, &put, nullptr)) return false;
        bytes.remove_prefix(put);
    }
    return true;
}

// The path a link finally leads to, with the prefix; `file` is open on it.
// One call with room for the longest path: Wine reports too short a length
// for names beyond ASCII when asked for the size first.
std::wstring final_path(HANDLE file, const std::wstring& fallback) {
    std::wstring path(32768, L'\0');
    const DWORD length =
        ::GetFinalPathNameByHandleW(file, path.data(), static_cast<DWORD>(path.size()), 0);
    if (length == 0 || length >= path.size()) return fallback;
    path.resize(length);
    return path;
}

}  // namespace

struct AtomicFileWriter::State {
    std::string path;  // as the caller named it, for messages
    std::string what;
    std::wstring target;     // the file finally replaced, links followed
    std::wstring temporary;  // beside it; empty when writing in place
    Handle existing;         // the old file opened for output
    Handle output;           // the temporary file
    bool existed = false;
    std::string buffer;  // in place: the whole content until commit
    bool committed = false;

    [[noreturn]] void fail(std::string_view action) const { raise_last_error(action, what, path); }

    void open_existing(const std::wstring& system_path);
    bool make_temporary_file();
    void write_in_place();
    void replace_by_temporary_file();
    void take_over_old_security() const;
    bool rename_in_one_step();
};

void AtomicFileWriter::State::open_existing(const std::wstring& system_path) {
    target = system_path;
    const DWORD attributes = ::GetFileAttributesW(system_path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) return;
        raise_file_error("open", what, path, {static_cast<int>(error), std::system_category()});
    }
    // The read-only attribute binds administrators too, which Wine's mapping
    // onto the host's rights would not; the access list is the system's to judge.
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0 && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        raise_file_error("write", what, path, {ERROR_ACCESS_DENIED, std::system_category()});
    existing = open_regular(system_path, GENERIC_WRITE | FILE_READ_ATTRIBUTES, OPEN_EXISTING,
                            "write", what, path);
    existed = true;
    target = final_path(existing.get(), system_path);
}

bool AtomicFileWriter::State::make_temporary_file() {
    BY_HANDLE_FILE_INFORMATION info{};
    // A file with several names is written in place so that all of them see
    // the new content.
    if (existed && ::GetFileInformationByHandle(existing.get(), &info) && info.nNumberOfLinks > 1)
        return false;
    for (unsigned attempt = 0;; ++attempt) {
        temporary = target + L"." + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                    std::to_wstring(attempt) + L".tmp";
        // WRITE_DAC, which a file's owner holds, lets the old access list be
        // carried over.
        output = Handle(::CreateFileW(temporary.c_str(), GENERIC_WRITE | DELETE | WRITE_DAC, 0,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (output.valid()) break;
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_EXISTS && attempt < 1000) continue;
        temporary.clear();
        // No file can be made beside the old one, which may still be written.
        if (existed && error == ERROR_ACCESS_DENIED) return false;
        raise_file_error("create", what, path, {static_cast<int>(error), std::system_category()});
    }
    // Until it is complete the temporary file goes with its last handle,
    // whatever ends the program.
    set_delete_on_close(output.get(), true);
    return true;
}

void AtomicFileWriter::State::write_in_place() {
    // A full disk fails here, before a byte of the old content changes.
    LARGE_INTEGER size{};
    size.QuadPart = static_cast<LONGLONG>(buffer.size());
    LARGE_INTEGER old_size{};
    if (::GetFileSizeEx(existing.get(), &old_size) && size.QuadPart > old_size.QuadPart) {
        if (!::SetFilePointerEx(existing.get(), size, nullptr, FILE_BEGIN) ||
            !::SetEndOfFile(existing.get()))
            fail("write");
    }
    const LARGE_INTEGER start{};
    if (!::SetFilePointerEx(existing.get(), start, nullptr, FILE_BEGIN)) fail("write");
    if (!write_all(existing.get(), buffer)) fail("write");
    if (!::SetEndOfFile(existing.get()) || !::FlushFileBuffers(existing.get())) fail("write");
}

void AtomicFileWriter::State::replace_by_temporary_file() {
    if (!write_all(output.get(), buffer)) fail("write");
    buffer.clear();
    if (existed) take_over_old_security();
    if (!::FlushFileBuffers(output.get())) fail("write");
    set_delete_on_close(output.get(), false);
    existing.close();
    if (!rename_in_one_step()) {
        const std::error_code error = windows::last_error();
        output.close();
        ::DeleteFileW(temporary.c_str());
        raise_file_error("replace", what, path, error);
    }
}

// As ReplaceFileW with REPLACEFILE_IGNORE_MERGE_ERRORS: what cannot be carried
// over leaves the new file as its folder makes it. The owner stays the
// writer's, as it does there.
void AtomicFileWriter::State::take_over_old_security() const {
    DWORD size = 0;
    ::GetFileSecurityW(target.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
    std::string descriptor(size, '\0');
    if (size > 0 && ::GetFileSecurityW(target.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(),
                                       size, &size))
        ::SetKernelObjectSecurity(output.get(), DACL_SECURITY_INFORMATION, descriptor.data());
    FILE_BASIC_INFO old_basics{};
    if (!::GetFileInformationByHandleEx(existing.get(), FileBasicInfo, &old_basics,
                                        sizeof old_basics))
        return;
    // Read-only was refused before; the rest of what a program may set.
    constexpr DWORD kSettable = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                                FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE;
    FILE_BASIC_INFO basics{};  // times of 0 stay as they are
    basics.CreationTime = old_basics.CreationTime;
    basics.FileAttributes = old_basics.FileAttributes & kSettable;
    if (basics.FileAttributes == 0) basics.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    ::SetFileInformationByHandle(output.get(), FileBasicInfo, &basics, sizeof basics);
}

// The temporary file takes the target's name in one rename. POSIX semantics
// let it replace a file that others hold open (with delete sharing, as this
// program's readers do); the flush after it writes the file's metadata, its
// new name included. Where the file system refuses that form, MoveFileExW
// renames it, not returning before the rename is on the disk.
bool AtomicFileWriter::State::rename_in_one_step() {
    std::wstring name = target;
    if (name.rfind(LR"(\\?\)", 0) == 0) name.replace(0, 4, LR"(\??\)");
    const DWORD name_bytes = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    const DWORD bytes =
        static_cast<DWORD>(offsetof(FILE_RENAME_INFO, FileName)) + name_bytes + sizeof(wchar_t);
    std::string block(bytes, '\0');
    auto* information = reinterpret_cast<FILE_RENAME_INFO*>(block.data());
    information->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
    information->RootDirectory = nullptr;
    information->FileNameLength = name_bytes;
    std::memcpy(information->FileName, name.c_str(), name_bytes + sizeof(wchar_t));
    if (windows::renaming().rename_by_handle(output.get(), kFileRenameInfoEx, information, bytes)) {
        // Renamed: a failed flush leaves the new content in place, so the
        // save fails without undoing it.
        if (!::FlushFileBuffers(output.get())) fail("write");
        output.close();
        return true;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED &&
        error != ERROR_INVALID_FUNCTION)
        return false;
    output.close();
    return ::MoveFileExW(temporary.c_str(), target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

AtomicFileWriter::AtomicFileWriter(std::string path, std::string_view what)
    : state_(std::make_unique<State>()) {
    State& state = *state_;
    state.path = std::move(path);
    state.what = what;
    state.open_existing(checked_path(state.path, "create", what));
    if (state.make_temporary_file()) state.buffer.reserve(kWriteChunk);
}

AtomicFileWriter::~AtomicFileWriter() = default;

void AtomicFileWriter::write(std::string_view bytes) {
    State& state = *state_;
    if (state.committed) return;
    state.buffer.append(bytes);
    if (state.output.valid() && state.buffer.size() >= kWriteChunk) {
        if (!write_all(state.output.get(), state.buffer)) state.fail("write");
        state.buffer.clear();
    }
}

void AtomicFileWriter::commit() {
    State& state = *state_;
    if (state.committed) return;
    if (state.output.valid())
        state.replace_by_temporary_file();
    else
        state.write_in_place();
    state.committed = true;
}

std::optional<AtomicFileWriter::TemporaryFile> AtomicFileWriter::temporary_file() const {
    if (state_->temporary.empty()) return std::nullopt;
    std::wstring_view folder = state_->temporary;
    const std::size_t separator = folder.rfind(L'\\');
    if (separator == std::wstring_view::npos) return std::nullopt;
    const std::wstring_view name = folder.substr(separator + 1);
    folder = folder.substr(0, separator);
    // The folder as a user names it, without the prefix of system paths.
    const std::u16string shown = without_long_path_prefix(
        std::u16string_view(reinterpret_cast<const char16_t*>(folder.data()), folder.size()));
    TemporaryFile file;
    append_utf8_from_utf16(file.folder, shown);
    windows::append_utf8_from_wide(file.name, name);
    return file;
}

}  // namespace kestrafin::platform

// Files on Windows. Every path reaches the system with the "\\?\" prefix;
// every file is opened as a handle that is checked to be a regular file.
#include "platform/files.h"
#include "platform/process.h"
#include "platform/windows/system.h"

#include <algorithm>
#include <system_error>

namespace kestrafin::platform {

using windows::checked_path;
using windows::Handle;
using windows::open_regular;
using windows::raise_last_error;

namespace {

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

void FileSystemObject::CreateTextFile(const std::string& folder, std::string_view name) const {
    const std::string path = program_file(folder, name);
    const std::wstring system_path = checked_path(path, "create", "file");
    const Handle file =
        open_regular(system_path, GENERIC_WRITE, OPEN_ALWAYS, "create", "file", path);
    // Emptied only once it is known to be a regular file.
    if (!::SetEndOfFile(file.get())) raise_last_error("create", "file", path);
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

}  // namespace kestrafin::platform

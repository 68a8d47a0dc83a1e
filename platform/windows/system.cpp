#include "platform/windows/system.h"

#include <optional>

#include "platform/text.h"

namespace kestrafin::platform::windows {

namespace {

std::u16string_view as_utf16(std::wstring_view text) {
    return {reinterpret_cast<const char16_t*>(text.data()), text.size()};
}

std::wstring as_wide(std::u16string_view text) {
    return {reinterpret_cast<const wchar_t*>(text.data()), text.size()};
}

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

}  // namespace

std::wstring wide_from_utf8(std::string_view text) {
    return as_wide(utf16_from_utf8(text));
}

std::string utf8_from_wide(std::wstring_view text) {
    return utf8_from_utf16(as_utf16(text));
}

void append_utf8_from_wide(std::string& out, std::wstring_view text) {
    append_utf8_from_utf16(out, as_utf16(text));
}

std::error_code last_error() {
    return {static_cast<int>(::GetLastError()), std::system_category()};
}

std::wstring system_path(std::string_view path, std::error_code& error) {
    error.clear();
    if (path.empty() || path.find('\0') != std::string_view::npos) {
        error = {ERROR_INVALID_NAME, std::system_category()};
        return {};
    }
    const std::wstring wide = wide_from_utf8(path);
    if (has_system_prefix(as_utf16(wide))) return wide;
    std::wstring full(wide.size() + MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) {
            error = last_error();
            return {};
        }
        if (length < full.size()) {
            full.resize(length);
            break;
        }
        full.resize(length);  // too small: `length` counts the closing NUL
    }
    return as_wide(with_long_path_prefix(as_utf16(full)));
}

void raise_last_error(std::string_view action, std::string_view what, const std::string& path) {
    raise_file_error(action, what, path, windows::last_error());
}

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
    Handle file(::CreateFileW(system_path.c_str(), access, kShareAll, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) raise_last_error(action, what, path);
    if (const auto kind = irregular_kind(file.get()))
        raise_file_error(action, what, path, make_error_code(*kind));
    return file;
}

}  // namespace kestrafin::platform::windows

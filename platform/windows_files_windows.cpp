#include "platform/windows_files.h"

#include <optional>

namespace kestrafin::platform::windows {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string message(std::string_view action, std::string_view what, const std::string& path) {
    std::string text = "cannot ";
    text.append(action).append(" ").append(what).append(" '").append(path).append("'");
    return text;
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

void raise(std::string_view action, std::string_view what, const std::string& path,
           std::error_code error) {
    throw std::system_error(error, message(action, what, path));
}

void raise_last_error(std::string_view action, std::string_view what, const std::string& path) {
    raise(action, what, path, windows::last_error());
}

std::wstring checked_path(const std::string& path, std::string_view action, std::string_view what) {
    std::error_code error;
    std::wstring system_path = windows::system_path(path, error);
    if (error) raise(action, what, path, error);
    return system_path;
}

// Opens `path` (a system path) and refuses anything but a regular file. A
// folder in the name's place is refused before it is opened.
Handle open_regular(const std::wstring& system_path, DWORD access, DWORD disposition,
                    std::string_view action, std::string_view what, const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(system_path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        raise(action, what, path, make_error_code(FileKind::Folder));
    Handle file(::CreateFileW(system_path.c_str(), access, kShareAll, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) raise_last_error(action, what, path);
    if (const auto kind = irregular_kind(file.get()))
        raise(action, what, path, make_error_code(*kind));
    return file;
}

}  // namespace kestrafin::platform::windows

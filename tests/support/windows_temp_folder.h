// A temporary folder for tests on Windows, made and removed with
// std::filesystem through the "\\?\" prefix, so that trees deeper than the
// system's 260-character limit can be built and removed too.
#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "platform/utf16_text.h"

namespace kestrafin::testing {

// UTF-8 text as a path; the path's UTF-8 form is the user's text.
inline std::filesystem::path as_path(const std::string& utf8) {
    const std::u16string wide = platform::utf16_from_utf8(utf8);
    return std::filesystem::path(std::wstring(wide.begin(), wide.end()));
}

inline std::filesystem::path long_form(const std::string& utf8) {
    return as_path("\\\\?\\" + utf8);
}

// Removes the tree at the prefixed path `path`; links are removed, not entered.
inline void remove_windows_tree(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        ::DeleteFileW(path.c_str());
        return;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        WIN32_FIND_DATAW found{};
        const HANDLE search = ::FindFirstFileW((path + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = found.cFileName;
                if (name != L"." && name != L"..") remove_windows_tree(path + L"\\" + name);
            } while (::FindNextFileW(search, &found));
            ::FindClose(search);
        }
    }
    ::RemoveDirectoryW(path.c_str());
}

class WindowsTempFolder {
  public:
    WindowsTempFolder() {
        const std::string base = utf8(std::filesystem::temp_directory_path());
        for (unsigned attempt = 0;; ++attempt) {
            path_ = base + (base.ends_with('\\') ? "" : "\\") + "kestrafin-test-" +
                    std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(attempt);
            if (std::filesystem::create_directory(long_form(path_))) break;
        }
    }
    WindowsTempFolder(const WindowsTempFolder&) = delete;
    WindowsTempFolder& operator=(const WindowsTempFolder&) = delete;
    ~WindowsTempFolder() { remove_windows_tree(long_form(path_).wstring()); }

    // The folder's path without prefix, as a user types it.
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

    static std::string utf8(const std::filesystem::path& path) {
        const std::wstring wide = path.wstring();
        return platform::utf8_from_utf16(std::u16string(wide.begin(), wide.end()));
    }

  private:
    std::string path_;
};

inline void make_windows_folder(const std::string& path) {
    std::filesystem::create_directory(long_form(path));
}

// A symbolic link at `path` to the folder `target`; false when the system
// makes none. (Wine's CreateSymbolicLinkW reports success and makes nothing.)
inline bool make_windows_folder_link(const std::string& target, const std::string& path) {
    constexpr DWORD kWithoutPrivilege = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    return ::CreateSymbolicLinkW(long_form(path).c_str(), long_form(target).c_str(),
                                 SYMBOLIC_LINK_FLAG_DIRECTORY | kWithoutPrivilege) != 0 &&
           ::GetFileAttributesW(long_form(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline void make_windows_file(const std::string& path, const std::string& content = {}) {
    std::ofstream file(long_form(path), std::ios::binary);
    file << content;
    if (!file) throw std::runtime_error("cannot create " + path);
}

}  // namespace kestrafin::testing

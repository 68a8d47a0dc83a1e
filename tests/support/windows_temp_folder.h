// A temporary folder for tests on Windows, made and removed with
// std::filesystem through the "\\?\" prefix, so that trees deeper than the
// system's 260-character limit can be built and removed too.
#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "platform/text.h"

namespace kestrafin::testing {

// UTF-8 text as a path; the path's UTF-8 form is the user's text.
inline std::filesystem::path as_path(const std::string& utf8) {
    const std::u16string wide = platform::utf16_from_utf8(utf8);
    return std::filesystem::path(std::wstring(wide.begin(), wide.end()));
}

inline std::filesystem::path long_form(const std::string& utf8) {
    return as_path("\\\\?\\" + utf8);
}

// Wine's own answer to "which Unix file is this?"; null on Windows.
inline char* unix_file_name(const std::string& path) {
    using Lookup = char*(__cdecl*)(const wchar_t*);
    const auto lookup = reinterpret_cast<Lookup>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    return lookup == nullptr ? nullptr : lookup(long_form(path).c_str());
}

// Runs a host program under Wine with the Unix paths of `paths` (ASCII) as its
// last arguments, then waits up to five seconds for `done` to hold (Wine's start
// does not wait for Unix programs). False when not under Wine or not done.
template <typename Done>
bool run_unix_program(const std::wstring& program, const std::vector<std::string>& paths,
                      Done done) {
    std::wstring command = L"start.exe /wait /unix " + program;
    for (const auto& path : paths) {
        char* unix_path = unix_file_name(path);
        if (unix_path == nullptr) return false;
        command += L" \"";
        for (const char* c = unix_path; *c != '\0'; ++c) command.push_back(*c);
        command += L"\"";
        ::HeapFree(::GetProcessHeap(), 0, unix_path);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process))
        return false;
    ::WaitForSingleObject(process.hProcess, 10000);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    for (int i = 0; i < 500 && !done(); ++i) ::Sleep(10);
    return done();
}

inline bool exists(const std::string& path) {
    return ::GetFileAttributesW(long_form(path).c_str()) != INVALID_FILE_ATTRIBUTES;
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
    // A Unix symbolic link under Wine is removed as a file.
    if (!::RemoveDirectoryW(path.c_str())) ::DeleteFileW(path.c_str());
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
    // Under Wine the host's rm removes the tree, as Wine cannot tell a Unix
    // link to a folder from the folder when deleting.
    ~WindowsTempFolder() {
        if (!run_unix_program(L"/bin/rm -rf", {path_}, [&] { return !exists(path_); }))
            remove_windows_tree(long_form(path_).wstring());
    }

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

// Under Wine, whose CreateSymbolicLinkW reports success and makes nothing, the
// host's ln makes a Unix symbolic link instead.
inline bool make_unix_folder_link(const std::string& target, const std::string& path) {
    return run_unix_program(L"/bin/ln -s", {target, path}, [&] { return exists(path); });
}

// A symbolic link at `path` to the folder `target` (ASCII paths); false when
// the system makes none.
inline bool make_windows_folder_link(const std::string& target, const std::string& path) {
    constexpr DWORD kWithoutPrivilege = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    if (::CreateSymbolicLinkW(long_form(path).c_str(), long_form(target).c_str(),
                              SYMBOLIC_LINK_FLAG_DIRECTORY | kWithoutPrivilege) &&
        ::GetFileAttributesW(long_form(path).c_str()) != INVALID_FILE_ATTRIBUTES)
        return true;
    return make_unix_folder_link(target, path);
}

// A symbolic link at `path` to the file `target` (ASCII paths); false when
// the system makes none.
inline bool make_windows_file_link(const std::string& target, const std::string& path) {
    constexpr DWORD kWithoutPrivilege = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    if (::CreateSymbolicLinkW(long_form(path).c_str(), long_form(target).c_str(),
                              kWithoutPrivilege) &&
        exists(path))
        return true;
    return run_unix_program(L"/bin/ln -s", {target, path}, [&] { return exists(path); });
}

inline void make_windows_file(const std::string& path, const std::string& content = {}) {
    std::ofstream file(long_form(path), std::ios::binary);
    file << content;
    if (!file) throw std::runtime_error("cannot create " + path);
}

}  // namespace kestrafin::testing

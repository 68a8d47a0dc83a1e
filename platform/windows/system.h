// What the Windows backends share: the system headers, the bridge between
// UTF-8 and the system's wide text, the paths handed to the system and the
// owner of a handle. Included only by the *_windows.cpp files and by tests.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <system_error>
#include <utility>

namespace kestrafin::platform::windows {

// Missing from MinGW's headers: a link stood where links were not to be followed.
inline constexpr DWORD kErrorStoppedOnLink = 681;  // ERROR_STOPPED_ON_SYMLINK

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");

// Handles share every access, so that an open file or folder never keeps a
// user from renaming or removing it.
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// UTF-8 (WTF-8) text as the system's wide text.
std::wstring wide_from_utf8(std::string_view text);

// The system's wide text as UTF-8, unpaired surrogates as WTF-8.
std::string utf8_from_wide(std::wstring_view text);
void append_utf8_from_wide(std::string& out, std::wstring_view text);

// The path the system is given for the user's `path`: made absolute by
// GetFullPathNameW (relative paths, "/" and "." or ".." parts) and carrying
// the "\\?\" prefix; a path that already carries a prefix is kept. On failure
// the result is empty and `error` says why (a NUL in the path is an invalid name).
std::wstring system_path(std::string_view path, std::error_code& error);

// Makes stored_text_code_page() answer `code_page`, as on a system whose
// ANSI code page it is, for tests; 0 gives the system's own back.
void play_ansi_code_page(unsigned code_page);

// The calling thread's last error as an error code in the system category.
std::error_code last_error();

// Owns one handle of the system.
class Handle {
  public:
    Handle() = default;
    explicit Handle(HANDLE handle) : handle_(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
    Handle& operator=(Handle&& other) noexcept {
        std::swap(handle_, other.handle_);
        return *this;
    }
    ~Handle() { close(); }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }
    // Gives up ownership without closing.
    void release() { handle_ = INVALID_HANDLE_VALUE; }
    void close() {
        if (valid()) ::CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace kestrafin::platform::windows

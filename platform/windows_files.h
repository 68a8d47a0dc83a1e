// How the Windows file code opens files and reports failures: "cannot
// <action> <what> '<path>'" with the system's reason. Included only by the
// *_windows.cpp files.
#pragma once

#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/file_system.h"
#include "platform/windows_api.h"

namespace kestrafin::platform::windows {

[[noreturn]] void raise(std::string_view action, std::string_view what, const std::string& path,
                        std::error_code error);

// Raises with the calling thread's last error.
[[noreturn]] void raise_last_error(std::string_view action, std::string_view what,
                                   const std::string& path);

// The system path of `path`; raises when there is none (a NUL in the name).
std::wstring checked_path(const std::string& path, std::string_view action, std::string_view what);

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

// Opens `system_path` and refuses anything but a regular file (FileKind
// reasons); a folder in the name's place is refused before it is opened.
Handle open_regular(const std::wstring& system_path, DWORD access, DWORD disposition,
                    std::string_view action, std::string_view what, const std::string& path);

}  // namespace kestrafin::platform::windows

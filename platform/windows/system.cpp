#include "platform/windows/system.h"

#include "platform/text.h"

namespace kestrafin::platform::windows {

namespace {

std::u16string_view as_utf16(std::wstring_view text) {
    return {reinterpret_cast<const char16_t*>(text.data()), text.size()};
}

std::wstring as_wide(std::u16string_view text) {
    return {reinterpret_cast<const wchar_t*>(text.data()), text.size()};
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

}  // namespace kestrafin::platform::windows

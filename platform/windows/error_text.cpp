// The system's words for an error on Windows. The C++ runtime asks
// FormatMessageA, whose text is in the ANSI code page: "Accès refusé" would
// reach UTF-8 output as bytes of code page 1252.
#include <memory>
#include <string>
#include <system_error>

#include "platform/files.h"
#include "platform/windows/system.h"

namespace kestrafin::platform {

namespace {

struct LocalRelease {
    void operator()(wchar_t* block) const noexcept { ::LocalFree(block); }
};

}  // namespace

std::string error_text(std::error_code error) {
    if (error.category() != std::system_category()) return error.message();
    wchar_t* words = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error.value()), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<wchar_t*>(&words), 0, nullptr);
    const std::unique_ptr<wchar_t, LocalRelease> owned(words);
    if (length == 0) return "Unknown error " + std::to_string(error.value());
    std::wstring_view text(words, length);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.remove_suffix(1);
    if (text.ends_with(L'.')) text.remove_suffix(1);
    return windows::utf8_from_wide(text);
}

}  // namespace kestrafin::platform

// Standard streams on Windows: bytes go to pipes and files through WriteFile,
// so the C runtime's text mode adds no carriage returns; a console gets the
// text as UTF-16 through WriteConsoleW, whatever its code page.
#include "platform/standard_stream.h"
#include "platform/windows/system.h"

#include <io.h>

#include <algorithm>
#include <system_error>

namespace kestrafin::platform {

namespace {

HANDLE handle_of(int descriptor) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(descriptor));
}

bool is_console(HANDLE handle) {
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

[[noreturn]] void raise_write_error() {
    throw std::system_error(windows::last_error(), "cannot write the output");
}

}  // namespace

void keep_standard_streams_open() {
    // Files are opened here as Windows handles, never as C runtime
    // descriptors, so none can take the place of a closed stream.
}

void write_stream(int descriptor, std::string_view bytes) {
    const HANDLE handle = handle_of(descriptor);
    if (handle == INVALID_HANDLE_VALUE)
        throw std::system_error(ERROR_INVALID_HANDLE, std::system_category(),
                                "cannot write the output");
    if (is_console(handle)) {
        const std::wstring text = windows::wide_from_utf8(bytes);
        std::wstring_view rest = text;
        while (!rest.empty()) {
            DWORD put = 0;
            const auto part = static_cast<DWORD>(std::min<std::size_t>(rest.size(), 8192));
            if (!::WriteConsoleW(handle, rest.data(), part, &put, nullptr) || put == 0)
                raise_write_error();
            rest.remove_prefix(put);
        }
        return;
    }
    while (!bytes.empty()) {
        DWORD put = 0;
        const auto part = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        if (!::WriteFile(handle, bytes.data(), part, &put, nullptr)) raise_write_error();
        bytes.remove_prefix(put);
    }
}

bool stream_is_terminal(int descriptor) {
    const HANDLE handle = handle_of(descriptor);
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) return false;
    // Consoles without control sequences get no progress line.
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::size_t terminal_columns(int descriptor) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(handle_of(descriptor), &info)) return 80;
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? static_cast<std::size_t>(columns) : 80;
}

}  // namespace kestrafin::platform

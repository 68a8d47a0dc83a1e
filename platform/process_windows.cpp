// The process on Windows: the command line, the console and new programs
// through the system's wide-text calls.
#include "platform/process.h"
#include "platform/text.h"
#include "platform/windows/process_start.h"
#include "platform/windows/system.h"

// After the system headers, which it needs.
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <system_error>

namespace kestrafin::platform {

namespace {

// CommandLineToArgvW's block is the caller's to free with LocalFree; it is
// owned from the call on, so that a throwing conversion cannot leak it.
struct LocalRelease {
    void operator()(wchar_t** block) const noexcept { ::LocalFree(block); }
};

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

// The module file name of the executable tells.
std::string program_folder() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            throw std::system_error(windows::last_error(), "cannot find the program's folder");
        if (length < buffer.size()) {
            buffer.resize(length);
            break;
        }
        buffer.resize(buffer.size() * 2);  // the name was cut short
    }
    const std::u16string path = without_long_path_prefix(
        std::u16string_view(reinterpret_cast<const char16_t*>(buffer.data()), buffer.size()));
    const auto separator = path.find_last_of(u"\\/");
    if (separator == std::u16string::npos) return ".";
    // A drive's root keeps its separator: "C:\".
    const bool drive_root = separator == 2 && path[1] == u':';
    return utf8_from_utf16(std::u16string_view(path).substr(0, drive_root ? 3 : separator));
}

// Libraries that Windows loads by name on the program's behalf (a shell
// extension's, a font driver's) are then looked for in System32 alone. The
// libraries the executable imports are found before main in the system's
// usual order, which asks the executable's folder first for those the system
// does not know by name.
void load_libraries_from_the_system_only() {
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// The command line as the system holds it, in UTF-16: the narrow argv of the
// C runtime has lost every character outside the ANSI code page.
std::vector<std::string> program_arguments(int argc, char** argv) {
    int count = 0;
    const std::unique_ptr<wchar_t*, LocalRelease> wide(
        ::CommandLineToArgvW(::GetCommandLineW(), &count));
    if (!wide)
        return argc < 1 ? std::vector<std::string>{}
                        : std::vector<std::string>(argv + 1, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(windows::utf8_from_wide(wide.get()[i]));
    return arguments;
}

// Standard streams on Windows: bytes go to pipes and files through WriteFile,
// so the C runtime's text mode adds no carriage returns; a console gets the
// text as UTF-16 through WriteConsoleW, whatever its code page.
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

// Large pages need a privilege that ordinary users lack, so the blocks are
// plain committed pages straight from the system.
void* allocate_large_block(std::size_t size) {
    void* block = ::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

void free_large_block(void* block, std::size_t /*size*/) noexcept {
    if (block != nullptr) ::VirtualFree(block, 0, MEM_RELEASE);
}

// Explorer hands an address to the browser the user chose.
void open_address(const std::string& address) {
    windows::start_command_line("explorer.exe " + address, SW_SHOWMINIMIZED);
}

// Shows a file in Explorer, selected in its folder.
void show_in_file_manager(const std::string& path) {
    windows::start_command_line("explorer.exe /select,\"" + path + "\"", SW_SHOWNORMAL);
}

// Temporary files of unfinished saves are marked for deletion on Windows
// until they are complete, so ending the process removes them.
void end_program_at_once(int status) {
    std::_Exit(status);
}

}  // namespace kestrafin::platform

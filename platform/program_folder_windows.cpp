// The program folder on Windows: the module file name of the executable.
#include "platform/program_folder.h"
#include "platform/text.h"
#include "platform/windows/system.h"

#include <system_error>

namespace kestrafin::platform {

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

}  // namespace kestrafin::platform

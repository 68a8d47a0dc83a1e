// Fuzzes readini and writeini on arbitrary file bytes and arbitrary section,
// key and value texts. Input: section NUL key NUL value NUL file bytes.
//
// Invariants checked after every write that is not refused:
//  - the file begins with a character whose code is above 13;
//  - nowhere do three CR LF pairs stand in a row;
//  - it ends with a character above 13 followed by exactly one CR LF;
//  - readini returns the value just written, whatever line breaks the old
//    file uses (CR LF, lone CR, lone LF), unless the key holds a "[" (no key
//    line can then be read) or the old file's first printable character does
//    not start a line (the tidying at the start removes the control
//    characters before it and can turn that line into a header); a byte
//    order mark at the start is kept and is no part of the first line.
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

#include "settings/ini_file.h"
#include "tests/support/temp_tree.h"

namespace {

std::string folder() {
    static const std::string path = [] {
        std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                              std::string("/kestrafin-fuzz.XXXXXX");
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        return pattern;
    }();
    return path;
}

bool control(char c) {
    return static_cast<unsigned char>(c) <= 13;
}

// True when the first character above code 13 stands where the reader starts
// a line: at the start, after CR LF or after a lone CR.
bool printable_start_begins_a_line(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // a byte order mark
    std::size_t at = 0;
    while (at < text.size() && control(text[at])) ++at;
    if (at == 0 || at == text.size()) return true;
    return text[at - 1] == '\r' || (text[at - 1] == '\n' && at >= 2 && text[at - 2] == '\r');
}

std::string_view next_part(std::string_view& rest) {
    const auto nul = rest.find('\0');
    const std::string_view part = rest.substr(0, nul);
    rest = nul == std::string_view::npos ? std::string_view{} : rest.substr(nul + 1);
    return part;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    const std::string section(next_part(rest));
    const std::string key(next_part(rest));
    const std::string value(next_part(rest));
    const std::string_view old_file = rest;
    const std::string path = folder() + "/settings.ini";
    kestrafin::testing::make_file(path, std::string(old_file));

    (void)Kestrafin_Lib::readini(path, section, key);
    if (kestrafin::testing::read_bytes(path) != old_file)
        std::abort();  // reading never changes the file

    try {
        Kestrafin_Lib::writeini(path, section, key, value);
    } catch (const std::invalid_argument&) {
        if (kestrafin::testing::read_bytes(path) != old_file)
            std::abort();  // a refused write changes nothing
        return 0;
    }
    const std::string written = kestrafin::testing::read_bytes(path);
    if (written.size() < 3 || control(written[0])) std::abort();
    if (written.find("\r\n\r\n\r\n") != std::string::npos) std::abort();
    if (!written.ends_with("\r\n") || control(written[written.size() - 3])) std::abort();

    if (printable_start_begins_a_line(old_file) && key.find('[') == std::string::npos) {
        if (Kestrafin_Lib::readini(path, section, key) != value) std::abort();
    }
    return 0;
}

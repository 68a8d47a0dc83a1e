// Fuzzes readini and writeini on arbitrary file bytes and arbitrary section,
// key and value texts. Input: section NUL key NUL value NUL file bytes.
//
// Invariants checked after every write that is not refused:
//  - the file begins with a character whose code is above 13;
//  - nowhere do three CR LF pairs stand in a row;
//  - it ends with a character above 13 followed by exactly one CR LF;
//  - readini returns the value just written, where the reader and the writer
//    see the same lines: the old file breaks lines only with CR LF, does not
//    begin with a control character other than CR LF (the tidying at the
//    start can turn such a line into a header), and the key holds no "[".
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

bool only_crlf_breaks(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n')) return false;
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
    }
    return true;
}

bool control(char c) {
    return static_cast<unsigned char>(c) <= 13;
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

    const bool clean_start =
        old_file.empty() || !control(old_file[0]) || old_file.starts_with("\r\n");
    if (only_crlf_breaks(old_file) && clean_start && key.find('[') == std::string::npos) {
        if (Kestrafin_Lib::readini(path, section, key) != value) std::abort();
    }
    return 0;
}

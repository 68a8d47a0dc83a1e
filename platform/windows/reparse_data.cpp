#include "platform/windows/reparse_data.h"

namespace kestrafin::platform::windows {

namespace {

std::uint16_t u16_at(const std::uint8_t* data, std::size_t at) {
    return static_cast<std::uint16_t>(data[at] | (data[at + 1] << 8));
}

std::uint32_t u32_at(const std::uint8_t* data, std::size_t at) {
    return u16_at(data, at) | (static_cast<std::uint32_t>(u16_at(data, at + 2)) << 16);
}

char16_t ascii_upper(char16_t unit) {
    return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - u'a' + u'A') : unit;
}

bool starts_with_folded(std::u16string_view text, std::u16string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t at = 0; at < prefix.size(); ++at)
        if (ascii_upper(text[at]) != ascii_upper(prefix[at])) return false;
    return true;
}

// The host that follows `prefix` in `path`, up to the next separator.
std::u16string host_after(std::u16string_view path, std::size_t prefix) {
    const std::u16string_view rest = path.substr(prefix);
    std::u16string host(rest.substr(0, rest.find_first_of(u"\\/")));
    for (char16_t& unit : host) unit = ascii_upper(unit);
    return host;
}

constexpr std::size_t kHeader = 8;             // tag, data length, reserved
constexpr std::size_t kSymlinkNames = 12;      // name offsets and lengths, flags
constexpr std::uint32_t kSymlinkRelative = 1;  // SYMLINK_FLAG_RELATIVE

}  // namespace

std::u16string machine_of_path(std::u16string_view path) {
    // "\\?\UNC\host", "\??\UNC\host" (the system's own name for it) and the
    // multiple UNC provider's device, before the plain "\\host".
    for (const std::u16string_view prefix :
         {u"\\\\?\\UNC\\", u"\\??\\UNC\\", u"\\\\.\\UNC\\", u"\\Device\\Mup\\"})
        if (starts_with_folded(path, prefix)) return host_after(path, prefix.size());
    if (path.starts_with(u"\\\\?\\") || path.starts_with(u"\\\\.\\") ||
        path.starts_with(u"\\??\\"))
        return {};  // a drive, volume or device of this machine
    if (path.size() > 2 && (path[0] == u'\\' || path[0] == u'/') &&
        (path[1] == u'\\' || path[1] == u'/'))
        return host_after(path, 2);
    return {};
}

std::optional<std::u16string> machine_of_link(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size < kHeader) return std::nullopt;
    const std::uint32_t tag = u32_at(data, 0);
    const std::size_t length = u16_at(data, 4);
    if (kHeader + length > size) return std::nullopt;
    if (tag == kReparseTagMountPoint) return std::u16string();
    if (tag != kReparseTagSymlink || length < kSymlinkNames) return std::nullopt;
    const std::size_t name_offset = u16_at(data, kHeader);
    const std::size_t name_length = u16_at(data, kHeader + 2);
    const std::uint32_t flags = u32_at(data, kHeader + 8);
    const std::size_t names = kHeader + kSymlinkNames;
    if (name_offset % 2 != 0 || name_length % 2 != 0 ||
        names + name_offset + name_length > kHeader + length)
        return std::nullopt;
    if ((flags & kSymlinkRelative) != 0) return std::u16string();
    std::u16string name(name_length / 2, u'\0');
    for (std::size_t unit = 0; unit < name.size(); ++unit)
        name[unit] = static_cast<char16_t>(u16_at(data, names + name_offset + 2 * unit));
    return machine_of_path(name);
}

}  // namespace kestrafin::platform::windows

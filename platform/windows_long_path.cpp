#include "platform/windows_long_path.h"

namespace kestrafin::platform {

namespace {

constexpr std::u16string_view kLongPrefix = u"\\\\?\\";
constexpr std::u16string_view kDevicePrefix = u"\\\\.\\";
constexpr std::u16string_view kLongSharePrefix = u"\\\\?\\UNC\\";
constexpr std::u16string_view kSharePrefix = u"\\\\";

bool starts_with_ignoring_case(std::u16string_view text, std::u16string_view start) {
    if (text.size() < start.size()) return false;
    for (std::size_t i = 0; i < start.size(); ++i) {
        char16_t unit = text[i];
        if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - u'a' + u'A');
        if (unit != start[i]) return false;
    }
    return true;
}

}  // namespace

bool has_system_prefix(std::u16string_view path) {
    return path.starts_with(kLongPrefix) || path.starts_with(kDevicePrefix);
}

std::u16string with_long_path_prefix(std::u16string_view full_path) {
    if (has_system_prefix(full_path)) return std::u16string(full_path);
    std::u16string prefixed;
    if (full_path.starts_with(kSharePrefix)) {
        prefixed.reserve(kLongSharePrefix.size() + full_path.size());
        prefixed.append(kLongSharePrefix).append(full_path.substr(kSharePrefix.size()));
    } else {
        prefixed.reserve(kLongPrefix.size() + full_path.size());
        prefixed.append(kLongPrefix).append(full_path);
    }
    return prefixed;
}

std::u16string without_long_path_prefix(std::u16string_view path) {
    if (starts_with_ignoring_case(path, kLongSharePrefix))
        return std::u16string(kSharePrefix).append(path.substr(kLongSharePrefix.size()));
    if (path.starts_with(kLongPrefix)) return std::u16string(path.substr(kLongPrefix.size()));
    return std::u16string(path);
}

}  // namespace kestrafin::platform

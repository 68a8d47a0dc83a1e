// Where a Windows link leads, from its reparse data as bytes: on every host.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/windows/reparse_data.h"

using kestrafin::platform::windows::kReparseTagMountPoint;
using kestrafin::platform::windows::kReparseTagSymlink;
using kestrafin::platform::windows::machine_of_link;

namespace {

void put16(std::vector<std::uint8_t>& data, std::uint16_t value) {
    data.push_back(static_cast<std::uint8_t>(value));
    data.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put32(std::vector<std::uint8_t>& data, std::uint32_t value) {
    put16(data, static_cast<std::uint16_t>(value));
    put16(data, static_cast<std::uint16_t>(value >> 16));
}

// Reparse data as the system returns it: the substitute name, then the print
// name "p"; `flags` only for a symbolic link.
std::vector<std::uint8_t> reparse_data(std::uint32_t tag, std::u16string_view substitute,
                                       std::uint32_t flags = 0) {
    const bool symlink = tag == kReparseTagSymlink;
    std::vector<std::uint8_t> data;
    put32(data, tag);
    const auto length = static_cast<std::uint16_t>((symlink ? 12 : 8) + 2 * substitute.size() + 2);
    put16(data, length);
    put16(data, 0);
    put16(data, 0);
    put16(data, static_cast<std::uint16_t>(2 * substitute.size()));
    put16(data, static_cast<std::uint16_t>(2 * substitute.size()));
    put16(data, 2);
    if (symlink) put32(data, flags);
    for (const char16_t unit : substitute) put16(data, unit);
    put16(data, u'p');
    return data;
}

struct LinkCase {
    const char* what;
    std::vector<std::uint8_t> data;
    std::optional<std::u16string> machine;
};

}  // namespace

TEST(ReparseData, TellsTheMachineALinkLeadsToFromItsDataAlone) {
    const std::vector<std::uint8_t> whole = reparse_data(kReparseTagSymlink, u"\\??\\UNC\\h\\s");
    const LinkCase cases[] = {
        {"a link to a share", reparse_data(kReparseTagSymlink, u"\\??\\UNC\\Server\\share\\x"),
         u"SERVER"},
        {"a link to a share named as a path", reparse_data(kReparseTagSymlink, u"\\\\host\\s"),
         u"HOST"},
        {"a link to a share with the long-path prefix",
         reparse_data(kReparseTagSymlink, u"\\\\?\\unc\\host.example\\s"), u"HOST.EXAMPLE"},
        {"a link through the UNC provider's device",
         reparse_data(kReparseTagSymlink, u"\\Device\\Mup\\nas\\s"), u"NAS"},
        {"a link to a drive", reparse_data(kReparseTagSymlink, u"\\??\\C:\\data"), u""},
        {"a link to a volume",
         reparse_data(kReparseTagSymlink, u"\\??\\Volume{0d5a8c2e-0000-0000-0000-100000000000}\\"),
         u""},
        {"a relative link, even one spelt like a share",
         reparse_data(kReparseTagSymlink, u"\\\\host\\s", 1), u""},
        {"a junction", reparse_data(kReparseTagMountPoint, u"\\??\\UNC\\host\\s"), u""},
        {"another tag", reparse_data(0x80000017, u"\\\\host\\s"), std::nullopt},
        {"data cut short", std::vector<std::uint8_t>(whole.begin(), whole.end() - 6),
         std::nullopt},
        {"a name past the data",
         [] {
             auto data = reparse_data(kReparseTagSymlink, u"\\\\host\\s");
             data[10] = 0x7E;  // the substitute name's length, in bytes
             return data;
         }(),
         std::nullopt},
        {"no data", {}, std::nullopt},
    };
    for (const LinkCase& link : cases)
        EXPECT_EQ(machine_of_link(link.data.data(), link.data.size()), link.machine) << link.what;
}

TEST(ReparseData, TellsTheMachineOfARootThatLinksMayLeadBackTo) {
    using kestrafin::platform::windows::machine_of_path;
    const struct {
        std::u16string_view path;
        std::u16string machine;
    } cases[] = {
        {u"\\\\?\\UNC\\files.example\\share\\x", u"FILES.EXAMPLE"},
        {u"\\\\server\\share", u"SERVER"},
        {u"//server/share", u"SERVER"},
        {u"\\\\?\\C:\\data", u""},
        {u"\\\\.\\C:\\data", u""},
        {u"C:\\data", u""},
        {u"\\data", u""},
    };
    for (const auto& root : cases)
        EXPECT_EQ(machine_of_path(root.path), root.machine)
            << std::string(root.path.begin(), root.path.end());
}

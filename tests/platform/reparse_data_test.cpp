// Where a Windows link leads, from its reparse data as bytes: on every host.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/windows/reparse_data.h"
#include "tests/support/reparse_data_bytes.h"

using kestrafin::platform::windows::kReparseTagMountPoint;
using kestrafin::platform::windows::kReparseTagSymlink;
using kestrafin::platform::windows::machine_of_link;

namespace {

using kestrafin::testing::reparse_data_bytes;

struct LinkCase {
    const char* what;
    std::vector<std::uint8_t> data;
    std::optional<std::u16string> machine;
};

}  // namespace

TEST(ReparseData, TellsTheMachineALinkLeadsToFromItsDataAlone) {
    const std::vector<std::uint8_t> whole = reparse_data_bytes(u"\\??\\UNC\\h\\s");
    const LinkCase cases[] = {
        {"a link to a share", reparse_data_bytes(u"\\??\\UNC\\Server\\share\\x"),
         u"SERVER"},
        {"a link to a share named as a path", reparse_data_bytes(u"\\\\host\\s"),
         u"HOST"},
        {"a link to a share with the long-path prefix",
         reparse_data_bytes(u"\\\\?\\unc\\host.example\\s"), u"HOST.EXAMPLE"},
        {"a link through the UNC provider's device",
         reparse_data_bytes(u"\\Device\\Mup\\nas\\s"), u"NAS"},
        {"a link to a drive", reparse_data_bytes(u"\\??\\C:\\data"), u""},
        {"a relative link, even one spelt like a share",
         reparse_data_bytes(u"\\\\host\\s", kReparseTagSymlink, 1), u""},
        {"a junction", reparse_data_bytes(u"\\??\\UNC\\host\\s", kReparseTagMountPoint), u""},
        {"another tag", reparse_data_bytes(u"\\\\host\\s", 0x80000017), std::nullopt},
        {"data cut short", std::vector<std::uint8_t>(whole.begin(), whole.end() - 6),
         std::nullopt},
        {"a name past the data",
         [] {
             auto data = reparse_data_bytes(u"\\\\host\\s");
             data[10] = 0x7E;  // the substitute name's length, in bytes
             return data;
         }(),
         std::nullopt},
        {"no data", {}, std::nullopt},
    };
    for (const LinkCase& link : cases)
        EXPECT_EQ(machine_of_link(link.data.data(), link.data.size()), link.machine) << link.what;
}

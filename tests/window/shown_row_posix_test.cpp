// A row of a gigabyte shows at the cost of one of kLongestShownRow units: only
// its two ends can be read, and reading anywhere between them faults.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <string_view>

#include "platform/text.h"
#include "window/shown_row.h"

using namespace kestrafin::window;

namespace {

std::size_t utf16_units(std::string_view text) {
    return kestrafin::platform::utf16_from_utf8(text).size();
}

}  // namespace

TEST(ShownRowPosix, AGigabyteRowIsShownFromItsEndsAlone) {
    constexpr std::size_t kSize = std::size_t{1} << 30;
    constexpr std::size_t kEnd = 256 * 1024;  // readable at each end
    constexpr std::string_view kName = "/report.txt";
    const struct {
        const char* script;
        std::string_view folder;  // repeated to fill both ends
        bool isolated;            // its folders are isolated for drawing
    } rows[] = {
        {"Latin", "/aaaaaaa", false},
        {"Hebrew", "/\xD7\xA9\xD7\xA9\xD7\xA9", true},
        {"four-byte", "/\xF0\x9F\x93\x81\xF0\x9F\x93\x81\xF0\x9F\x93\x81", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.script);
        void* mapped = mmap(nullptr, kSize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                            -1, 0);
        ASSERT_NE(mapped, MAP_FAILED);
        char* bytes = static_cast<char*>(mapped);
        ASSERT_EQ(mprotect(bytes, kEnd, PROT_READ | PROT_WRITE), 0);
        ASSERT_EQ(mprotect(bytes + kSize - kEnd, kEnd, PROT_READ | PROT_WRITE), 0);
        for (char* end : {bytes, bytes + kSize - kEnd})
            for (std::size_t at = 0; at + row.folder.size() <= kEnd; at += row.folder.size())
                std::memcpy(end + at, row.folder.data(), row.folder.size());
        std::memcpy(bytes + kSize - kName.size(), kName.data(), kName.size());
        const std::string_view text(bytes, kSize);

        const ShownParts parts = shown_parts(text);
        ASSERT_TRUE(parts.cut);
        EXPECT_LE(utf16_units(parts.head), kLongestShownRow / 2);
        EXPECT_GE(utf16_units(parts.head), kLongestShownRow / 2 - 1);
        EXPECT_LE(utf16_units(parts.tail), kLongestShownRow / 2);
        EXPECT_GE(utf16_units(parts.tail), kLongestShownRow / 2 - 1);
        const std::string shown = shown_row_text(text, '/');
        EXPECT_EQ(shown.find("\xE2\x81\xA8") != std::string::npos, row.isolated);
        EXPECT_TRUE(shown.ends_with(kName));
        EXPECT_NE(shown.find(kElision), std::string::npos);
        EXPECT_LT(shown.size(), 3 * 4 * kLongestShownRow);
        munmap(mapped, kSize);
    }
}

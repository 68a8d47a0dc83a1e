// A row of a gigabyte shows at the cost of one of kLongestShownRow units: only
// its two ends can be read, and a read anywhere between them faults.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstring>
#include <string>

#include "platform/text.h"
#include "window/shown_row.h"

using namespace kestrafin::window;

TEST(ShownRowPosix, AGigabyteRowIsShownFromItsEndsAlone) {
    constexpr std::size_t kSize = std::size_t{1} << 30, kEnd = 256 * 1024;
    constexpr std::string_view kName = "/report.txt";
    // Folders of one, two and four bytes a character; Hebrew ones are isolated.
    for (const std::string_view folder : {"/aaaaaaa", "/\xD7\xA9\xD7\xA9\xD7\xA9",
                                          "/\xF0\x9F\x93\x81\xF0\x9F\x93\x81\xF0\x9F\x93\x81"}) {
        SCOPED_TRACE(folder);
        char* bytes = static_cast<char*>(
            mmap(nullptr, kSize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0));
        ASSERT_NE(bytes, MAP_FAILED);
        for (char* end : {bytes, bytes + kSize - kEnd}) {
            ASSERT_EQ(mprotect(end, kEnd, PROT_READ | PROT_WRITE), 0);
            for (std::size_t at = 0; at + folder.size() <= kEnd; at += folder.size())
                std::memcpy(end + at, folder.data(), folder.size());
        }
        std::memcpy(bytes + kSize - kName.size(), kName.data(), kName.size());
        const std::string_view text(bytes, kSize);

        const ShownParts parts = shown_parts(text);
        ASSERT_TRUE(parts.cut);
        for (const std::string_view part : {parts.head, parts.tail}) {
            const std::size_t units = kestrafin::platform::utf16_from_utf8(part).size();
            EXPECT_TRUE(units <= kLongestShownRow / 2 && units + 1 >= kLongestShownRow / 2);
        }
        const std::string shown = shown_row_text(text, '/');
        EXPECT_TRUE(shown.ends_with(kName));
        EXPECT_EQ(shown.find("\xE2\x81\xA8") != std::string::npos, folder[1] == '\xD7');
        munmap(bytes, kSize);
    }
}

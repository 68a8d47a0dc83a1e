#include <gtest/gtest.h>

#include "platform/text.h"

TEST(FileUri, EveryByteButUnreservedOnesIsEncoded) {
    const struct {
        std::string_view path;
        std::string_view uri;
    } rows[] = {
        {"/data/report-1_v2.~pdf", "file:///data/report-1_v2.~pdf"},
        {"/a,b/c d/e%f", "file:///a%2Cb/c%20d/e%25f"},
        {"/new\nline", "file:///new%0Aline"},
        {"/\xD9\x85\xFF", "file:///%D9%85%FF"},
    };
    for (const auto& row : rows) EXPECT_EQ(kestrafin::platform::file_uri(row.path), row.uri);
}

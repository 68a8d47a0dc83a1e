// The logo's shrinking: each pixel the average of the area it covers.
#include <gtest/gtest.h>

#include "win32/picture_scale.h"

using kestrafin::win32::scale_square;

TEST(PictureScale, EachPixelAveragesTheAreaItCoversPartlyCoveredPixelsInPart) {
    // A 3 x 3 picture: a black left column, the rest in one colour per channel.
    const std::vector<std::uint32_t> picture = {0x000000, 0x30C090, 0x30C090,  //
                                                0x000000, 0x30C090, 0x30C090,  //
                                                0x000000, 0x30C090, 0x30C090};
    const struct Case {
        int to;
        std::vector<std::uint32_t> expected;
    } cases[] = {
        {3, picture},
        // Two thirds coloured.
        {1, {0x208060}},
        // Each target pixel covers one and a half: the left one a black pixel
        // and half a coloured one.
        {2, {0x104030, 0x30C090, 0x104030, 0x30C090}},
        // Enlarged, a target pixel within one source pixel takes it whole.
        {6, {0x000000, 0x000000, 0x30C090, 0x30C090, 0x30C090, 0x30C090, 0x000000, 0x000000,
             0x30C090, 0x30C090, 0x30C090, 0x30C090, 0x000000, 0x000000, 0x30C090, 0x30C090,
             0x30C090, 0x30C090, 0x000000, 0x000000, 0x30C090, 0x30C090, 0x30C090, 0x30C090,
             0x000000, 0x000000, 0x30C090, 0x30C090, 0x30C090, 0x30C090, 0x000000, 0x000000,
             0x30C090, 0x30C090, 0x30C090, 0x30C090}},
    };
    for (const Case& each : cases)
        EXPECT_EQ(scale_square(picture, 3, each.to), each.expected) << each.to;
}

// Shrinks a square picture for the window's scale: each pixel of the result
// is the average of the source area it covers, partly covered pixels counted
// in part, so that a picture drawn large keeps its smooth edges at any
// smaller size (the system's own halftone stretching does not average on
// every host). Toolkit-free; pixels are 0x00RRGGBB, rows top-down.
#pragma once

#include <cstdint>
#include <vector>

namespace kestrafin::win32 {

// `pixels` holds side x side pixels; the result `to` x `to` (to > 0). A
// larger `to` enlarges, each pixel averaging the one or two it overlaps.
std::vector<std::uint32_t> scale_square(const std::vector<std::uint32_t>& pixels, int side, int to);

}  // namespace kestrafin::win32

// The content a saving child writes in its save number k: it names k at
// both ends, so a reader tells a whole save from a cut one.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace kestrafin::testing {

inline constexpr std::size_t kSavedPiece = 256 * 1024;

// Between one and three of the writer's megabyte blocks, so saves end at
// different points of a block.
inline std::string saved_content(unsigned save) {
    const std::string mark = "save " + std::to_string(save) + "\n";
    const std::size_t filler = (1u << 20) + (save % 8) * (300u << 10);
    return mark + std::string(filler, static_cast<char>('a' + save % 26)) + mark;
}

// The save whose whole content `bytes` is, if any.
inline std::optional<unsigned> whole_save(const std::string& bytes) {
    if (bytes.rfind("save ", 0) != 0) return std::nullopt;
    const unsigned save = static_cast<unsigned>(std::stoul(bytes.substr(5, 12)));
    if (bytes != saved_content(save)) return std::nullopt;
    return save;
}

}  // namespace kestrafin::testing

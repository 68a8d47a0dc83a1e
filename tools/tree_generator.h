// Builds deterministic folder trees for tests and benchmarks: the same seed
// and sizes always give the same names, nesting, links and files.
#pragma once

#include <cstdint>
#include <string>

namespace kestrafin::tools {

struct TreeShape {
    std::uint64_t seed = 1;
    std::size_t folders = 2'000;
    std::size_t files = 20'000;
    std::size_t folder_links = 8;  // one of them leads back to an ancestor
};

struct TreeFigures {
    std::size_t folders = 0;
    std::size_t files = 0;
    std::size_t links = 0;
    std::size_t folders_longer_than_200 = 0;
    std::size_t folders_longer_than_260 = 0;
};

// Creates the tree inside the existing, empty folder `root`. Raises
// std::runtime_error when a folder or file cannot be created.
TreeFigures generate_tree(const std::string& root, const TreeShape& shape);

}  // namespace kestrafin::tools

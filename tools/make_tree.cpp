// kestrafin-make-tree ROOT [small|share|large] [SEED]: builds a test tree in
// the empty or missing folder ROOT and prints its figures.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "tools/tree_generator.h"

constexpr const char* kUsage =
    "usage: kestrafin-make-tree ROOT [small|share|large] [SEED]\n"
    "Builds a seeded tree in ROOT: small has 2,000 folders and 20,000 files, share\n"
    "4,000 and 40,000, large 50,000 and 500,000.\n";

int main(int argc, char** argv) {
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    kestrafin::tools::TreeShape shape;
    const std::string size = argc > 2 ? argv[2] : "small";
    if (size == "large") {
        shape.folders = 50'000;
        shape.files = 500'000;
    } else if (size == "share") {
        shape.folders = 4'000;
        shape.files = 40'000;
    } else if (size != "small") {
        std::fprintf(stderr, "kestrafin-make-tree: unknown size '%s'\n", size.c_str());
        return 2;
    }
    if (argc > 3) shape.seed = std::strtoull(argv[3], nullptr, 10);
    mkdir(argv[1], 0755);
    try {
        const auto figures = kestrafin::tools::generate_tree(argv[1], shape);
        std::printf(
            "%zu folders (%zu longer than 200, %zu longer than 260), %zu files, %zu links\n",
            figures.folders, figures.folders_longer_than_200, figures.folders_longer_than_260,
            figures.files, figures.links);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kestrafin-make-tree: %s\n", error.what());
        return 1;
    }
    return 0;
}

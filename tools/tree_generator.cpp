#include "tools/tree_generator.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <stdexcept>
#include <vector>

#include "search/path_text.h"

namespace kestrafin::tools {

namespace {

const char* const kWords[] = {"Projects",
                              "archive",
                              "Backup 2019",
                              "photos, raw",
                              "Übersicht",
                              "données",
                              "отчёты",
                              "資料",
                              "src",
                              "build output",
                              "node_modules",
                              "Q3 report",
                              "très long dossier",
                              "vendor",
                              "a,b"};

void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

struct Folder {
    std::string path;
    std::size_t parent;
    std::size_t depth;
};

}  // namespace

TreeFigures generate_tree(const std::string& root, const TreeShape& shape) {
    std::mt19937_64 random(shape.seed);
    const auto pick = [&](std::size_t n) {
        return static_cast<std::size_t>(random() % static_cast<std::uint64_t>(n));
    };
    std::vector<Folder> folders{{root, 0, 0}};
    TreeFigures figures;

    for (std::size_t i = 1; i < shape.folders; ++i) {
        // Now and then a recent folder, so that chains grow deep; else any
        // folder. Long folders are held to about a quarter of the tree.
        std::size_t parent = 0;
        std::string path;
        for (int attempt = 0; attempt < 16; ++attempt) {
            parent = pick(4) == 0
                         ? folders.size() - 1 - pick(std::min<std::size_t>(folders.size(), 8))
                         : pick(folders.size());
            if (folders[parent].path.size() > 600) parent = pick(folders.size() / 8 + 1);
            std::string name = kWords[pick(std::size(kWords))];
            name += " " + std::to_string(i);
            if (pick(100) < 3) name += " " + std::string(60 + pick(90), "abcdefghij"[pick(10)]);
            path = folders[parent].path + "/" + name;
            if (search::utf16_length(path) <= 200 || figures.folders_longer_than_200 * 4 < i) break;
        }
        if (mkdir(path.c_str(), 0755) != 0) fail("cannot create folder " + path);
        folders.push_back({path, parent, folders[parent].depth + 1});
        const std::size_t length = search::utf16_length(path);
        figures.folders_longer_than_200 += length > 200;
        figures.folders_longer_than_260 += length > 260;
    }
    figures.folders = folders.size() - 1;

    for (std::size_t i = 0; i < shape.files; ++i) {
        const Folder& folder = folders[pick(folders.size())];
        std::string name = (i % 7 == 0 ? ".hidden " : "file ") + std::to_string(i);
        if (i % 5 == 0) name += ", copy";
        if (i % 11 == 0) name += " é";
        name += i % 3 == 0 ? ".txt" : ".dat";
        const std::string path = folder.path + "/" + name;
        const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (file < 0) fail("cannot create file " + path);
        close(file);
    }
    figures.files = shape.files;

    for (std::size_t i = 0; i < shape.folder_links && folders.size() > 2; ++i) {
        const Folder& from = folders[1 + pick(folders.size() - 1)];
        // The first link leads back to the root, an ancestor of every folder.
        const std::string target = i == 0 ? root : folders[1 + pick(folders.size() - 1)].path;
        const std::string link = from.path + "/link " + std::to_string(i);
        if (symlink(target.c_str(), link.c_str()) != 0) fail("cannot create link " + link);
        ++figures.links;
    }
    return figures;
}

}  // namespace kestrafin::tools

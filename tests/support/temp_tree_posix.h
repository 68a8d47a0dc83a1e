// Real folder trees in temporary folders, for tests on POSIX hosts. Deep trees
// are built and removed relative to descriptors, so paths longer than the
// host's limit work.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/temp_folder.h"

namespace kestrafin::testing {

using tools::check;
using tools::make_file;
using tools::TempFolder;

inline void make_folder(const std::string& path) {
    check(mkdir(path.c_str(), 0755) == 0, "mkdir " + path);
}

inline void make_link(const std::string& target, const std::string& path) {
    check(symlink(target.c_str(), path.c_str()) == 0, "symlink " + path);
}

// Creates base/n1/n2/... relative to descriptors, puts `files` into the last
// folder, and returns the last folder's full path.
inline std::string make_folder_chain(const std::string& base, const std::vector<std::string>& names,
                                     const std::vector<std::string>& files = {}) {
    int folder = open(base.c_str(), O_RDONLY | O_DIRECTORY);
    check(folder >= 0, "open " + base);
    std::string path = base;
    for (const auto& name : names) {
        if (mkdirat(folder, name.c_str(), 0755) != 0 && errno != EEXIST)
            check(false, "mkdirat " + name);
        const int child = openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY);
        check(child >= 0, "openat " + name);
        close(folder);
        folder = child;
        path += "/" + name;
    }
    for (const auto& file : files) {
        const int handle = openat(folder, file.c_str(), O_WRONLY | O_CREAT, 0644);
        check(handle >= 0, "create " + file);
        close(handle);
    }
    close(folder);
    return path;
}

inline std::string read_bytes(const std::string& path) {
    std::string content;
    const int file = open(path.c_str(), O_RDONLY);
    if (file < 0) return content;
    char block[65536];
    ssize_t got = 0;
    while ((got = read(file, block, sizeof block)) > 0)
        content.append(block, static_cast<std::size_t>(got));
    close(file);
    return content;
}

// Switches the effective user to "nobody" while alive when the tests run as
// root, so that missing rights take effect. Only for single-threaded moments:
// the switch holds for the whole process.
struct AsOrdinaryUser {
    AsOrdinaryUser() {
        if (geteuid() == 0) was_root = seteuid(65534) == 0;
    }
    ~AsOrdinaryUser() {
        if (was_root && seteuid(0) != 0) std::abort();
    }
    AsOrdinaryUser(const AsOrdinaryUser&) = delete;
    AsOrdinaryUser& operator=(const AsOrdinaryUser&) = delete;
    bool was_root = false;
};

}  // namespace kestrafin::testing

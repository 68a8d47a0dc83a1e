// Real folder trees in temporary folders, for tests on POSIX hosts. Deep trees
// are built and removed relative to descriptors, so paths longer than the
// host's limit work.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrafin::testing {

inline void check(bool ok, const std::string& what) {
    if (!ok) throw std::runtime_error(what + ": " + std::to_string(errno));
}

// The names in the folder open as `folder`, "." and ".." left out.
inline std::vector<std::string> names_in(int folder) {
    std::vector<std::string> names;
    DIR* listing = fdopendir(dup(folder));
    if (listing == nullptr) return names;
    rewinddir(listing);  // the duplicate shares its position with `folder`, read before
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(listing);
    return names;
}

inline bool is_folder_at(int folder, const std::string& name) {
    struct stat info {};
    return fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
}

// Removes the content of the folder open as `top` with two descriptors and
// no recursion, whatever the tree's depth: the subfolders of each folder in
// `top` are moved up into `top` before the folder is removed.
inline void remove_content(int top) {
    unsigned long moved = 0;
    for (bool progress = true; progress;) {
        progress = false;
        for (const auto& name : names_in(top)) {
            if (!is_folder_at(top, name)) {
                progress |= unlinkat(top, name.c_str(), 0) == 0;
                continue;
            }
            fchmodat(top, name.c_str(), 0700, 0);
            const int folder = openat(top, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
            if (folder >= 0) {
                for (const auto& inner : names_in(folder)) {
                    if (!is_folder_at(folder, inner)) {
                        unlinkat(folder, inner.c_str(), 0);
                        continue;
                    }
                    std::string flat;
                    do {
                        flat = ".flat-" + std::to_string(moved++);
                    } while (faccessat(top, flat.c_str(), F_OK, AT_SYMLINK_NOFOLLOW) == 0);
                    renameat(folder, inner.c_str(), top, flat.c_str());
                }
                close(folder);
            }
            progress |= unlinkat(top, name.c_str(), AT_REMOVEDIR) == 0;
        }
    }
}

inline void remove_tree(const std::string& path) {
    chmod(path.c_str(), 0700);
    const int folder = open(path.c_str(), O_RDONLY | O_DIRECTORY);
    if (folder >= 0) {
        remove_content(folder);
        close(folder);
    }
    rmdir(path.c_str());
}

class TempFolder {
  public:
    // In /tmp, or in the folder `under` (another file system, say).
    explicit TempFolder(const std::string& under = "/tmp") {
        std::string pattern = under + "/kestrafin-test.XXXXXX";
        check(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
        path_ = pattern;
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder() { remove_tree(path_); }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline void make_file(const std::string& path, const std::string& content = {}) {
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    check(file >= 0, "create " + path);
    check(write(file, content.data(), content.size()) == static_cast<ssize_t>(content.size()),
          "write " + path);
    close(file);
}

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

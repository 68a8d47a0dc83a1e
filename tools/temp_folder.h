// A temporary folder that takes what it holds with it, however deep, and
// files made in it, for the tools and the tests on POSIX hosts. Folders are
// removed relative to descriptors, so paths longer than the host's limit go
// too. Each throws std::runtime_error when the host refuses.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrafin::tools {

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

}  // namespace kestrafin::tools

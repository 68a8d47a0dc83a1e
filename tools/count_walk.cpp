// kestrafin-count-walk ROOT: the bare walk the scanner is measured against.
// It opens each folder relative to its parent, reads it with getdents64 in
// large blocks, counts the entries that are no folders and follows no links.
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

struct Dirent64 {
    unsigned long long d_ino;
    long long d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

constexpr int kDirectoryType = 4;
unsigned long long files = 0;
char block[32 * 1024];

void walk(int folder) {
    // Subfolder names are gathered first, since the block is shared by all levels.
    char names[64 * 1024];
    std::size_t used = 0;
    for (;;) {
        const long got = syscall(SYS_getdents64, folder, block, sizeof block);
        if (got <= 0) break;
        for (long at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const Dirent64*>(block + at);
            at += entry->d_reclen;
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
            if (entry->d_type != kDirectoryType) {
                ++files;
                continue;
            }
            const std::size_t length = std::strlen(name) + 1;
            if (used + length <= sizeof names) {
                std::memcpy(names + used, name, length);
                used += length;
            }
        }
    }
    for (std::size_t at = 0; at < used; at += std::strlen(names + at) + 1) {
        const int child = openat(folder, names + at, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (child < 0) continue;
        walk(child);
        close(child);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::puts(
            "usage: kestrafin-count-walk ROOT\nCounts the entries that are no folders below ROOT.");
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: kestrafin-count-walk ROOT\n");
        return 2;
    }
    const int root = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) {
        std::perror(argv[1]);
        return 2;
    }
    walk(root);
    std::printf("%llu\n", files);
    return 0;
}

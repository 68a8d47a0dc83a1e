// Figures for the two file formats, each next to a plain write and read of
// the same number of bytes on the same disk: kestrafin-codec-bench [FOLDER]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "listfile/saved_list.h"
#include "platform/files.h"
#include "settings/ini_file.h"

namespace {

// The median of five runs of `work`.
double seconds_of(const std::function<void()>& work) {
    std::vector<double> runs;
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        runs.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(runs.begin(), runs.end());
    return runs[2];
}

void report(const char* what, double seconds, const char* peer, double peer_seconds) {
    std::printf("%-34s %8.3f s   %5.2f x %s (%.3f s)\n", what, seconds, seconds / peer_seconds,
                peer, peer_seconds);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kestrafin;
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::puts(
            "usage: kestrafin-codec-bench [FOLDER]\n"
            "Times the settings file and the saved list format in FOLDER (default /tmp).");
        return 0;
    }
    const std::string folder = argc > 1 ? argv[1] : "/tmp";

    // A settings file of 100,000 blank lines with the key in the middle.
    std::string blank_lines = "[PATH]\r\n";
    for (int i = 0; i < 50'000; ++i) blank_lines += "\r\n";
    blank_lines += "FULLPATH=old\r\n";
    for (int i = 0; i < 50'000; ++i) blank_lines += "\r\n";
    const std::string ini = folder + "/bench.ini";
    const double ini_copy = seconds_of([&] {
        platform::replace_file(ini, blank_lines, "file");
        (void)platform::read_file(ini, "file");
        platform::replace_file(ini, blank_lines, "file");
    });
    const double ini_write = seconds_of([&] {
        platform::replace_file(ini, blank_lines, "file");
        Kestrafin_Lib::writeini(ini, "PATH", "FULLPATH", "/new root");
    });
    std::printf("settings file of 100,000 blank lines (%zu bytes)\n", blank_lines.size());
    report("  put in place, then writeini", ini_write, "put in place, read, rewrite", ini_copy);

    // A saved list of one million entries.
    std::string encoded;
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < 1'000'000; ++i)
        texts.push_back("/srv/share/projects/a long folder name, with a comma/" +
                        std::to_string(i) + " report.txt");
    for (const auto& text : texts) listfile::append_record(encoded, text);
    const std::string list = folder + "/bench.dxb";
    const double plain_write = seconds_of([&] { platform::replace_file(list, encoded, "file"); });
    const double plain_read = seconds_of([&] { (void)platform::read_file(list, "file"); });
    const double save = seconds_of([&] {
        listfile::save_list(list, [&](const auto& add) {
            for (const auto& text : texts) add(text);
        });
    });
    std::size_t loaded = 0;
    const double load = seconds_of([&] {
        loaded = 0;
        listfile::load_list(list, [&](std::string_view) { ++loaded; });
    });
    std::printf("saved list of %zu entries (%zu bytes)\n", loaded, encoded.size());
    report("  save_list", save, "writing its bytes", plain_write);
    report("  load_list", load, "reading its bytes", plain_read);
    std::remove(ini.c_str());
    std::remove(list.c_str());
    return 0;
}

// Real folder trees in temporary folders, for tests on Windows. Every path goes
// to the system with the "\\?\" prefix, so trees past 260 characters work.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "tests/support/windows_temp_folder.h"

namespace kestrafin::testing {

using TempFolder = WindowsTempFolder;

inline void check(bool ok, const std::string& what) {
    if (!ok) throw std::runtime_error(what);
}

inline void make_file(const std::string& path, const std::string& content = {}) {
    make_windows_file(path, content);
}

inline void make_folder(const std::string& path) {
    std::error_code error;
    check(std::filesystem::create_directory(long_form(path), error) && !error,
          "mkdir " + path + ": " + error.message());
}

// Creates base\n1\n2\... , puts `files` into the last folder, and returns the
// last folder's full path.
inline std::string make_folder_chain(const std::string& base, const std::vector<std::string>& names,
                                     const std::vector<std::string>& files = {}) {
    std::string path = base;
    for (const auto& name : names) {
        path += "\\" + name;
        std::error_code error;
        std::filesystem::create_directory(long_form(path), error);
        check(!error, "mkdir " + path + ": " + error.message());
    }
    for (const auto& file : files) make_file(path + "\\" + file);
    return path;
}

// The file's bytes; empty when it cannot be read.
inline std::string read_bytes(const std::string& path) {
    std::ifstream file(long_form(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace kestrafin::testing

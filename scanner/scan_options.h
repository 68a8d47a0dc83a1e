// The command line of kestrafin-scan.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace kestrafin::scanner {

struct ScanOptions {
    std::string root;
    std::size_t longer_than = 200;
    bool null_terminated = false;
    std::optional<std::string> list_file;
    bool count_only = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

// Reads the arguments after the program name. Raises std::invalid_argument
// with a message for the user on a usage error.
ScanOptions parse_scan_options(const std::vector<std::string>& arguments);

extern const char* const kScanUsage;

}  // namespace kestrafin::scanner

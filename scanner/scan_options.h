// The command line of kestrafin-scan.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "scan/request.h"
#include "scan/rules/check_profiles.h"
#include "scan/sinks/entry_format.h"

namespace kestrafin::scanner {

struct ScanOptions {
    // The root, the rules (without any given, the window's: a folder path
    // longer than 200; the profiles' length rules merged in), exclusions,
    // target prefix, threads and how links and volumes are walked.
    scan::ScanRequest request;
    bool print_target = false;
    scan::OutputFormat format = scan::OutputFormat::lines;
    bool summary = false;
    bool null_terminated = false;
    std::optional<std::string> list_file;
    bool count_only = false;
    bool quiet = false;
    bool verbose = false;
    bool help = false;
    bool version = false;
};

// Reads the arguments after the program name. Raises std::invalid_argument
// with a message for the user on a usage error.
ScanOptions parse_scan_options(const std::vector<std::string>& arguments);

extern const char* const kScanUsage;

}  // namespace kestrafin::scanner

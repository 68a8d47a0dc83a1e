// The command line of kestrafin-scan.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "scan/request.h"
#include "scan/rules/check_profiles.h"
#include "scan/sinks/entry_format.h"
#include "scanner/volume_source.h"

namespace kestrafin::scanner {

struct ScanOptions {
    // The root, the rules (without any given, the window's: a folder path
    // longer than 200; the profiles' length rules merged in), exclusions,
    // target prefix, threads and how links and volumes are walked.
    scan::ScanRequest request;
    // The roots given, in order, then those of the roots file; request.root
    // is the first of them (the system's root when none is given).
    std::vector<std::string> roots;
    std::optional<std::string> roots_file;
    // Where the record goes, its placeholders not yet replaced.
    std::optional<std::string> record_file;
    bool print_target = false;
    scan::OutputFormat format = scan::OutputFormat::lines;
    bool summary = false;
    bool null_terminated = false;
    std::optional<std::string> list_file;
    bool count_only = false;
    // Where the roots' events come from (--source, --volume, --volume-root).
    VolumeChoice volume;
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

// The command line of kestrafin-scan.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "scan/rules/check_profiles.h"
#include "scan/sinks/entry_format.h"
#include "scan/rules/length_rules.h"
#include "search/searchfiles.h"

namespace kestrafin::scanner {

using namespace scan;

struct ScanOptions {
    std::string root;
    // Without any rule given, the window's: a folder path longer than 200.
    LengthRules rules;
    // The destinations checked for (--check); their length rules are merged
    // into `rules`.
    std::vector<const CheckProfile*> checks;
    // Glob patterns of names, or of paths below the root, left out (--exclude).
    std::vector<std::string> excludes;
    std::optional<std::string> target_prefix;
    bool print_target = false;
    OutputFormat format = OutputFormat::lines;
    bool summary = false;
    bool null_terminated = false;
    std::optional<std::string> list_file;
    bool count_only = false;
    std::size_t threads = search::kDefaultThreads;
    bool no_follow = false;         // --no-follow: links to folders are not entered
    bool one_file_system = false;   // -x: folders on other volumes are not entered
    bool include_offline = false;   // --include-offline: cloud folders are read
    bool quiet = false;
    bool verbose = false;
    bool help = false;
    bool version = false;
};

// Reads the arguments after the program name. Raises std::invalid_argument
// with a message for the user on a usage error.
ScanOptions parse_scan_options(const std::vector<std::string>& arguments);

// True when some rule or figure needs every file the walk reads, not only
// those of folders whose own path is long.
bool needs_every_file(const ScanOptions& options);

extern const char* const kScanUsage;

}  // namespace kestrafin::scanner

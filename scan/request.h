// What a scan is asked to do: the root, the rules its entries are judged by,
// and how the walk goes. Both programs build one; nothing here writes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "scan/rules/check_profiles.h"
#include "scan/rules/length_rules.h"
#include "search/searchfiles.h"

namespace kestrafin::scan {

struct ScanRequest {
    std::string root;
    // An entry is listed when it breaks any rule. Without a length rule, the
    // window's: a folder path longer than 200 (effective_rules).
    LengthRules rules;
    // The destinations checked for; their length rules are merged into
    // `rules` by whoever builds the request.
    std::vector<const CheckProfile*> checks;
    // Glob patterns of names, or of paths below the root, left out.
    std::vector<std::string> excludes;
    // Where the tree is going: lengths are measured there.
    std::optional<std::string> target_prefix;
    // Threads that read folders, the walk's own included.
    std::size_t threads = search::kDefaultThreads;
    bool follow_links = true;      // links to folders are entered
    bool one_file_system = false;  // folders on other volumes are not
    bool include_offline = false;  // folders in the cloud are read, which fetches them
};

// The length rules a scan applies: the request's, or the default one.
LengthRules effective_rules(const ScanRequest& request);

}  // namespace kestrafin::scan

// One entry a scan lists, as every sink receives it: a file, a folder or a
// link to a folder that breaks a rule, or a folder that could not be read.
#pragma once

#include <string_view>

#include "scan/reasons.h"
#include "scan/rules/length_rules.h"

namespace kestrafin::scan {

// A link is a link to a folder; an error is a folder the walk could not read.
enum class EntryKind { file, folder, link, error };

// Texts are valid only during the call that hands the entry on.
struct Entry {
    std::string_view path;
    // Known only where a rule or a sink needs them (Sink::needs_lengths).
    EntryLengths lengths;
    // Its path at the destination; empty without a target prefix.
    std::string_view target_path;
    EntryKind kind = EntryKind::file;
    Reasons reasons;
    std::string_view error;  // the host's words, for an error
};

}  // namespace kestrafin::scan

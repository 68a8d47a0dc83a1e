// One scan as kestrafin-scan runs it: the roots walked (root_runs.h), their
// entries written as the options ask, the summary or count of each root and
// of all, the record, and the exit status, the worst of the roots'.
#pragma once

#include "scanner/scan_options.h"

namespace kestrafin::scanner {

inline constexpr int kUsage = 2;

// Raises std::system_error when an output cannot be written.
int run_scan(const ScanOptions& options, const char* version);

}  // namespace kestrafin::scanner

// `kestrafin-scan diff OLD NEW`: what changed between two scan records, for
// people (lines), spreadsheets (CSV), scripts (JSON lines) or as counts per
// root and folder where to act (--summary). The exit status lets a
// scheduled check fail on new long paths: 0 when nothing is new, 1 when
// something is, 2 when a record is refused, the records' rules differ
// without --rules-may-differ, or the command line is wrong.
#pragma once

#include <string>
#include <vector>

namespace kestrafin::scanner {

extern const char* const kDiffUsage;

// Runs the diff with the arguments after "diff", writing to standard output
// and its messages to standard error; returns the exit status.
int run_diff(const std::vector<std::string>& arguments);

}  // namespace kestrafin::scanner

// `kestrafin-scan report RECORD... -o FILE.html`: reads scan records and
// writes their report (scan/report/html_report.h), replacing FILE safely so
// that it is whole or untouched. A record the reader refuses stops it with
// the file and the line named, and nothing is written; records scanned with
// other rules are reported all the same, with a note of which rules differ.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrafin::scanner {

extern const char* const kReportUsage;

struct ReportOptions {
    std::vector<std::string> records;
    std::string output;
    bool help = false;
};

// Parses the arguments after "report". Raises std::invalid_argument with
// what is wrong.
ReportOptions parse_report_options(const std::vector<std::string>& arguments);

// Runs the command on the arguments after "report" and gives the exit
// status: 0 when the report is written, 2 when it is not (with the reason on
// the standard error).
int run_report_command(const std::vector<std::string>& arguments, std::string_view version);

}  // namespace kestrafin::scanner

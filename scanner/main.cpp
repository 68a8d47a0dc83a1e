// kestrafin-scan: the long-path search from the command line, for servers,
// file shares and scripts. It scans as the window's "Search" does and writes
// one entry per line, streaming, so its memory does not grow with the result.
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>

#include "platform/files.h"
#include "platform/process.h"
#include "scan/sinks/terminal_quote.h"
#include "scan/sinks/text_output.h"
#include "scanner/diff_command.h"
#include "scanner/report_command.h"
#include "scanner/scan_options.h"
#include "scanner/scan_run.h"

#ifndef KESTRAFIN_VERSION
#define KESTRAFIN_VERSION "unknown"
#endif

using namespace kestrafin;
using scanner::kUsage;

int main(int argc, char** argv) {
    platform::load_libraries_from_the_system_only();
    platform::keep_standard_streams_open();
    const std::vector<std::string> arguments = platform::program_arguments(argc, argv);
    if (!arguments.empty() && arguments.front() == "diff")
        return scanner::run_diff({arguments.begin() + 1, arguments.end()});
    if (!arguments.empty() && arguments.front() == "report")
        return scanner::run_report_command({arguments.begin() + 1, arguments.end()},
                                           KESTRAFIN_VERSION);
    scanner::ScanOptions options;
    try {
        options = scanner::parse_scan_options(arguments);
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "kestrafin-scan: %s\nTry 'kestrafin-scan --help'.\n",
                     scan::printable_text(error.what()).c_str());
        return kUsage;
    }
    try {
        // Written as the entries are, so that a full disk or a closed pipe is
        // an error here too.
        if (options.help) {
            scan::write_output(platform::kStandardOutput, scanner::kScanUsage);
            return 0;
        }
        if (options.version) {
            scan::write_output(platform::kStandardOutput,
                               std::string("kestrafin-scan ") + KESTRAFIN_VERSION + "\n");
            return 0;
        }
        return scanner::run_scan(options, KESTRAFIN_VERSION);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kestrafin-scan: %s\n",
                     scan::printable_text(platform::failure_text(error)).c_str());
        return kUsage;
    }
}

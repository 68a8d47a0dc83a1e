// kestrafin-scan: the long-path search from the command line, for servers,
// file shares and scripts. It scans as the window's "Search" does and writes
// one entry per line, streaming, so its memory does not grow with the result.
#include <cstdio>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "scan/scan.h"
#include "scan/sinks/count_output.h"
#include "scan/sinks/saved_list_output.h"
#include "scan/sinks/summary.h"
#include "scan/sinks/terminal_quote.h"
#include "scan/sinks/text_output.h"
#include "scanner/diff_command.h"
#include "scanner/report_command.h"
#include "scanner/scan_messages.h"
#include "scanner/scan_options.h"
#include "search/path_text.h"

#ifndef KESTRAFIN_VERSION
#define KESTRAFIN_VERSION "unknown"
#endif

namespace {

using namespace kestrafin;

int exit_status(scan::ScanEnd end) {
    switch (end) {
        case scan::ScanEnd::complete:
            return 0;
        case scan::ScanEnd::incomplete:
            return 1;
        case scan::ScanEnd::root_not_walked:
            return 2;
    }
    return 2;
}
constexpr int kUsage = 2;

int run(const scanner::ScanOptions& options) {
    const int output = platform::kStandardOutput;
    const int errors = platform::kStandardError;
    scanner::ScanMessages messages(errors, options.quiet, options.verbose);
    std::optional<scan::TextOutput> text;
    std::optional<scan::SavedListOutput> list;
    std::optional<scan::CountOutput> count;
    std::optional<scan::SummaryOutput> summary;
    std::vector<scan::Sink*> sinks;
    if (options.list_file)
        sinks.push_back(&list.emplace(*options.list_file));
    else if (!options.count_only)
        sinks.push_back(&text.emplace(
            options.format, options.null_terminated, options.request.target_prefix.has_value(),
            options.print_target, output, [&](const std::string& note) { messages.warn(note); }));
    // With --summary the summary is the count's place.
    if (options.count_only && !options.summary) sinks.push_back(&count.emplace(output));
    if (options.summary)
        sinks.push_back(&summary.emplace(scan::effective_rules(options.request),
                                         search::addslash(options.request.root),
                                         options.print_target));
    sinks.push_back(&messages);
    scan::Sinks all(std::move(sinks));
    scan::Scan scan(options.request, all);
    scan.run();
    const scan::ScanReport& report = scan.report();
    // Nothing is written when the root cannot be walked, so an old list
    // file stays.
    if (report.end() == scan::ScanEnd::root_not_walked) return exit_status(report.end());
    messages.clear_progress();
    if (list) list->finish();
    if (text) text->finish();
    if (count) count->finish(report);
    // With --count the summary is the output.
    if (summary)
        scan::write_output(
            options.count_only ? output : errors,
            summary->render(report, options.count_only ? output : errors),
            options.count_only ? "cannot write the output" : "cannot write the summary");
    messages.say_declined(report);
    if (report.out_of_memory)
        std::fputs("kestrafin-scan: out of memory; what was found before is written\n", stderr);
    return exit_status(report.end());
}

}  // namespace

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
        return run(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kestrafin-scan: %s\n",
                     scan::printable_text(platform::failure_text(error)).c_str());
        return kUsage;
    }
}

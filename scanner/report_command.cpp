#include "scanner/report_command.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

#include "platform/files.h"
#include "platform/process.h"
#include "scan/record/record_diff.h"
#include "scan/record/record_reader.h"
#include "scan/report/html_report.h"
#include "scan/report/report_model.h"
#include "scan/sinks/terminal_quote.h"
#include "scan/sinks/text_output.h"

namespace kestrafin::scanner {

const char* const kReportUsage =
    "Usage: kestrafin-scan report RECORD... -o FILE.html\n"
    "Writes one HTML page of the scan records given (--record): per root and in\n"
    "total the entries by reason, the lengths of their paths and the folders\n"
    "where to act; for records of the same host and roots, the entries left scan\n"
    "by scan and what the latest scan fixed and found new since the one before.\n"
    "The page loads nothing and runs no script: it reads the same mailed, opened\n"
    "from a share or printed.\n"
    "\n"
    "  -o, --output FILE  the page to write (replaced whole, or left as it was)\n"
    "  -h, --help         this text\n"
    "\n"
    "Exit status: 0 written; 2 a record refused, the page not written, or a\n"
    "wrong option.\n";

namespace {

constexpr int kFailed = 2;

void say(const std::string& message) {
    std::fprintf(stderr, "kestrafin-scan: %s\n", scan::printable_text(message).c_str());
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : ", ") + word;
    return text;
}

// Reads every record, as many at once as the machine has cores, and gives
// them in the order named; raises the fault of the first unsound one named.
std::vector<scan::report::RecordFigures> read_records(const std::vector<std::string>& files) {
    std::vector<std::optional<scan::report::RecordFigures>> read(files.size());
    std::vector<std::exception_ptr> faults(files.size());
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    const auto reader = [&] {
        for (std::size_t at; !failed && (at = next++) < files.size();) {
            try {
                scan::report::RecordCollector collector(files[at]);
                scan::record::read_record(files[at], collector);
                read[at] = collector.take();
            } catch (...) {
                faults[at] = std::current_exception();
                failed = true;
            }
        }
    };
    const std::size_t helpers =
        std::min<std::size_t>(files.size(), std::max(1u, std::thread::hardware_concurrency())) - 1;
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < helpers; ++i) threads.emplace_back(reader);
    reader();
    for (std::thread& thread : threads) thread.join();
    std::vector<scan::report::RecordFigures> records;
    // Records are taken in order, so every one before the first fault was
    // read whole; a fault stops the readers from taking more.
    for (std::size_t at = 0; at < files.size(); ++at) {
        if (faults[at]) std::rethrow_exception(faults[at]);
        records.push_back(std::move(*read[at]));
    }
    return records;
}

}  // namespace

namespace {

// Whether the two names lead to one file: also through another spelling, a
// link or a second name, which the report would otherwise write over.
bool same_file(const std::string& one, const std::string& other) {
    if (one == other) return true;
    const auto path = [](const std::string& name) {
        return std::filesystem::path(std::u8string(name.begin(), name.end()));
    };
    std::error_code error;
    return std::filesystem::equivalent(path(one), path(other), error) && !error;
}

}  // namespace

ReportOptions parse_report_options(const std::vector<std::string>& arguments) {
    ReportOptions options;
    bool output_given = false;
    bool options_end = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (options_end || argument.empty() || argument[0] != '-' || argument == "-") {
            options.records.push_back(argument);
        } else if (argument == "--") {
            options_end = true;
        } else if (argument == "-h" || argument == "--help") {
            options.help = true;
        } else if (argument == "-o" || argument == "--output" ||
                   argument.starts_with("--output=")) {
            if (output_given) throw std::invalid_argument("report: -o given twice");
            if (argument.starts_with("--output=")) {
                options.output = argument.substr(9);
            } else {
                if (i + 1 == arguments.size())
                    throw std::invalid_argument("report: " + argument + " needs a file");
                options.output = arguments[++i];
            }
            output_given = true;
            if (options.output.empty())
                throw std::invalid_argument("report: the output file's name is empty");
        } else {
            throw std::invalid_argument("report: unknown option " + argument);
        }
    }
    if (options.help) return options;
    if (!output_given) throw std::invalid_argument("report: no output file: give -o FILE.html");
    if (options.records.empty()) throw std::invalid_argument("report: no record given");
    for (const std::string& record : options.records)
        if (same_file(record, options.output))
            throw std::invalid_argument("report: the output " + options.output +
                                        " is one of the records");
    return options;
}

int run_report_command(const std::vector<std::string>& arguments, std::string_view version) {
    ReportOptions options;
    try {
        options = parse_report_options(arguments);
    } catch (const std::invalid_argument& error) {
        say(error.what());
        std::fputs("Try 'kestrafin-scan report --help'.\n", stderr);
        return kFailed;
    }
    try {
        if (options.help) {
            scan::write_output(platform::kStandardOutput, kReportUsage);
            return 0;
        }
        scan::report::ReportBuilder builder;
        for (scan::report::RecordFigures& record : read_records(options.records))
            builder.add(std::move(record));
        // The latest two records of a series are read again by the diff,
        // which holds their entries compactly while it compares them.
        const auto diff_of = [](const scan::report::RecordFigures& older,
                                const scan::report::RecordFigures& newer) {
            const scan::record::RecordDiff diff(older.file, newer.file);
            std::vector<scan::report::RootDiff> roots;
            for (const scan::record::RootChanges& root : diff.summary())
                roots.push_back({root.root, {root.fixed, root.added}});
            return roots;
        };
        const scan::report::ReportModel model = builder.build(diff_of);
        const auto tell = [](const scan::report::RulesNote& note) {
            say("note: " + note.file + " was scanned with other rules than " + note.other_file +
                ": " + joined(note.rules));
        };
        for (const auto& note : model.notes) tell(note);
        for (const auto& series : model.series)
            for (const auto& note : series.notes) tell(note);
        platform::replace_file(options.output, scan::report::html_report(model, version), "report");
        return 0;
    } catch (const std::exception& error) {
        say(platform::failure_text(error));
        return kFailed;
    }
}

}  // namespace kestrafin::scanner

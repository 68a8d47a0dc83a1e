#include "scanner/scan_run.h"

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/files.h"
#include "platform/host.h"
#include "platform/process.h"
#include "scan/sinks/count_output.h"
#include "scan/sinks/record_output.h"
#include "scan/sinks/saved_list_output.h"
#include "scan/sinks/summary.h"
#include "scan/sinks/terminal_quote.h"
#include "scan/sinks/text_output.h"
#include "scanner/root_runs.h"
#include "scanner/scan_messages.h"

namespace kestrafin::scanner {

namespace {

using std::chrono::system_clock;

std::int64_t seconds_now() {
    return std::chrono::duration_cast<std::chrono::seconds>(system_clock::now().time_since_epoch())
        .count();
}

struct RootResult {
    std::size_t index;  // in the roots
    scan::ScanReport report;
    scan::ScanSummary summary;
};

// Every root's entries to the outputs, in the roots' order; what each root
// ended with kept for the figures written once all have.
class Outputs : public RootOutputs {
  public:
    Outputs(const std::vector<std::string>& roots, scan::Sink& sink, scan::RecordOutput* record)
        : roots_(roots), sink_(sink), record_(record) {}

    scan::Sink& sink() override { return sink_; }
    void root_begins(std::size_t index) override {
        if (record_ != nullptr) record_->root_begins(roots_[index]);
    }
    void root_ends(std::size_t index, const scan::ScanReport& report,
                   const scan::ScanSummary& summary) override {
        if (record_ != nullptr) record_->root_ends(report, summary);
        results.push_back({index, report, summary});
    }

    std::vector<RootResult> results;

  private:
    const std::vector<std::string>& roots_;
    scan::Sink& sink_;
    scan::RecordOutput* record_;
};

std::string summaries_text(const ScanOptions& options, const std::vector<std::string>& roots,
                           const std::vector<RootResult>& results, int descriptor) {
    const bool terminal = platform::stream_is_terminal(descriptor);
    const std::size_t width = terminal ? scan::terminal_width(descriptor) : 80;
    // Which source, where the user let the scan choose or chose the volume.
    const auto source = [&](const RootResult& result) -> std::string {
        if (options.volume.source == SourceChoice::walk) return {};
        return result.report.volume.empty()
                   ? std::string("Source: a walk\n")
                   : "Source: the volume's table (" + result.report.volume + ")\n";
    };
    const auto one = [&](const RootResult& result) {
        return source(result) + (result.report.backup_rights ? "read with backup rights\n" : "") +
               result.summary.render(result.report.folders_read(), result.report.unreadable(),
                                     terminal, width);
    };
    if (roots.size() == 1 && results.size() == 1) return one(results.front());
    std::string text;
    scan::ScanSummary total(scan::effective_rules(options.request));
    std::size_t folders = 0, unreadable = 0;
    for (const RootResult& result : results) {
        const std::string& root = roots[result.index];
        text += "root " + (terminal ? scan::quoted_for_terminal(root) : root) + ":\n" + one(result);
        total.add(result.summary);
        folders += result.report.folders_read();
        unreadable += result.report.unreadable();
    }
    text += "all " + std::to_string(results.size()) + " roots:\n" +
            total.render(folders, unreadable, terminal, width);
    return text;
}

std::string count_text(const std::vector<std::string>& roots,
                       const std::vector<RootResult>& results, int descriptor) {
    // No root's name steers a terminal.
    const bool terminal = platform::stream_is_terminal(descriptor);
    std::size_t total = 0;
    std::string text;
    for (const RootResult& result : results) {
        total += result.report.entries();
        if (roots.size() > 1)
            text +=
                std::to_string(result.report.entries()) + " records found in " +
                (terminal ? scan::quoted_for_terminal(roots[result.index]) : roots[result.index]) +
                "\n";
    }
    return text + std::to_string(total) + " records found\n";
}

}  // namespace

int run_scan(const ScanOptions& options, const char* version) {
    const int output = platform::kStandardOutput;
    const int errors = platform::kStandardError;
    std::vector<std::string> roots = options.roots;
    if (options.roots_file) {
        const std::vector<std::string> listed = read_roots_file(*options.roots_file);
        roots.insert(roots.end(), listed.begin(), listed.end());
        if (roots.empty()) {
            std::fputs("kestrafin-scan: the roots file names no root\n", stderr);
            return kUsage;
        }
    }
    std::vector<std::string> repeated;
    roots = distinct_roots(roots, repeated);
    for (const std::string& root : repeated)
        if (!options.quiet)
            std::fprintf(stderr,
                         "kestrafin-scan: '%s' is given more than once; it is walked once\n",
                         scan::printable_text(root).c_str());
    scan::ScanRequest request = options.request;
    request.root = roots.front();

    const std::int64_t started = seconds_now();
    const auto clock_start = std::chrono::steady_clock::now();
    std::optional<scan::RecordOutput> record;
    if (options.record_file) {
        const std::string host = platform::host_name();
        const std::string path =
            scan::expand_record_name(*options.record_file, {host, started, roots});
        try {
            record.emplace(
                path, request,
                scan::RecordedScan{scan::new_scan_id(), version, host, platform::user_name(),
                                   scan::record_time(started), roots});
        } catch (const std::system_error& error) {
            // Before any walk: a scan whose record cannot be kept is not run.
            std::fprintf(stderr, "kestrafin-scan: %s\n",
                         scan::printable_text(platform::failure_text(error)).c_str());
            return kUsage;
        }
    }
    // A stopped scan still leaves its record whole.
    const std::atomic<bool>* stop = record ? &platform::stop_on_interruption() : nullptr;

    ScanMessages messages(errors, options.quiet, options.verbose);
    std::optional<scan::TextOutput> text;
    std::optional<scan::SavedListOutput> list;
    std::vector<scan::Sink*> sinks;
    if (options.list_file)
        sinks.push_back(&list.emplace(*options.list_file));
    else if (!options.count_only)
        sinks.push_back(&text.emplace(
            options.format, options.null_terminated, request.target_prefix.has_value(),
            options.print_target, output, [&](const std::string& note) { messages.warn(note); }));
    if (record) sinks.push_back(&*record);
    sinks.push_back(&messages);
    scan::Sinks all(std::move(sinks));

    Outputs outputs(roots, all, record ? &*record : nullptr);
    RootRunOptions run_options;
    run_options.summaries = options.summary;
    run_options.print_target = options.print_target;
    run_options.most_at_once = request.threads == 1 ? 1 : 8;
    VolumeSources sources(options.volume);
    if (options.volume.source != SourceChoice::walk) run_options.sources = &sources;
    run_roots(request, roots, run_options, outputs, stop);

    int status = 0;
    bool any_walked = false;
    bool out_of_memory = false;
    for (const RootResult& result : outputs.results) {
        const int root_status = scan::root_exit_status(scan::root_end(result.report));
        status = std::max(status, root_status);
        any_walked = any_walked || result.report.end() != scan::ScanEnd::root_not_walked;
        out_of_memory = out_of_memory || result.report.out_of_memory;
    }
    const bool stopped = stop != nullptr && stop->load();
    if (stopped) status = std::max(status, 1);
    if (record)
        record->finish(
            seconds_now(),
            std::chrono::duration<double>(std::chrono::steady_clock::now() - clock_start).count(),
            stopped, status);
    // Nothing is written when no root could be walked, so an old list file
    // stays.
    if (!any_walked) return status;
    messages.clear_progress();
    if (list) list->finish();
    if (text) text->finish();
    if (options.count_only && !options.summary)
        scan::write_output(output, count_text(roots, outputs.results, output));
    // With --count the summary is the output.
    if (options.summary) {
        const int to = options.count_only ? output : errors;
        scan::write_output(
            to, summaries_text(options, roots, outputs.results, to),
            options.count_only ? "cannot write the output" : "cannot write the summary");
    }
    for (const RootResult& result : outputs.results)
        messages.say_declined(result.report,
                              roots.size() > 1 ? std::string_view(roots[result.index]) : "");
    if (out_of_memory)
        std::fputs("kestrafin-scan: out of memory; what was found before is written\n", stderr);
    return status;
}

}  // namespace kestrafin::scanner

#include "scanner/scan_sink.h"

#include "platform/standard_stream.h"
#include "scanner/terminal_quote.h"

#include <cerrno>
#include <cstring>
#include <system_error>

namespace kestrafin::scanner {

namespace {

constexpr std::size_t kOutputBlock = 256 * 1024;

// Messages on standard error are best effort: a closed stream loses them.
void write_message(int descriptor, const std::string& line) {
    try {
        platform::write_stream(descriptor, line);
    } catch (const std::system_error&) {
    }
}

std::optional<TargetPrefix> target_of(const ScanOptions& options) {
    if (!options.target_prefix) return std::nullopt;
    return TargetPrefix(*options.target_prefix);
}

}  // namespace

void write_output(int descriptor, std::string_view bytes, const char* what) {
    try {
        platform::write_stream(descriptor, bytes);
    } catch (const std::system_error& error) {
        throw std::system_error(error.code(), what);
    }
}

ScanSink::ScanSink(const ScanOptions& options, int output, int errors)
    : options_(options),
      output_(output),
      errors_(errors),
      // Entries are escaped only for a person reading a terminal; pipes and
      // files get the names' bytes exactly.
      escape_entries_(!options.null_terminated && platform::stream_is_terminal(output)),
      progress_(errors, !options.quiet),
      judges_every_file_(needs_every_file(options)),
      needs_lengths_(judges_every_file_ || options.format != OutputFormat::lines),
      measure_(options.root, target_of(options)),
      format_(options.format, options.null_terminated, options.target_prefix.has_value(),
              options.print_target) {
    if (options_.list_file)
        list_ = std::make_unique<listfile::SavedListWriter>(*options_.list_file);
    if (options_.summary) summary_.emplace(options_.rules);
    buffer_.reserve(kOutputBlock + 8192);
    if (!list_ && !options_.count_only) buffer_ = format_.header();
}

void ScanSink::add_entry(std::string_view entry_text) {
    const EntryLengths lengths = needs_lengths_ ? measure_.measure(entry_text) : EntryLengths{};
    const Verdict verdict =
        judges_every_file_ ? judge(options_.rules, lengths) : Verdict{.by_folder = true};
    // The summary names paths as the output does, so it needs the target only
    // when the lines show it.
    const bool target_needed = options_.print_target
                                   ? verdict.qualifies() || summary_
                                   : verdict.qualifies() && options_.format != OutputFormat::lines;
    std::string target;
    if (measure_.has_target() && target_needed) target = measure_.target_path(entry_text);
    if (summary_) summary_->file_seen(options_.print_target ? target : entry_text, lengths.path);
    if (!verdict.qualifies()) return;
    if (summary_) summary_->entry_listed(verdict);
    write_entry(entry_text, lengths, target);
}

void ScanSink::write_entry(std::string_view entry_text, const EntryLengths& lengths,
                           std::string_view target) {
    ++entries_;
    if (list_) {
        list_->add(entry_text);
        return;
    }
    if (options_.count_only) return;
    const std::string_view shown = options_.print_target ? target : entry_text;
    // On a terminal the entry is escaped onto one line.
    if (options_.format == OutputFormat::lines && !options_.null_terminated && !escape_entries_ &&
        !warned_line_break_ && shown.find('\n') != std::string_view::npos) {
        warned_line_break_ = true;
        warn(
            "a name holds a line break, so one entry spans several lines; use -0 to end "
            "entries with NUL instead");
    }
    if (!escape_entries_) {
        format_.append(buffer_, entry_text, lengths, target);
    } else if (options_.format == OutputFormat::lines) {
        format_.append(buffer_, escaped_for_terminal(entry_text), lengths,
                       escaped_for_terminal(target));
    } else {
        // A record keeps its own line end; what stands before it is made printable.
        std::string record;
        format_.append(record, entry_text, lengths, target);
        std::size_t end = record.size();
        while (end > 0 && (record[end - 1] == '\n' || record[end - 1] == '\r')) --end;
        buffer_.append(printable_text(std::string_view(record).substr(0, end)));
        buffer_.append(record, end);
    }
    if (buffer_.size() >= kOutputBlock) flush_output();
}

void ScanSink::folder_unreadable(std::string_view directory, int error) {
    ++unreadable_;
    // Unreadable folders make the exit status 1 and are reported even when quiet.
    progress_.clear();
    const std::string line = "kestrafin-scan: cannot read " + quoted_for_terminal(directory) +
                             ": " + std::system_category().message(error) + "\n";
    write_message(errors_, line);
}

void ScanSink::cycle_skipped(std::string_view directory) {
    if (options_.verbose)
        warn("not entering " + quoted_for_terminal(directory) +
             ": it leads back to a folder that is being walked");
}

void ScanSink::link_web_skipped(std::string_view directory) {
    if (options_.verbose)
        warn("not entering " + quoted_for_terminal(directory) +
             ": its folder was already walked through a link");
}

void ScanSink::kernel_file_system_skipped(std::string_view directory) {
    // Said even without -v when it is the root, since then nothing at all is walked.
    if (options_.verbose || folders_read_ == 0)
        warn("not entering " + quoted_for_terminal(directory) +
             ": it lies on a kernel file system, which holds no user files");
}

void ScanSink::folder_done(std::string_view directory) {
    ++folders_read_;
    progress_.update(folders_read_, entries_, directory);
}

void ScanSink::warn(const std::string& text) {
    if (options_.quiet) return;
    progress_.clear();
    const std::string line = "kestrafin-scan: " + text + "\n";
    write_message(errors_, line);
}

void ScanSink::flush_output() {
    write_output(output_, buffer_, "cannot write the output");
    buffer_.clear();
}

void ScanSink::finish() {
    progress_.clear();
    if (list_) list_->commit();
    if (options_.count_only) {
        buffer_ =
            summary_ ? render_summary(output_) : std::to_string(entries_) + " records found\n";
        flush_output();
        return;
    }
    flush_output();
    if (summary_) write_output(errors_, render_summary(errors_), "cannot write the summary");
}

std::string ScanSink::render_summary(int destination) const {
    const bool terminal = platform::stream_is_terminal(destination);
    return summary_->render(folders_read_, unreadable_, terminal,
                            terminal ? terminal_width(destination) : 80);
}

}  // namespace kestrafin::scanner

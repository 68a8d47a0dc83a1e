#include "scanner/scan_sink.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace kestrafin::scanner {

namespace {

constexpr std::size_t kOutputBlock = 256 * 1024;

void write_all(int descriptor, std::string_view bytes, const char* what) {
    while (!bytes.empty()) {
        const ssize_t put = ::write(descriptor, bytes.data(), bytes.size());
        if (put < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), what);
        }
        bytes.remove_prefix(static_cast<std::size_t>(put));
    }
}

}  // namespace

ScanSink::ScanSink(const ScanOptions& options, int output, int errors)
    : options_(options), output_(output), errors_(errors), progress_(errors, !options.quiet) {
    if (options_.list_file)
        list_ = std::make_unique<listfile::SavedListWriter>(*options_.list_file);
    buffer_.reserve(kOutputBlock + 8192);
}

void ScanSink::add_entry(std::string_view entry_text) {
    ++entries_;
    if (list_) {
        list_->add(entry_text);
        return;
    }
    if (options_.count_only) return;
    if (!options_.null_terminated && !warned_line_break_ &&
        entry_text.find('\n') != std::string_view::npos) {
        warned_line_break_ = true;
        warn(
            "a name holds a line break, so one entry spans several lines; use -0 to end "
            "entries with NUL instead");
    }
    buffer_.append(entry_text);
    buffer_.push_back(options_.null_terminated ? '\0' : '\n');
    if (buffer_.size() >= kOutputBlock) flush_output();
}

void ScanSink::folder_unreadable(std::string_view directory, int error) {
    ++unreadable_;
    // Unreadable folders make the exit status 1 and are reported even when quiet.
    progress_.clear();
    const std::string line = "kestrafin-scan: cannot read '" + std::string(directory) +
                             "': " + std::strerror(error) + "\n";
    [[maybe_unused]] const auto written = ::write(errors_, line.data(), line.size());
}

void ScanSink::cycle_skipped(std::string_view directory) {
    warn("not entering '" + std::string(directory) +
         "': it leads back to a folder that is being walked");
}

void ScanSink::folder_done(std::string_view directory) {
    ++folders_read_;
    progress_.update(folders_read_, entries_, directory);
}

void ScanSink::warn(const std::string& text) {
    if (options_.quiet) return;
    progress_.clear();
    const std::string line = "kestrafin-scan: " + text + "\n";
    [[maybe_unused]] const auto written = ::write(errors_, line.data(), line.size());
}

void ScanSink::flush_output() {
    write_all(output_, buffer_, "cannot write the output");
    buffer_.clear();
}

void ScanSink::finish() {
    progress_.clear();
    if (list_) list_->commit();
    if (options_.count_only) {
        buffer_ = std::to_string(entries_) + " records found\n";
    }
    flush_output();
}

}  // namespace kestrafin::scanner

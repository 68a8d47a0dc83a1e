// The record of a scan (docs/record-format.md): JSON lines that say what the
// scan was, each entry with the root it lies below and its path there, each
// folder not read, how each root was read and how the scan closed. The file
// is filled beside its final name and takes that name whole once the scan
// ends (platform::AtomicFileWriter), so that a record is whole or absent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "scan/report.h"
#include "scan/request.h"
#include "scan/sink.h"
#include "scan/sinks/summary.h"

namespace kestrafin::scan {

inline constexpr int kRecordFormat = 1;

// What the `scan` line tells besides the request.
struct RecordedScan {
    std::string scan_id;  // 32 lowercase hexadecimal digits
    std::string version;
    std::string host;
    std::string user;
    std::string started;  // UTC, YYYY-MM-DDThh:mm:ssZ
    std::vector<std::string> roots;
};

// 32 lowercase hexadecimal digits from the host's random source.
std::string new_scan_id();

// A time as the record writes it: YYYY-MM-DDThh:mm:ssZ, in UTC.
std::string record_time(std::int64_t seconds_since_1970);

// A file-name-safe form of `text` for a record's name: no separator, no
// control character, none of < > : " | ? *, no leading or trailing dot or
// blank (so never "." or ".."), never a Windows device name (CON, NUL,
// COM1, ... also before an extension), never empty, at most 100 bytes.
std::string file_name_safe(std::string_view text);

// What the placeholders of a record's name stand for.
struct RecordNameFields {
    std::string host;
    std::int64_t started = 0;  // seconds since 1970, UTC
    std::vector<std::string> roots;
};

// `pattern` with {host}, {date} (YYYY-MM-DD), {time} (hhmmss, both UTC) and
// {root} replaced: {root} is the first root's file_name_safe() form, with
// "+N" after it when N more roots are scanned; {host} is file-name-safe too,
// so that no placeholder adds a folder to the path given.
std::string expand_record_name(std::string_view pattern, const RecordNameFields& fields);

// How one root's walk ended, as its `root` line says.
enum class RootEnd { complete, incomplete, not_walked, stopped };
RootEnd root_end(const ScanReport& report);
// Its exit status: 0 complete, 1 incomplete or stopped, 2 not walked.
int root_exit_status(RootEnd end);

// The path below `slashed_root` (the root with its separator), without a
// leading separator: empty for the root itself.
std::string_view path_below(std::string_view path, std::string_view slashed_root);

class RecordOutput : public Sink {
  public:
    // Makes the record's file beside `path` and writes the `scan` line.
    // Raises std::system_error when `path` cannot be written (its folder is
    // missing, or the account may not write there), before any walk.
    RecordOutput(const std::string& path, const ScanRequest& request, const RecordedScan& scan);

    bool needs_lengths() const override { return true; }
    std::optional<search::LeftOutFile> own_file() const override;
    void entry(const Entry& entry) override;
    void folder_unreadable(const Entry& folder, int error) override;

    // Each root in turn: its entries come between these two. `summary` saw
    // the root's entries (its folders to act on are the record's).
    void root_begins(const std::string& root);
    void root_ends(const ScanReport& report, const ScanSummary& summary);

    // Writes the `end` line and puts the record in place. `seconds` is the
    // whole scan's. Raises std::system_error when it cannot.
    void finish(std::int64_t finished, double seconds, bool stopped, int exit_status);

  private:
    void append_entry_start(const Entry& entry);
    void flush_if_full();

    platform::AtomicFileWriter file_;
    std::string scan_id_;
    std::vector<Reason> reasons_;  // those the scan line names, in order
    bool with_target_;
    std::string root_;
    std::string slashed_root_;
    std::string escaped_root_;  // the slashed root as inside a JSON string
    bool root_valid_ = true;
    std::string line_;
    std::size_t entries_ = 0;
    std::size_t unreadable_ = 0;
    std::size_t root_entries_ = 0;
    std::size_t root_unreadable_ = 0;
    std::size_t root_by_reason_[kMostReasons] = {};
};

}  // namespace kestrafin::scan

// What the HTML report of scan records shows, built from the records' lines
// as a RecordVisitor hands them on. Every figure is one a record holds: the
// entries and entries by reason of the `root` lines (summed for a total), the
// `end` line's entries for a record's total, the folders to act on as the
// `root` lines list them, and the path-length histogram of the entry lines.
// The fixed and new counts are the diff's (scan/record/record_diff.h) of the
// two latest records of the same roots.
//
// Records of one host and the same roots, in the same order, form a series:
// its records in order of their start time give the burn-down, and its two
// latest give the fixed and new counts. Texts are held as the records' exact
// bytes; showing them is the page's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scan/record/record_reader.h"

namespace kestrafin::scan::report {

struct FixedAndNew {
    std::uint64_t fixed = 0;  // in the older record, not in the newer
    std::uint64_t added = 0;  // in the newer record, not in the older
};

// What one record holds of one root.
struct RootFigures {
    record::RootLine line;
    // Entries (file, folder and link lines) per band of path length, as
    // scan::length_band numbers them; as long as the longest band used.
    std::vector<std::uint64_t> bands;
};

// What one record holds.
struct RecordFigures {
    std::string file;  // as named on the command line
    record::ScanLine scan;
    std::vector<RootFigures> roots;  // as the record gives them
    record::EndLine end;
};

// Collects one record.
class RecordCollector : public record::RecordVisitor {
  public:
    explicit RecordCollector(std::string file) { figures_.file = std::move(file); }

    void scan(const record::ScanLine& line) override;
    void entry(const record::EntryLine& line) override;
    void root(const record::RootLine& line) override;
    void end(const record::EndLine& line) override;

    RecordFigures take();

  private:
    // False when `key` was listed before in this root.
    bool first_listing(std::uint64_t key);

    RecordFigures figures_;
    RootFigures current_;
    // Hashes of the current root's entries' kinds and relative paths: one
    // listed twice would be counted twice. Keeping no paths keeps the
    // reading fast; two sound entries share a hash at odds of some 2^-64
    // per pair.
    std::vector<std::uint64_t> key_slots_;  // open addressing; 0 is empty
    std::size_t keys_ = 0;
};

struct ReasonCount {
    std::string reason;
    std::uint64_t entries = 0;
};

struct ActOnRow {
    std::string root;
    std::string relative_path;
    std::uint64_t entries = 0;
    std::uint64_t units_to_lose = 0;
};

struct BurnDownPoint {
    std::string started;       // as the scan line gives it
    std::int64_t seconds = 0;  // since 1970, for the time axis
    std::uint64_t entries = 0;
};

struct LatestDiff {
    std::string older_started;
    std::string newer_started;
    FixedAndNew counts;
};

// One root, or the total of several.
struct ReportBlock {
    std::string title;
    bool is_total = false;
    std::string end;          // a root's `end` in the latest record; empty for a total
    std::string error;        // why a root was not walked
    std::string record_file;  // the record the figures are from; empty for all series
    std::string started;      // that record's start
    std::uint64_t entries = 0;
    std::uint64_t unreadable = 0;        // folders that could not be read
    std::vector<ReasonCount> by_reason;  // in the order of the scan line's reasons
    std::vector<std::uint64_t> bands;
    std::vector<ActOnRow> act_on;  // most entries first
    // Oldest first; one point per record, but for stopped walks.
    std::vector<BurnDownPoint> burn_down;
    std::optional<LatestDiff> diff;
};

// A record whose rules are not those of another it is shown with.
struct RulesNote {
    std::string file;
    std::string other_file;
    std::vector<std::string> rules;  // the keys that differ: path_longer_than, checks, ...
};

// The keys of the scan line's rules whose values differ between `a` and `b`.
std::vector<std::string> differing_rules(const record::ScanLine& a, const record::ScanLine& b);

struct RecordRow {
    std::string file;
    std::string host;
    std::string started;
    std::size_t roots = 0;
    std::uint64_t entries = 0;
    bool stopped = false;
};

struct ReportSeries {
    std::string host;
    std::vector<std::string> roots;
    std::size_t records = 0;
    ReportBlock total;                     // its latest record
    std::vector<ReportBlock> roots_shown;  // each root in its latest record
    std::vector<RulesNote> notes;          // each record against the latest
};

struct ReportModel {
    std::vector<RecordRow> records;  // as given
    // The latest record of every series together; only with several series.
    std::optional<ReportBlock> all;
    std::vector<RulesNote> notes;      // the series' latest records against the first's
    std::vector<ReportSeries> series;  // in the order their first record was given
};

// Folders to act on in a total: the most of all roots'.
inline constexpr std::size_t kTotalActOnRows = 20;

// The fixed and new counts of each root that both records hold, as the diff
// of `older` and `newer` gives them.
struct RootDiff {
    std::string root;
    FixedAndNew counts;
};
using DiffOf =
    std::function<std::vector<RootDiff>(const RecordFigures& older, const RecordFigures& newer)>;

// Takes records one after another, keeping what the page shows of each: a
// few lines and a histogram, whatever the number of entries.
class ReportBuilder {
  public:
    void add(RecordFigures record);
    // `diff_of` is asked once for each series of two records or more.
    ReportModel build(const DiffOf& diff_of) const;

  private:
    struct Series {
        std::string host;
        std::vector<std::string> roots;
        std::vector<std::size_t> records;  // indexes into records_, by start time
    };
    std::vector<RecordFigures> records_;
    std::vector<Series> series_;
};

// Seconds since 1970 of a time as the records give it (YYYY-MM-DDThh:mm:ssZ);
// 0 for a text of another form.
std::int64_t seconds_since_1970(std::string_view time);

}  // namespace kestrafin::scan::report

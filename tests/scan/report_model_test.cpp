// The report's figures against the record lines they come from.
#include "scan/report/report_model.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace kestrafin::scan::record;
using namespace kestrafin::scan::report;

namespace {

struct Entry {
    std::string root;
    std::string relative_path;
    RecordKind kind = RecordKind::file;
    std::uint64_t path_length = 0;
};

ScanLine scan_line(std::string host, std::vector<std::string> roots, std::string started) {
    ScanLine line;
    line.host = std::move(host);
    line.roots = std::move(roots);
    line.started = std::move(started);
    line.folder_longer_than = 200;
    line.reasons = {"folder_too_long", "path_too_long", "name_too_long"};
    return line;
}

RootLine root_line(std::string root, std::uint64_t entries,
                   std::map<std::string, std::uint64_t> by_reason,
                   std::vector<ActOnLine> act_on = {}) {
    RootLine line;
    line.root = std::move(root);
    line.end = "complete";
    line.entries = entries;
    line.entries_by_reason = std::move(by_reason);
    line.folders_to_act_on = std::move(act_on);
    return line;
}

// Hands a record to the builder as the reader would: its entries, each root's
// after them, then the root lines' end.
void add_record(ReportBuilder& builder, std::string file, const ScanLine& scan,
                const std::vector<Entry>& entries, const std::vector<RootLine>& roots,
                bool stopped = false) {
    RecordCollector collector(std::move(file));
    collector.scan(scan);
    std::uint64_t total = 0;
    for (const RootLine& root : roots) {
        for (const Entry& entry : entries) {
            if (entry.root != root.root) continue;
            EntryLine line;
            line.kind = entry.kind;
            line.root = entry.root;
            line.relative_path = entry.relative_path;
            line.path_length = entry.path_length;
            collector.entry(line);
        }
        collector.root(root);
        total += root.entries;
    }
    EndLine end;
    end.entries = total;
    end.stopped = stopped;
    collector.end(end);
    builder.add(collector.take());
}

std::vector<std::tuple<std::string, std::uint64_t>> reasons_of(const ReportBlock& block) {
    std::vector<std::tuple<std::string, std::uint64_t>> reasons;
    for (const ReasonCount& count : block.by_reason)
        reasons.emplace_back(count.reason, count.entries);
    return reasons;
}

std::vector<std::tuple<std::string, std::uint64_t>> burn_down_of(const ReportBlock& block) {
    std::vector<std::tuple<std::string, std::uint64_t>> points;
    for (const BurnDownPoint& point : block.burn_down)
        points.emplace_back(point.started, point.entries);
    return points;
}

using Counts = std::pair<std::uint64_t, std::uint64_t>;
Counts counts_of(const LatestDiff& diff) {
    return {diff.counts.fixed, diff.counts.added};
}

// A diff that says the same of every pair: `counts` for each root.
DiffOf diff_saying(std::vector<RootDiff> counts,
                   std::vector<std::pair<std::string, std::string>>* asked = nullptr) {
    return [counts, asked](const RecordFigures& older, const RecordFigures& newer) {
        if (asked) asked->emplace_back(older.file, newer.file);
        return counts;
    };
}

}  // namespace

TEST(ReportModel, EntryLengthsFallInTheSummarysBands) {
    const std::vector<std::pair<std::uint64_t, std::size_t>> cases = {
        {0, 0},    {1, 0},    {20, 0},    {21, 1},    {200, 9},
        {201, 10}, {260, 12}, {1000, 49}, {1001, 50}, {250'000, 50}};
    ReportBuilder builder;
    std::vector<Entry> entries;
    for (std::size_t i = 0; i < cases.size(); ++i)
        entries.push_back({"/r", "e" + std::to_string(i), RecordKind::file, cases[i].first});
    // An unreadable folder is no entry: it stays out of the histogram.
    entries.push_back({"/r", "locked", RecordKind::error, 300});
    add_record(builder, "a.jsonl", scan_line("h", {"/r"}, "2026-12-01T00:00:00Z"), entries,
               {root_line("/r", cases.size(), {{"path_too_long", cases.size()}})});
    const ReportModel model = builder.build(diff_saying({}));

    std::vector<std::uint64_t> expected(51);
    for (const auto& [length, band] : cases) ++expected[band];
    ASSERT_EQ(model.series.size(), 1u);
    EXPECT_EQ(model.series[0].roots_shown.at(0).bands, expected);
}

TEST(ReportModel, AnEntryListedTwiceInOneRootIsRefused) {
    const auto listed = [](std::vector<Entry> entries) {
        ReportBuilder builder;
        try {
            add_record(builder, "a.jsonl", scan_line("h", {"/r", "/s"}, "2026-12-01T00:00:00Z"),
                       entries, {root_line("/r", 1, {}), root_line("/s", 1, {})});
            return true;
        } catch (const LineRefused&) {
            return false;
        }
    };
    EXPECT_FALSE(listed({{"/r", "a"}, {"/r", "a"}}));
    EXPECT_FALSE(listed({{"/r", "a", RecordKind::error}, {"/r", "a", RecordKind::error}}));
    EXPECT_TRUE(listed({{"/r", "a"}, {"/r", "a", RecordKind::folder}, {"/s", "a"}}));
}

TEST(ReportModel, FiguresAreTheRootLinesAndTheLatestTwoRecordsAreDiffed) {
    ReportBuilder builder;
    const std::vector<std::string> roots = {"/srv/a", "/srv/b"};
    // Given out of order: the burn-down and the diff go by start time.
    add_record(builder, "w2.jsonl", scan_line("fs01", roots, "2026-12-08T02:00:00Z"),
               {{"/srv/a", "x/1", RecordKind::file, 230},
                {"/srv/a", "x/2", RecordKind::file, 230},
                {"/srv/a", "x", RecordKind::folder, 210},
                {"/srv/a", "y/3", RecordKind::file, 250},
                {"/srv/b", "z/1", RecordKind::link, 300}},
               {root_line("/srv/a", 4,
                          {{"folder_too_long", 3}, {"path_too_long", 4}, {"name_too_long", 0}},
                          {{"x", 3, 12}, {"y", 1, 30}}),
                root_line("/srv/b", 1,
                          {{"folder_too_long", 0}, {"path_too_long", 1}, {"name_too_long", 0}},
                          {{"z", 1, 40}})});
    add_record(builder, "w1.jsonl", scan_line("fs01", roots, "2026-12-01T02:00:00Z"),
               {{"/srv/a", "x/1", RecordKind::file, 230}, {"/srv/b", "z/1", RecordKind::link, 300}},
               {root_line("/srv/a", 1,
                          {{"folder_too_long", 1}, {"path_too_long", 1}, {"name_too_long", 0}}),
                root_line("/srv/b", 1,
                          {{"folder_too_long", 0}, {"path_too_long", 1}, {"name_too_long", 0}})});
    add_record(builder, "w3.jsonl", scan_line("fs01", roots, "2026-12-15T02:00:00Z"),
               {{"/srv/a", "x/1", RecordKind::file, 230},
                {"/srv/a", "x", RecordKind::file, 210},
                {"/srv/a", "w/9", RecordKind::file, 1200},
                {"/srv/b", "z/1", RecordKind::file, 300}},
               {root_line("/srv/a", 3,
                          {{"folder_too_long", 2}, {"path_too_long", 3}, {"name_too_long", 1}},
                          {{"w", 1, 1000}, {"x", 2, 12}}),
                root_line("/srv/b", 1,
                          {{"folder_too_long", 0}, {"path_too_long", 1}, {"name_too_long", 0}})});
    std::vector<std::pair<std::string, std::string>> asked;
    const ReportModel model =
        builder.build(diff_saying({{"/srv/b", {1, 1}}, {"/srv/a", {3, 2}}}, &asked));

    EXPECT_EQ(asked, (std::vector<std::pair<std::string, std::string>>{{"w2.jsonl", "w3.jsonl"}}));
    ASSERT_EQ(model.series.size(), 1u);
    EXPECT_FALSE(model.all) << "one series is its own total";
    const ReportSeries& series = model.series[0];
    EXPECT_EQ(series.records, 3u);
    const ReportBlock& total = series.total;
    EXPECT_EQ(total.entries, 4u);
    EXPECT_EQ(total.record_file, "w3.jsonl");
    using Reasons = std::vector<std::tuple<std::string, std::uint64_t>>;
    EXPECT_EQ(reasons_of(total),
              (Reasons{{"folder_too_long", 2}, {"path_too_long", 4}, {"name_too_long", 1}}));
    using Points = std::vector<std::tuple<std::string, std::uint64_t>>;
    EXPECT_EQ(burn_down_of(total), (Points{{"2026-12-01T02:00:00Z", 2},
                                           {"2026-12-08T02:00:00Z", 5},
                                           {"2026-12-15T02:00:00Z", 4}}));
    ASSERT_TRUE(total.diff);
    EXPECT_EQ(total.diff->older_started, "2026-12-08T02:00:00Z");
    EXPECT_EQ(counts_of(*total.diff), Counts(4, 3));
    ASSERT_EQ(total.act_on.size(), 2u);
    EXPECT_EQ(std::tie(total.act_on[0].root, total.act_on[0].relative_path),
              std::tuple("/srv/a", "x"))
        << "most entries first, whichever root lists it";
    EXPECT_EQ(total.act_on[1].units_to_lose, 1000u);

    ASSERT_EQ(series.roots_shown.size(), 2u);
    const ReportBlock& a = series.roots_shown[0];
    EXPECT_EQ(a.entries, 3u);
    EXPECT_EQ(burn_down_of(a), (Points{{"2026-12-01T02:00:00Z", 1},
                                       {"2026-12-08T02:00:00Z", 4},
                                       {"2026-12-15T02:00:00Z", 3}}));
    ASSERT_TRUE(a.diff);
    EXPECT_EQ(counts_of(*a.diff), Counts(3, 2));
    ASSERT_EQ(a.act_on.size(), 2u);
    EXPECT_EQ(std::tie(a.act_on[0].relative_path, a.act_on[0].entries, a.act_on[0].units_to_lose),
              std::tuple("w", 1u, 1000u))
        << "as the root line lists them";
    std::vector<std::uint64_t> a_bands(51);
    a_bands[11] = 1;  // 230
    a_bands[10] = 1;  // 210
    a_bands[50] = 1;  // 1200
    EXPECT_EQ(a.bands, a_bands);
    const ReportBlock& b = series.roots_shown[1];
    ASSERT_TRUE(b.diff);
    EXPECT_EQ(counts_of(*b.diff), Counts(1, 1));
}

TEST(ReportModel, RootsAStoppedScanDidNotWalkWholeKeepTheirLastFiguresAndHaveNoDiff) {
    ReportBuilder builder;
    const std::vector<std::string> roots = {"/a", "/b", "/c"};
    add_record(
        builder, "1.jsonl", scan_line("h", roots, "2026-12-01T00:00:00Z"),
        {{"/a", "f", RecordKind::file, 300},
         {"/b", "g", RecordKind::file, 300},
         {"/c", "h", RecordKind::file, 300}},
        {root_line("/a", 1, {{"path_too_long", 1}}), root_line("/b", 1, {{"path_too_long", 1}}),
         root_line("/c", 1, {{"path_too_long", 1}})});
    // Stopped while walking /b, before /c.
    RootLine stopped = root_line("/b", 0, {{"path_too_long", 0}});
    stopped.end = "stopped";
    add_record(builder, "2.jsonl", scan_line("h", roots, "2026-12-02T00:00:00Z"),
               {{"/a", "f", RecordKind::file, 300}},
               {root_line("/a", 1, {{"path_too_long", 1}}), stopped}, true);
    const ReportModel model =
        builder.build(diff_saying({{"/a", {0, 0}}, {"/b", {1, 0}}, {"/c", {1, 0}}}));

    const ReportSeries& series = model.series.at(0);
    const ReportBlock& b = series.roots_shown.at(1);
    EXPECT_EQ(b.end, "stopped");
    EXPECT_FALSE(b.diff) << "its entries the walk did not reach are not fixed";
    EXPECT_EQ(b.burn_down.size(), 1u);
    const ReportBlock& c = series.roots_shown.at(2);
    EXPECT_EQ(c.record_file, "1.jsonl") << "the latest record that reached it";
    EXPECT_EQ(c.entries, 1u);
    EXPECT_FALSE(c.diff);
    const ReportBlock& total = series.total;
    ASSERT_TRUE(total.diff);
    EXPECT_EQ(total.diff->counts.fixed + total.diff->counts.added, 0u);
    EXPECT_TRUE(model.records[1].stopped);
    EXPECT_EQ(burn_down_of(total),
              (std::vector<std::tuple<std::string, std::uint64_t>>{{"2026-12-01T00:00:00Z", 3}}))
        << "a stopped scan's count is no point of the line";
}

TEST(ReportModel, SeveralHostsAddUpAndRecordsOfOtherRulesAreNamed) {
    ReportBuilder builder;
    ScanLine one = scan_line("fs01", {"/d"}, "2026-12-01T00:00:00Z");
    ScanLine two = scan_line("fs02", {"/d"}, "2026-12-01T00:00:00Z");
    two.path_longer_than = 400;
    two.checks = {"sharepoint"};
    ScanLine three = one;
    three.started = "2026-12-08T00:00:00Z";
    three.excludes = {"*.tmp"};
    three.target_prefix = "https://x";
    add_record(builder, "fs01-1.jsonl", one, {{"/d", "p", RecordKind::file, 250}},
               {root_line("/d", 1, {{"folder_too_long", 1}}, {{"p", 1, 5}})});
    add_record(builder, "fs02.jsonl", two,
               {{"/d", "q", RecordKind::file, 450}, {"/d", "r", RecordKind::file, 20}},
               {root_line("/d", 2, {{"folder_too_long", 2}, {"onedrive_bad", 1}}, {{"q", 2, 9}})});
    add_record(builder, "fs01-2.jsonl", three, {{"/d", "p", RecordKind::file, 250}},
               {root_line("/d", 1, {{"folder_too_long", 1}}, {{"p", 1, 5}})});
    const ReportModel model = builder.build(diff_saying({}));

    ASSERT_EQ(model.series.size(), 2u) << "a root of another host is another share";
    ASSERT_TRUE(model.all);
    EXPECT_EQ(model.all->entries, 3u);
    using Reasons = std::vector<std::tuple<std::string, std::uint64_t>>;
    EXPECT_EQ(reasons_of(*model.all), (Reasons{{"folder_too_long", 3}, {"onedrive_bad", 1}}));
    EXPECT_EQ(model.all->bands.at(0), 1u);
    EXPECT_EQ(model.all->bands.at(12), 1u);
    EXPECT_EQ(model.all->bands.at(22), 1u);
    ASSERT_EQ(model.all->act_on.size(), 2u);
    EXPECT_EQ(model.all->act_on[0].relative_path, "q");

    ASSERT_EQ(model.series[0].notes.size(), 1u);
    EXPECT_EQ(model.series[0].notes[0].file, "fs01-1.jsonl");
    EXPECT_EQ(model.series[0].notes[0].rules,
              (std::vector<std::string>{"target_prefix", "excludes"}));
    ASSERT_EQ(model.notes.size(), 1u);
    EXPECT_EQ(model.notes[0].file, "fs02.jsonl");
    EXPECT_EQ(model.notes[0].other_file, "fs01-2.jsonl");
    EXPECT_EQ(model.notes[0].rules, (std::vector<std::string>{"path_longer_than", "checks",
                                                              "target_prefix", "excludes"}));
}

TEST(ReportModel, StartTimesCountSecondsSince1970) {
    const std::vector<std::pair<std::string, std::int64_t>> cases = {
        {"1970-01-01T00:00:00Z", 0},
        {"2000-03-01T00:00:00Z", 951'868'800},
        {"2024-02-29T23:59:59Z", 1'709'251'199},
        {"2026-12-09T15:20:42Z", 1'796'829'642},
        {"2026-12-09 15:20:42Z", 0},
        {"2026-12-09T15:20:4xZ", 0},
        {"", 0}};
    for (const auto& [text, seconds] : cases) EXPECT_EQ(seconds_since_1970(text), seconds) << text;
}

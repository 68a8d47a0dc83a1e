#include "scan/report/report_model.h"

#include <algorithm>
#include <map>
#include <utility>

#include "scan/sinks/summary.h"

namespace kestrafin::scan::report {

namespace {

void add_bands(std::vector<std::uint64_t>& sum, const std::vector<std::uint64_t>& bands) {
    if (sum.size() < bands.size()) sum.resize(bands.size());
    for (std::size_t i = 0; i < bands.size(); ++i) sum[i] += bands[i];
}

void add_reason(std::vector<ReasonCount>& sum, const ReasonCount& count) {
    const auto at = std::find_if(sum.begin(), sum.end(), [&](const ReasonCount& kept) {
        return kept.reason == count.reason;
    });
    if (at == sum.end())
        sum.push_back(count);
    else
        at->entries += count.entries;
}

// Adds `counts` to `sum`, keeping the order of first appearance: the scan
// line's reasons first, then any other code the record names.
void add_reasons(std::vector<ReasonCount>& sum, const std::vector<std::string>& order,
                 const std::map<std::string, std::uint64_t>& counts) {
    const auto add = [&](const std::string& reason, std::uint64_t entries) {
        add_reason(sum, {reason, entries});
    };
    for (const std::string& reason : order) {
        const auto found = counts.find(reason);
        if (found != counts.end()) add(reason, found->second);
    }
    for (const auto& [reason, entries] : counts)
        if (std::find(order.begin(), order.end(), reason) == order.end()) add(reason, entries);
}

void sort_act_on(std::vector<ActOnRow>& rows, std::size_t keep) {
    std::stable_sort(rows.begin(), rows.end(), [](const ActOnRow& a, const ActOnRow& b) {
        if (a.entries != b.entries) return a.entries > b.entries;
        return a.units_to_lose < b.units_to_lose;
    });
    if (rows.size() > keep) rows.resize(keep);
}

const RootFigures* find_root(const RecordFigures& record, const std::string& root) {
    for (const RootFigures& figures : record.roots)
        if (figures.line.root == root) return &figures;
    return nullptr;
}

// A root whose walk ended, whole or with folders it could not read: one not
// walked or stopped counted only part of its entries, if any.
bool walked(const RootFigures* figures) {
    return figures != nullptr && figures->line.end != "not_walked" &&
           figures->line.end != "stopped";
}

}  // namespace

void RecordCollector::scan(const record::ScanLine& line) {
    figures_.scan = line;
}

void RecordCollector::entry(const record::EntryLine& line) {
    if (!first_listing(std::hash<std::string_view>{}(line.relative_path) * 5 +
                       static_cast<std::uint64_t>(line.kind)))
        throw record::LineRefused(
            "lists again an entry of an earlier line (its root, relative path and kind)");
    // An unreadable folder is no entry: `entries` does not count it.
    if (line.kind == record::RecordKind::error) return;
    const std::size_t band = length_band(static_cast<std::size_t>(line.path_length));
    if (current_.bands.size() <= band) current_.bands.resize(band + 1);
    ++current_.bands[band];
}

bool RecordCollector::first_listing(std::uint64_t key) {
    key |= 1;  // never the empty slot; one bit less of hash
    if ((keys_ + 1) * 2 > key_slots_.size()) {
        std::vector<std::uint64_t> old(std::max<std::size_t>(1024, key_slots_.size() * 2), 0);
        old.swap(key_slots_);
        keys_ = 0;
        for (const std::uint64_t kept : old)
            if (kept != 0) first_listing(kept);
    }
    const std::size_t mask = key_slots_.size() - 1;
    std::size_t slot = static_cast<std::size_t>(key) & mask;
    for (; key_slots_[slot] != 0; slot = (slot + 1) & mask)
        if (key_slots_[slot] == key) return false;
    key_slots_[slot] = key;
    ++keys_;
    return true;
}

void RecordCollector::root(const record::RootLine& line) {
    // Made again for the next root, sized to it rather than to the largest.
    key_slots_ = {};
    keys_ = 0;
    current_.line = line;
    figures_.roots.push_back(std::move(current_));
    current_ = RootFigures();
}

void RecordCollector::end(const record::EndLine& line) {
    figures_.end = line;
}

RecordFigures RecordCollector::take() {
    return std::move(figures_);
}

std::vector<std::string> differing_rules(const record::ScanLine& a, const record::ScanLine& b) {
    std::vector<std::string> rules;
    if (a.folder_longer_than != b.folder_longer_than) rules.push_back("folder_longer_than");
    if (a.path_longer_than != b.path_longer_than) rules.push_back("path_longer_than");
    if (a.checks != b.checks) rules.push_back("checks");
    if (a.target_prefix != b.target_prefix) rules.push_back("target_prefix");
    if (a.excludes != b.excludes) rules.push_back("excludes");
    return rules;
}

void ReportBuilder::add(RecordFigures record) {
    const std::size_t index = records_.size();
    records_.push_back(std::move(record));
    const RecordFigures& added = records_.back();
    auto series = std::find_if(series_.begin(), series_.end(), [&](const Series& kept) {
        return kept.host == added.scan.host && kept.roots == added.scan.roots;
    });
    if (series == series_.end()) {
        series_.push_back({added.scan.host, added.scan.roots, {}});
        series = series_.end() - 1;
    }
    // After those of the same start, so that of equal times the later given
    // counts as the later.
    const auto at =
        std::upper_bound(series->records.begin(), series->records.end(), added.scan.started,
                         [&](const std::string& started, std::size_t kept) {
                             return started < records_[kept].scan.started;
                         });
    series->records.insert(at, index);
}

ReportModel ReportBuilder::build(const DiffOf& diff_of) const {
    ReportModel model;
    for (const RecordFigures& record : records_)
        model.records.push_back({record.file, record.scan.host, record.scan.started,
                                 record.roots.size(), record.end.entries, record.end.stopped});

    for (const Series& series : series_) {
        ReportSeries shown;
        shown.host = series.host;
        shown.roots = series.roots;
        shown.records = series.records.size();
        const RecordFigures& latest = records_[series.records.back()];
        const RecordFigures* older = series.records.size() > 1
                                         ? &records_[series.records[series.records.size() - 2]]
                                         : nullptr;
        const std::vector<RootDiff> diffs =
            older ? diff_of(*older, latest) : std::vector<RootDiff>();
        for (const std::size_t index : series.records) {
            const RecordFigures& record = records_[index];
            if (&record == &latest) continue;
            auto rules = differing_rules(record.scan, latest.scan);
            if (!rules.empty()) shown.notes.push_back({record.file, latest.file, std::move(rules)});
        }

        ReportBlock& total = shown.total;
        total.is_total = true;
        total.entries = latest.end.entries;
        total.record_file = latest.file;
        total.started = latest.scan.started;
        total.unreadable = latest.end.unreadable;
        // A stopped scan counted only what it reached: no point of the line.
        for (const std::size_t index : series.records) {
            const RecordFigures& record = records_[index];
            if (record.end.stopped) continue;
            total.burn_down.push_back(
                {record.scan.started, seconds_since_1970(record.scan.started), record.end.entries});
        }

        for (const std::string& root : series.roots) {
            ReportBlock block;
            block.title = root;
            // The latest record that reached the root: a stopped scan has no
            // lines for the roots it did not reach.
            const RootFigures* figures = nullptr;
            for (auto index = series.records.rbegin(); index != series.records.rend() && !figures;
                 ++index) {
                figures = find_root(records_[*index], root);
                if (figures) {
                    block.record_file = records_[*index].file;
                    block.started = records_[*index].scan.started;
                }
            }
            if (figures) {
                const record::RootLine& line = figures->line;
                block.end = line.end;
                block.error = line.error;
                block.unreadable = line.unreadable;
                block.entries = line.entries;
                add_reasons(block.by_reason, latest.scan.reasons, line.entries_by_reason);
                block.bands = figures->bands;
                for (const record::ActOnLine& act : line.folders_to_act_on)
                    block.act_on.push_back(
                        {root, act.relative_path, act.entries, act.units_to_lose});
            } else {
                block.end = "not_reached";
            }
            for (const std::size_t index : series.records) {
                const RecordFigures& record = records_[index];
                const RootFigures* in_record = find_root(record, root);
                if (!walked(in_record)) continue;
                block.burn_down.push_back({record.scan.started,
                                           seconds_since_1970(record.scan.started),
                                           in_record->line.entries});
            }
            if (older) {
                const RootFigures* before = find_root(*older, root);
                const RootFigures* after = find_root(latest, root);
                const auto diff = std::find_if(diffs.begin(), diffs.end(),
                                               [&](const RootDiff& d) { return d.root == root; });
                // Entries a walk did not reach are not fixed.
                if (walked(before) && walked(after) && diff != diffs.end()) {
                    const FixedAndNew counts = diff->counts;
                    block.diff = LatestDiff{older->scan.started, latest.scan.started, counts};
                    if (!total.diff)
                        total.diff = LatestDiff{older->scan.started, latest.scan.started, {}};
                    total.diff->counts.fixed += counts.fixed;
                    total.diff->counts.added += counts.added;
                }
            }
            if (const RootFigures* in_latest = find_root(latest, root)) {
                add_reasons(total.by_reason, latest.scan.reasons,
                            in_latest->line.entries_by_reason);
                add_bands(total.bands, in_latest->bands);
                for (const ActOnRow& row : block.act_on) total.act_on.push_back(row);
            }
            shown.roots_shown.push_back(std::move(block));
        }
        sort_act_on(total.act_on, kTotalActOnRows);
        model.series.push_back(std::move(shown));
    }

    if (model.series.size() > 1) {
        ReportBlock all;
        all.is_total = true;
        const RecordFigures& first = records_[series_.front().records.back()];
        for (std::size_t i = 0; i < model.series.size(); ++i) {
            const ReportBlock& total = model.series[i].total;
            all.entries += total.entries;
            all.unreadable += total.unreadable;
            for (const ReasonCount& count : total.by_reason) add_reason(all.by_reason, count);
            add_bands(all.bands, total.bands);
            for (const ActOnRow& row : total.act_on) all.act_on.push_back(row);
            const RecordFigures& latest = records_[series_[i].records.back()];
            if (i == 0) continue;
            auto rules = differing_rules(latest.scan, first.scan);
            if (!rules.empty()) model.notes.push_back({latest.file, first.file, std::move(rules)});
        }
        sort_act_on(all.act_on, kTotalActOnRows);
        model.all = std::move(all);
    }
    return model;
}

std::int64_t seconds_since_1970(std::string_view time) {
    // YYYY-MM-DDThh:mm:ssZ
    if (time.size() != 20 || time[4] != '-' || time[7] != '-' || time[10] != 'T' ||
        time[13] != ':' || time[16] != ':' || time[19] != 'Z')
        return 0;
    std::int64_t field[6] = {};
    const std::size_t starts[6] = {0, 5, 8, 11, 14, 17};
    const std::size_t lengths[6] = {4, 2, 2, 2, 2, 2};
    for (std::size_t f = 0; f < 6; ++f)
        for (std::size_t i = starts[f]; i < starts[f] + lengths[f]; ++i) {
            if (time[i] < '0' || time[i] > '9') return 0;
            field[f] = field[f] * 10 + (time[i] - '0');
        }
    // Days from the civil date (proleptic Gregorian), counted from March so
    // that the leap day ends the year.
    const std::int64_t month = field[1];
    const std::int64_t year = field[0] - (month <= 2 ? 1 : 0);
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t year_of_era = year - era * 400;
    const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + field[2] - 1;
    const std::int64_t day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    const std::int64_t days = era * 146097 + day_of_era - 719468;
    return days * 86400 + field[3] * 3600 + field[4] * 60 + field[5];
}

}  // namespace kestrafin::scan::report

#include "scan/report/html_report.h"

#include "scan/report/markup.h"
#include "scan/report/svg_chart.h"
#include "scan/sinks/summary.h"

namespace kestrafin::scan::report {

namespace {

// Nothing may be fetched: no script, font, image, frame or connection; the
// page's own style element is all it uses.
constexpr std::string_view kPolicy =
    "default-src 'none'; style-src 'unsafe-inline'; img-src 'none'; font-src 'none'; "
    "script-src 'none'; connect-src 'none'; frame-src 'none'; base-uri 'none'; "
    "form-action 'none'";

constexpr std::string_view kStyle = R"(
:root { color-scheme: light; }
body { margin: 0; color: #1a202c; background: #fff;
  font: 15px/1.45 system-ui, "Segoe UI", Roboto, "DejaVu Sans", Arial, sans-serif; }
main { max-width: 1600px; margin: 0 auto; padding: 24px 32px; }
h1 { font-size: 1.7em; margin: 0 0 .2em; }
h2 { font-size: 1.35em; margin: 1.4em 0 .4em; border-bottom: 2px solid #2f6db5; }
h3 { font-size: 1.1em; margin: 0 0 .4em; overflow-wrap: anywhere; }
.lead { color: #4a5568; margin-top: 0; }
.block { border: 1px solid #cbd5e0; border-radius: 6px; padding: 16px 20px; margin: 18px 0; }
.facts { margin: 0 0 12px; }
.facts > span + span::before { content: " \00b7  "; color: #a0aec0; }
.charts { display: grid; grid-template-columns: repeat(auto-fit, minmax(min(100%, 440px), 1fr));
  gap: 16px 32px; }
figure { margin: 0; min-width: 0; }
figcaption { font-weight: 600; margin-bottom: 4px; }
svg.chart { display: block; width: 100%; height: auto; max-width: 640px; }
svg.chart text { font-size: 12px; fill: #1a202c; font-family: inherit; }
svg.chart .axis { fill: #4a5568; }
svg.chart .note { fill: #4a5568; font-style: italic; }
svg.chart .zero { fill: #a0aec0; }
svg.chart .bar, svg.chart .point { fill: #2f6db5; }
svg.chart .line { fill: none; stroke: #2f6db5; stroke-width: 2.5; }
svg.chart .grid { stroke: #e2e8f0; }
svg.chart .baseline { stroke: #718096; }
table { border-collapse: collapse; width: 100%; margin: 8px 0 4px; }
th, td { text-align: left; padding: 4px 8px; border-bottom: 1px solid #e2e8f0; vertical-align: top; }
th { background: #edf2f7; }
.n { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
.path { overflow-wrap: anywhere; font-family: ui-monospace, "DejaVu Sans Mono", Consolas, monospace;
  font-size: .9em; }
.note { background: #fffbea; border-left: 4px solid #d69e2e; padding: 8px 12px; margin: 8px 0; }
.fixed { color: #276749; font-weight: 600; }
.new { color: #c53030; font-weight: 600; }
.table-wrap { overflow-x: auto; }
@media print {
  body { font-size: 10.5pt; }
  main { max-width: none; padding: 0; }
  figure, tr, .facts { break-inside: avoid; }
  h2, h3, h4 { break-after: avoid; }
  * { print-color-adjust: exact; -webkit-print-color-adjust: exact; }
}
)";

void text(std::string& out, std::string_view bytes) {
    append_text(out, bytes);
}

void number_cell(std::string& out, std::uint64_t value) {
    out += "<td class=\"n\">" + std::to_string(value) + "</td>";
}

void rules_note(std::string& out, const RulesNote& note) {
    out += "<p class=\"note\">";
    text(out, note.file);
    out += " was scanned with other rules than ";
    text(out, note.other_file);
    out += ": ";
    for (std::size_t i = 0; i < note.rules.size(); ++i) {
        if (i > 0) out += ", ";
        text(out, note.rules[i]);
    }
    out += " differ. Its figures are shown as they are.</p>";
}

// The bands from the shortest entry's to the longest's. A run of empty bands
// between them shows as one column of 0, so that a few very long paths do
// not squeeze the bands that hold most entries.
std::vector<ChartBar> band_bars(const std::vector<std::uint64_t>& bands) {
    constexpr std::size_t kLongestEmptyRun = 2;
    std::size_t first = 0;
    while (first < bands.size() && bands[first] == 0) ++first;
    std::size_t last = bands.size();
    while (last > first && bands[last - 1] == 0) --last;
    std::vector<ChartBar> bars;
    for (std::size_t band = first; band < last;) {
        std::size_t run = band;
        while (run < last && bands[run] == 0) ++run;
        if (run - band > kLongestEmptyRun) {
            bars.push_back(
                {std::to_string(band * kBandWidth + 1) + "-" + std::to_string(run * kBandWidth),
                 0});
            band = run;
            continue;
        }
        bars.push_back({band_label(band), bands[band]});
        ++band;
    }
    return bars;
}

void block(std::string& out, const ReportBlock& shown, std::string_view title) {
    out += "<article class=\"block\"><h3>";
    text(out, title);
    out += "</h3><p class=\"facts\"><span>entries: <b>" + std::to_string(shown.entries) +
           "</b></span>";
    if (!shown.end.empty()) {
        out += "<span>walk: ";
        text(out, shown.end);
        if (!shown.error.empty()) {
            out += " (";
            text(out, shown.error);
            out += ")";
        }
        out += "</span>";
    }
    if (shown.unreadable > 0)
        out += "<span>folders not read: " + std::to_string(shown.unreadable) + "</span>";
    if (!shown.record_file.empty()) {
        out += "<span>from <span class=\"path\">";
        text(out, shown.record_file);
        out += "</span>, started ";
        text(out, shown.started);
        out += "</span>";
    }
    if (shown.diff) {
        out += "<span>since ";
        text(out, shown.diff->older_started);
        out += ": <span class=\"fixed\">" + std::to_string(shown.diff->counts.fixed) +
               " fixed</span>, <span class=\"new\">" + std::to_string(shown.diff->counts.added) +
               " new</span></span>";
    }
    out += "</p><div class=\"charts\">";

    std::vector<ChartBar> reasons;
    for (const ReasonCount& count : shown.by_reason)
        reasons.push_back({count.reason, count.entries});
    out += "<figure><figcaption>Entries by reason</figcaption>";
    out += horizontal_bars_svg(reasons, "Entries by reason");
    out += "</figure><figure><figcaption>Path lengths of the entries</figcaption>";
    out += columns_svg(band_bars(shown.bands), "Entries by path length",
                       "path length in UTF-16 units, bands of " + std::to_string(kBandWidth));
    out += "</figure>";
    if (shown.burn_down.size() > 1) {
        std::vector<ChartPoint> points;
        for (const BurnDownPoint& point : shown.burn_down) {
            // The date alone reads best; the time too where two scans share a day.
            bool same_day = false;
            for (const BurnDownPoint& other : shown.burn_down)
                same_day |=
                    &other != &point && other.started.substr(0, 10) == point.started.substr(0, 10);
            std::string label = same_day && point.started.size() >= 16
                                    ? point.started.substr(5, 5) + " " + point.started.substr(11, 5)
                                    : point.started.substr(0, 10);
            points.push_back({point.seconds, std::move(label), point.entries});
        }
        out += "<figure><figcaption>Entries left, scan by scan</figcaption>";
        out += line_svg(points, "Entries left, scan by scan");
        out += "</figure>";
    }
    out += "</div>";

    out += "<h4>Where to act</h4>";
    if (shown.act_on.empty()) {
        out += "<p>No folder holds entries past a length rule.</p>";
    } else {
        out += "<div class=\"table-wrap\"><table><thead><tr>";
        if (shown.is_total) out += "<th>root</th>";
        out +=
            "<th>folder below the root</th><th class=\"n\">entries</th>"
            "<th class=\"n\">units to lose</th></tr></thead><tbody>";
        for (const ActOnRow& row : shown.act_on) {
            out += "<tr>";
            if (shown.is_total) {
                out += "<td class=\"path\">";
                text(out, row.root);
                out += "</td>";
            }
            out += "<td class=\"path\">";
            text(out, row.relative_path);
            out += "</td>";
            number_cell(out, row.entries);
            number_cell(out, row.units_to_lose);
            out += "</tr>";
        }
        out += "</tbody></table></div>";
    }
    out += "</article>";
}

}  // namespace

std::string band_label(std::size_t band) {
    const std::size_t low = band * kBandWidth + 1;
    if (low > kLongestBanded) return std::to_string(low) + "-";
    return std::to_string(low) + "-" + std::to_string(low + kBandWidth - 1);
}

std::string html_report(const ReportModel& model, std::string_view version) {
    std::string out;
    out += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">";
    out += "<meta http-equiv=\"Content-Security-Policy\" content=\"";
    out += kPolicy;
    out += "\"><meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">";
    out += "<title>Long paths: report of " + std::to_string(model.records.size()) +
           (model.records.size() == 1 ? " scan" : " scans") + "</title><style>";
    out += kStyle;
    out += "</style></head><body><main>\n<h1>Long paths: what would fail a move</h1>";
    out += "<p class=\"lead\">From " + std::to_string(model.records.size()) +
           (model.records.size() == 1 ? " record" : " records") + ", by kestrafin-scan ";
    text(out, version);
    out +=
        ". Entries are the files, folders and links that break a rule; lengths count "
        "UTF-16 units.</p>\n";

    out +=
        "<h2>Records</h2><div class=\"table-wrap\"><table><thead><tr><th>record</th>"
        "<th>host</th><th>started</th><th class=\"n\">roots</th><th class=\"n\">entries</th>"
        "<th>ended</th></tr></thead><tbody>";
    for (const RecordRow& row : model.records) {
        out += "<tr><td class=\"path\">";
        text(out, row.file);
        out += "</td><td>";
        text(out, row.host);
        out += "</td><td>";
        text(out, row.started);
        out += "</td>";
        number_cell(out, row.roots);
        number_cell(out, row.entries);
        out += row.stopped ? "<td>stopped</td>" : "<td>whole</td>";
        out += "</tr>";
    }
    out += "</tbody></table></div>\n";
    for (const RulesNote& note : model.notes) rules_note(out, note);

    if (model.all) {
        out += "<h2>All hosts and roots</h2>";
        block(out, *model.all, "Total of the latest scan of every host and its roots");
    }
    for (const ReportSeries& series : model.series) {
        out += "<h2>";
        text(out, series.host);
        out += ": " + std::to_string(series.roots.size()) +
               (series.roots.size() == 1 ? " root, " : " roots, ") +
               std::to_string(series.records) + (series.records == 1 ? " scan" : " scans") +
               "</h2>";
        for (const RulesNote& note : series.notes) rules_note(out, note);
        if (series.roots.size() > 1)
            block(out, series.total, "Total of " + std::to_string(series.roots.size()) + " roots");
        for (const ReportBlock& root : series.roots_shown) block(out, root, root.title);
        out += "\n";
    }
    out += "</main></body></html>\n";
    return out;
}

}  // namespace kestrafin::scan::report

// The report page and its charts: hostile names stay text, the page loads
// nothing, and every count a chart is given is written in it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <regex>

#include "platform/text.h"
#include "scan/report/html_report.h"
#include "scan/report/markup.h"
#include "scan/report/svg_chart.h"

using namespace kestrafin;
using namespace kestrafin::scan::report;

namespace {

bool valid_utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const platform::Utf8Sequence sequence = platform::decode_utf8(text.substr(i));
        if (sequence.length == 0 || sequence.is_surrogate()) return false;
        i += sequence.length;
    }
    return true;
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The contents of the <text> elements of class `kind` in `page`.
std::vector<std::string> svg_texts(const std::string& page, const std::string& kind) {
    std::vector<std::string> texts;
    const std::regex element("<text class=\"" + kind + "[^\"]*\"[^>]*>([^<]*)</text>");
    for (auto at = std::sregex_iterator(page.begin(), page.end(), element);
         at != std::sregex_iterator(); ++at)
        texts.push_back((*at)[1]);
    return texts;
}

const std::string kScript = "<script>alert('x')</script>";

}  // namespace

TEST(ReportMarkup, NamesAreShownAsTheRecordsTextFormAndEscaped) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {kScript, "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;"},
        {"R&D \"quoted\"", "R&amp;D &quot;quoted&quot;"},
        {"invoice\xE2\x80\xAEtxt.exe", "invoice\xE2\x9F\xA8U+202E\xE2\x9F\xA9txt.exe"},
        {"two\nlines\x1B[2J",
         "two\xE2\x9F\xA8U+000A\xE2\x9F\xA9lines\xE2\x9F\xA8U+001B\xE2\x9F\xA9[2J"},
        {"bad\xFF\xC3", "bad\xEF\xBF\xBD\xEF\xBF\xBD"},
        // An unpaired surrogate, as WTF-8 holds it, is three bad bytes.
        {"s\xED\xA0\x80", "s\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"donn\xC3\xA9"
         "es",
         "donn\xC3\xA9"
         "es"},
    };
    for (const auto& [name, shown] : cases) EXPECT_EQ(markup_text(name), shown) << name;
}

TEST(ReportPage, HostileNamesStayTextInThePageAndItsChartsAndNothingIsLoaded) {
    const std::string hostile_root = "/srv/" + kScript + "\xE2\x80\xAE\xFF&\"'";
    ReportBuilder builder;
    RecordCollector collector("scans/" + kScript + ".jsonl");
    scan::record::ScanLine scan;
    scan.host = "<b>host</b>";
    scan.roots = {hostile_root};
    scan.started = "2026-12-01T00:00:00Z";
    scan.reasons = {kScript};
    collector.scan(scan);
    scan::record::EntryLine entry;
    entry.root = hostile_root;
    entry.relative_path = kScript;
    entry.path_length = 250;
    collector.entry(entry);
    scan::record::RootLine root;
    root.root = hostile_root;
    root.end = "complete";
    root.entries = 1;
    root.entries_by_reason = {{kScript, 1}};
    root.folders_to_act_on = {{kScript + "\xE2\x80\xAE", 1, 17}};
    collector.root(root);
    scan::record::EndLine end;
    end.entries = 1;
    collector.end(end);
    builder.add(collector.take());
    const std::string page =
        html_report(builder.build([](const RecordFigures&, const RecordFigures&) {
            return std::vector<RootDiff>();
        }),
                    "1.0.0");

    EXPECT_TRUE(valid_utf8(page));
    EXPECT_EQ(page.find("\xE2\x80\xAE"), std::string::npos) << "no direction override reaches it";
    const std::string lower = lowered(page);
    for (const std::string banned : {"<script", "<b>host", "src=", "href=", "url(", "@import",
                                     "<link", "<img", "<iframe", "<object", "<embed",
                                     "on"
                                     "load="})
        EXPECT_EQ(lower.find(banned), std::string::npos) << banned;
    // The one address in the page names SVG's namespace; it is never fetched.
    EXPECT_EQ(std::regex_replace(lower, std::regex("xmlns=\"http://www.w3.org/2000/svg\""), "")
                  .find("//"),
              std::string::npos);
    EXPECT_NE(page.find("http-equiv=\"Content-Security-Policy\" content=\"default-src 'none';"),
              std::string::npos);

    const std::string escaped = markup_text(kScript);
    EXPECT_NE(page.find("<td class=\"path\">" + escaped + "\xE2\x9F\xA8U+202E\xE2\x9F\xA9</td>"),
              std::string::npos)
        << "the folder to act on";
    EXPECT_NE(page.find(markup_text(hostile_root)), std::string::npos);
    EXPECT_NE(page.find("&lt;b&gt;host&lt;/b&gt;"), std::string::npos);
    const std::vector<std::string> texts = svg_texts(page, "label");
    EXPECT_NE(std::find(texts.begin(), texts.end(), escaped), texts.end())
        << "the reason's label in its bar chart";
}

TEST(ReportCharts, EveryCountIsWrittenAsTextAndTheSizeIsTheViewBoxAlone) {
    std::vector<ChartBar> few = {{"folder_too_long", 3}, {"path_too_long", 123456}, {"x", 0}};
    std::vector<ChartBar> many;
    for (std::uint64_t i = 0; i < 51; ++i) many.push_back({band_label(i), 1000 + i * 7919});
    std::vector<ChartPoint> points;
    for (std::int64_t i = 0; i < 6; ++i)
        points.push_back({i * 86400 * 7, "2026-12-" + std::to_string(10 + i),
                          static_cast<std::uint64_t>(90000 - 7000 * i)});

    struct Case {
        std::string svg;
        std::vector<std::uint64_t> values;
        bool dense = false;  // values of points too close to write each
    };
    const auto values = [](const auto& items) {
        std::vector<std::uint64_t> all;
        for (const auto& item : items) all.push_back(item.value);
        return all;
    };
    std::vector<ChartPoint> dense = points;
    for (std::int64_t i = 0; i < 50; ++i)
        dense.push_back({(20 + i) * 86400 * 7, "2027-01-" + std::to_string(10 + i),
                         static_cast<std::uint64_t>(5000 - 90 * i)});
    const std::vector<Case> cases = {
        {horizontal_bars_svg(few, "by reason"), values(few)},
        {columns_svg(few, "lengths", "units"), values(few)},
        {columns_svg(many, "lengths", "units"), values(many)},
        {line_svg(points, "left"), values(points)},
        {line_svg(dense, "left"), values(dense), true},
    };
    for (const Case& chart : cases) {
        EXPECT_TRUE(
            chart.svg.starts_with("<svg class=\"chart\" xmlns=\"http://www.w3.org/2000/svg\" "
                                  "viewBox=\"0 0 "))
            << chart.svg.substr(0, 120);
        const std::string opening = chart.svg.substr(0, chart.svg.find('>'));
        EXPECT_EQ(opening.find(" width="), std::string::npos);
        EXPECT_EQ(opening.find(" height="), std::string::npos);
        std::vector<std::string> texts = svg_texts(chart.svg, "count");
        if (chart.dense) {
            EXPECT_LT(texts.size(), chart.values.size() / 2) << "the values would overlap";
            EXPECT_EQ(texts.back(), std::to_string(chart.values.back())) << "the latest is written";
        }
        for (const std::uint64_t value : chart.values) {
            if (chart.dense) {
                EXPECT_NE(chart.svg.find(": " + std::to_string(value) + "</title>"),
                          std::string::npos)
                    << value;
                continue;
            }
            const auto at = std::find(texts.begin(), texts.end(), std::to_string(value));
            ASSERT_NE(at, texts.end()) << value << " in " << chart.svg;
            texts.erase(at);
        }
    }
    EXPECT_EQ(band_label(0), "1-20");
    EXPECT_EQ(band_label(10), "201-220");
    EXPECT_EQ(band_label(50), "1001-");
}

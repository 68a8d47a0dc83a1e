// The report of scan records as one HTML page that stands alone: no script,
// no font, image or style from anywhere (its Content-Security-Policy forbids
// every load), the charts inline SVG, so that it reads the same when mailed,
// opened from a share or printed. It shows what a ReportModel holds, each
// figure as the model has it, and every text of the records escaped
// (scan/report/markup.h).
#pragma once

#include <string>
#include <string_view>

#include "scan/report/report_model.h"

namespace kestrafin::scan::report {

// The page; `version` is the program's that made it.
std::string html_report(const ReportModel& model, std::string_view version);

// The label of a band of scan::length_band: "201-220", the last "1001-".
std::string band_label(std::size_t band);

}  // namespace kestrafin::scan::report

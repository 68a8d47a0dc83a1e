#include "window/folder_problems.h"

#include <algorithm>

#include "scan/sinks/entry_format.h"
#include "window/one_line_text.h"
#include "window/status_line.h"

namespace kestrafin::window {

void FolderProblems::folder_unreadable(const scan::Entry& folder, int error) {
    keep({std::string(folder.path), true, reason_text(error)});
}

void FolderProblems::folder_not_entered(std::string_view directory, search::NotEntered reason,
                                        const scan::ScanReport& /*report*/) {
    keep({std::string(directory), false, window_reason(reason)});
}

void FolderProblems::keep(FolderProblem problem) {
    ++count_;
    if (kept_.size() < kMostFolderProblemsKept) kept_.push_back(std::move(problem));
}

std::string folder_problems_text(const std::vector<FolderProblem>& kept, std::size_t count) {
    std::string text;
    for (const bool unreadable : {true, false}) {
        const auto first = std::find_if(kept.begin(), kept.end(), [&](const FolderProblem& each) {
            return each.unreadable == unreadable;
        });
        if (first == kept.end()) continue;
        if (!text.empty()) text += "\n";
        text += unreadable ? "Could not be read:\n" : "Not entered:\n";
        for (auto each = first; each != kept.end(); ++each)
            if (each->unreadable == unreadable)
                text += one_line_text(each->path) + ": " + each->reason + "\n";
    }
    if (count > kept.size())
        text += "\nand " + std::to_string(count - kept.size()) + " more, not kept\n";
    return text;
}

std::string folder_problems_csv(const std::vector<FolderProblem>& kept) {
    std::string csv = "\xEF\xBB\xBFpath,state,reason\r\n";
    for (const FolderProblem& each : kept) {
        scan::append_csv_field(csv, each.path);
        csv += each.unreadable ? ",unreadable," : ",not entered,";
        scan::append_csv_field(csv, each.reason);
        csv += "\r\n";
    }
    return csv;
}

}  // namespace kestrafin::window

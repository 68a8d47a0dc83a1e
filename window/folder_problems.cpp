#include "window/folder_problems.h"

#include <algorithm>
#include <system_error>

#include "platform/files.h"
#include "scan/sinks/entry_format.h"
#include "search/declined_folders.h"
#include "window/one_line_text.h"

namespace kestrafin::window {
namespace {

// Without the line end and full stop some hosts put after their words.
std::string trimmed(std::string text) {
    while (!text.empty() &&
           (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

}  // namespace

void FolderProblems::folder_unreadable(const scan::Entry& folder, int error) {
    keep({std::string(folder.path), true,
          trimmed(folder.error.empty() ? platform::error_text({error, std::system_category()})
                                       : std::string(folder.error))});
}

void FolderProblems::folder_not_entered(std::string_view directory, search::NotEntered reason,
                                        const scan::ScanReport& /*report*/) {
    // The scanner's words, without its advice on options the window has not.
    std::string why = search::not_entered_reason(reason);
    why = why.substr(0, why.find("; --"));
    if (const auto given = why.find(", and --"); given != std::string::npos) why.resize(given);
    keep({std::string(directory), false, std::move(why)});
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

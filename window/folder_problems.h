// The folders a search could not read or did not enter, each with its reason,
// for the list the status line opens: the report keeps only the first few.
// The walk hands them on its thread; the window reads them once it has ended.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "scan/sink.h"

namespace kestrafin::window {

// Folders kept at most; a search of a whole server that cannot read more
// still counts them all.
inline constexpr std::size_t kMostFolderProblemsKept = 100000;
// The file name their export offers first.
inline constexpr const char* kFoldersExportFileName = "kestrafin-folders.csv";

struct FolderProblem {
    std::string path;
    bool unreadable = true;  // else: not entered
    std::string reason;      // the host's words, or why the walk went past it
};

class FolderProblems : public scan::Sink {
  public:
    void folder_unreadable(const scan::Entry& folder, int error) override;
    void folder_not_entered(std::string_view directory, search::NotEntered reason,
                            const scan::ScanReport& report) override;

    const std::vector<FolderProblem>& kept() const { return kept_; }
    // How many there were, those not kept included.
    std::size_t count() const { return count_; }

  private:
    void keep(FolderProblem problem);

    std::vector<FolderProblem> kept_;
    std::size_t count_ = 0;
};

// The list as the dialog shows it and Copy copies it: the folders that could
// not be read, then those not entered, one a line (one_line_text.h) with its
// reason, and how many were not kept.
std::string folder_problems_text(const std::vector<FolderProblem>& kept, std::size_t count);
// The same as CSV for a spreadsheet: a UTF-8 byte order mark, the header row
// path,state,reason and one record a folder, quoted as the scanner quotes.
std::string folder_problems_csv(const std::vector<FolderProblem>& kept);

}  // namespace kestrafin::window

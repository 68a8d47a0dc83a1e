// What kestrafin-scan tells the user on standard error while it scans: the
// progress line, the folders it cannot read (always), the folders it does
// not enter and the names it leaves out (with -v), and at the end how many
// folders it did not enter.
#pragma once

#include <string>

#include "scan/sink.h"
#include "scanner/progress_line.h"

namespace kestrafin::scanner {

class ScanMessages : public scan::Sink {
  public:
    // `quiet` keeps all but failures and folders left out unsaid; `verbose`
    // names each folder not entered.
    ScanMessages(int descriptor, bool quiet, bool verbose);

    void started(const scan::ScanReport& report) override;
    void folder_unreadable(const scan::Entry& folder, int error) override;
    void folder_not_entered(std::string_view directory, search::NotEntered reason,
                            const scan::ScanReport& report) override;
    void left_out(std::string_view path, bool folder) override;
    void names_unchecked(std::string_view folder) override;
    void folder_done(std::string_view directory, const scan::ScanReport& report) override;

    // A note for the user, unless quiet.
    void warn(const std::string& text);
    // Removes the progress line before the results' last words.
    void clear_progress() { progress_.clear(); }
    // Files below a folder not entered are missing from the list, so this is
    // said even when quiet; `root` is named when given (one of several).
    void say_declined(const scan::ScanReport& report, std::string_view root = {});

  private:
    void say(const std::string& line);

    int descriptor_;
    bool quiet_;
    bool verbose_;
    ProgressLine progress_;
};

}  // namespace kestrafin::scanner

// Entries written to a saved list file (listfile/saved_list.h), the file the
// window reloads. The file takes its place whole once the scan has ended, or
// not at all: a scan whose root cannot be walked leaves an old list as it was.
#pragma once

#include <optional>
#include <string>

#include "listfile/saved_list.h"
#include "scan/sink.h"

namespace kestrafin::scan {

class SavedListOutput : public Sink {
  public:
    explicit SavedListOutput(const std::string& file) : list_(file) {}

    // The list being written, which a walk of its own folder must not list.
    std::optional<search::LeftOutFile> own_file() const override;
    void entry(const Entry& entry) override { list_.add(entry.path); }

    // Puts the list in place. Raises std::system_error when it cannot.
    void finish() { list_.commit(); }

  private:
    listfile::SavedListWriter list_;
};

}  // namespace kestrafin::scan

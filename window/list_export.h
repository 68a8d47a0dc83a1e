// The list exported for a spreadsheet: its rows as the scanner writes CSV
// (scan/sinks/entry_format.h), each with its lengths and the reasons the
// window's search lists it for, in a file the user chose anywhere, so that a
// program folder that cannot be written still lets the results be kept.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "window/entry_store.h"

namespace kestrafin::window {

// The file name the export offers first.
inline constexpr const char* kExportFileName = "kestrafin-list.csv";

// Writes rows `rows` of `store`, in that order, to `file`, replacing it whole
// or leaving it as it was (platform::AtomicFileWriter). `root` is the folder
// the rows were found under, which measures a file lying in it as the search
// did; empty for rows of unknown origin (a reloaded list), which are measured
// from their last separator. Raises std::system_error with the host's reason
// when the file cannot be written; returns false, leaving it untouched, when
// `stop` was set meanwhile.
bool export_csv(const std::string& file, const EntryStore& store,
                const std::vector<std::size_t>& rows, std::string_view root,
                const std::atomic<bool>& stop);

}  // namespace kestrafin::window

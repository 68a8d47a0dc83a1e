// How kestrafin-scan writes one entry: a bare path per line, a CSV record for
// spreadsheets, or a JSON object per line for scripts.
#pragma once

#include <string>
#include <string_view>

#include "scanner/length_rules.h"

namespace kestrafin::scanner {

enum class OutputFormat { lines, csv, json };

class EntryFormat {
  public:
    // `with_target` adds the target path to CSV and JSON; `print_target`
    // writes it instead of the real path in the lines format.
    EntryFormat(OutputFormat format, bool null_terminated, bool with_target, bool print_target);

    // What comes before the first entry: for CSV a UTF-8 byte order mark, so
    // that spreadsheets read non-ASCII names right, and the header row.
    std::string header() const;

    // Appends one entry to `out`. CSV keeps the bytes of every name as they
    // are; JSON shows bytes that are no valid UTF-8 as U+FFFD and then also
    // carries the exact bytes in base64 ("path_base64", "target_path_base64").
    void append(std::string& out, std::string_view path, const EntryLengths& lengths,
                std::string_view target_path) const;

  private:
    OutputFormat format_;
    bool null_terminated_;
    bool with_target_;
    bool print_target_;
};

}  // namespace kestrafin::scanner

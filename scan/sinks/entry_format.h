// How kestrafin-scan writes one entry: a bare path per line, a CSV record for
// spreadsheets, or a JSON object per line for scripts.
#pragma once

#include <string>
#include <string_view>

#include "scan/entry.h"

namespace kestrafin::scan {

enum class OutputFormat { lines, csv, json };

// Appends `text` as one CSV field: quoted where it holds a quote, a comma or
// a line break, and with a single quote before a text that a spreadsheet
// would run as a formula (see EntryFormat::append).
void append_csv_field(std::string& out, std::string_view text);

// Appends `text` as a JSON string, each byte of no valid UTF-8 as U+FFFD.
void append_json_string(std::string& out, std::string_view text);

// Appends "name":text and, where text is no valid UTF-8, "name_base64" with
// its exact bytes.
void append_json_text_field(std::string& out, std::string_view name, std::string_view text);

class EntryFormat {
  public:
    // `with_target` adds the target path to CSV and JSON; `print_target`
    // writes it instead of the real path in the lines format.
    EntryFormat(OutputFormat format, bool null_terminated, bool with_target, bool print_target);

    // What comes before the first entry: for CSV a UTF-8 byte order mark, so
    // that spreadsheets read non-ASCII names right, and the header row:
    // path,folder_length,path_length[,target_path],kind,reasons,error.
    std::string header() const;

    // Appends one record to `out`. CSV keeps the bytes of every name as they
    // are, but puts a single quote before a field that begins with "=", "+",
    // "-", "@", a tab or a carriage return, so that a spreadsheet shows it as
    // text instead of running it as a formula, and joins the reason codes
    // with blanks; JSON gives them as an array
    // and shows bytes that are no valid UTF-8 as U+FFFD and then also carries
    // the exact bytes in base64 ("path_base64", "target_path_base64"). The
    // lines format writes the path alone, and nothing for an error.
    void append(std::string& out, const Entry& record) const;

  private:
    OutputFormat format_;
    bool null_terminated_;
    bool with_target_;
    bool print_target_;
};

}  // namespace kestrafin::scan

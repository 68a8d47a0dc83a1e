// Entries written to a stream as they are found: a bare path per line, CSV
// or JSON lines (entry_format.h), in blocks. On a terminal each entry is
// escaped onto one line; pipes and files get the names' bytes exactly.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "scan/sink.h"
#include "scan/sinks/entry_format.h"

namespace kestrafin::scan {

// Writes all of `bytes` to `descriptor`. Raises std::system_error whose text
// begins with `what` when the stream fails.
void write_output(int descriptor, std::string_view bytes,
                  const char* what = "cannot write the output");

class TextOutput : public Sink {
  public:
    // `warn` tells the user something worth knowing about the output.
    // `with_target` adds the target path to CSV and JSON; `print_target`
    // writes it instead of the real path in the lines format.
    TextOutput(OutputFormat kind, bool null_terminated, bool with_target, bool print_target,
               int descriptor, std::function<void(const std::string&)> warn);

    bool needs_lengths() const override { return kind_ != OutputFormat::lines; }
    void entry(const Entry& entry) override;
    // Records carry unreadable folders; the lines format leaves them out.
    void folder_unreadable(const Entry& folder, int error) override;

    // Writes what is still buffered, the header first. Raises
    // std::system_error when the stream fails. Nothing is written before the
    // first full block or this, so a scan whose root cannot be walked writes
    // nothing.
    void finish();

  private:
    void write(const Entry& entry);
    void flush();

    EntryFormat format_;
    OutputFormat kind_;
    bool null_terminated_;
    bool print_target_;
    int descriptor_;
    bool escape_;
    std::function<void(const std::string&)> warn_;
    std::string buffer_;
    bool warned_line_break_ = false;
};

}  // namespace kestrafin::scan

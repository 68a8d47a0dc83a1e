#include "scan/sinks/text_output.h"

#include <system_error>

#include "platform/files.h"
#include "platform/process.h"
#include "scan/sinks/terminal_quote.h"

namespace kestrafin::scan {

namespace {
constexpr std::size_t kOutputBlock = 256 * 1024;
}  // namespace

void write_output(int descriptor, std::string_view bytes, const char* what) {
    try {
        platform::write_stream(descriptor, bytes);
    } catch (const std::system_error& error) {
        throw std::system_error(error.code(), what);
    }
}

TextOutput::TextOutput(OutputFormat kind, bool null_terminated, bool with_target, bool print_target,
                       int descriptor, std::function<void(const std::string&)> warn)
    : format_(kind, null_terminated, with_target, print_target),
      kind_(kind),
      null_terminated_(null_terminated),
      print_target_(print_target),
      descriptor_(descriptor),
      // Entries are escaped only for a person reading a terminal.
      escape_(!null_terminated && platform::stream_is_terminal(descriptor)),
      warn_(std::move(warn)) {
    buffer_.reserve(kOutputBlock + 8192);
    buffer_ = format_.header();
}

void TextOutput::entry(const Entry& entry) {
    const std::string_view shown = print_target_ ? entry.target_path : entry.path;
    if (kind_ == OutputFormat::lines && !null_terminated_ && !escape_ && !warned_line_break_ &&
        shown.find('\n') != std::string_view::npos) {
        warned_line_break_ = true;
        warn_(
            "a name holds a line break, so one entry spans several lines; use -0 to end "
            "entries with NUL instead");
    }
    write(entry);
}

void TextOutput::folder_unreadable(const Entry& folder, int /*error*/) {
    if (kind_ != OutputFormat::lines) write(folder);
}

void TextOutput::write(const Entry& entry) {
    if (!escape_) {
        format_.append(buffer_, entry);
    } else if (kind_ == OutputFormat::lines) {
        const std::string path = escaped_for_terminal(entry.path);
        const std::string target = escaped_for_terminal(entry.target_path);
        Entry escaped = entry;
        escaped.path = path;
        escaped.target_path = target;
        format_.append(buffer_, escaped);
    } else {
        // A record keeps its own line end; what stands before it is made printable.
        std::string text;
        format_.append(text, entry);
        std::size_t end = text.size();
        while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r')) --end;
        buffer_.append(printable_text(std::string_view(text).substr(0, end)));
        buffer_.append(text, end);
    }
    if (buffer_.size() >= kOutputBlock) flush();
}

void TextOutput::flush() {
    write_output(descriptor_, buffer_, "cannot write the output");
    buffer_.clear();
}

void TextOutput::finish() {
    flush();
}

}  // namespace kestrafin::scan

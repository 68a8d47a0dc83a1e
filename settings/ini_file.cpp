#include "settings/ini_file.h"

#include <cstdint>
#include <new>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "platform/files.h"
#include "platform/stored_text.h"

namespace Kestrafin_Lib {

namespace {

namespace platform = kestrafin::platform;

constexpr std::string_view kWhat = "settings file";
constexpr std::string_view kCrLf = "\r\n";
constexpr std::size_t kPiece = 64 * 1024;

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

// Lower case of ASCII letters only: bytes of other characters stay as they
// are, so nothing else can come to match.
std::string lowered(std::string_view text) {
    std::string copy(text);
    for (char& c : copy) c = lower(c);
    return copy;
}

bool starts_with_lowered(std::string_view line, std::string_view lowered_prefix) {
    if (line.size() < lowered_prefix.size()) return false;
    for (std::size_t i = 0; i < lowered_prefix.size(); ++i)
        if (lower(line[i]) != lowered_prefix[i]) return false;
    return true;
}

bool equals_lowered(std::string_view line, std::string_view lowered_text) {
    return line.size() == lowered_text.size() && starts_with_lowered(line, lowered_text);
}

bool is_control(char c) {
    return static_cast<unsigned char>(c) <= 13;
}

void refuse_line_breaks(std::string_view role, const std::string& text,
                        const std::string& file_name) {
    if (text.find_first_of("\r\n") != std::string::npos)
        throw std::invalid_argument("cannot store a " + std::string(role) +
                                    " that holds a line break in settings file '" + file_name +
                                    "'");
}

// Makes the file exist and, for a write, writable; a settings file installed
// read-only for this user can still be read.
void prepare(const std::string& file_name, bool writing) {
    platform::ensure_file_exists(file_name, kWhat);
    try {
        platform::make_writable(file_name, kWhat);
    } catch (const std::system_error&) {
        if (writing) throw;
    }
}

enum class LineEnd { None, Cr, CrLf };

std::string_view end_bytes(LineEnd end) {
    switch (end) {
        case LineEnd::Cr:
            return "\r";
        case LineEnd::CrLf:
            return kCrLf;
        case LineEnd::None:
            break;
    }
    return {};
}

struct Line {
    std::string_view content;  // valid until the next line is read
    LineEnd end = LineEnd::None;
    std::uint64_t offset = 0;  // of the content's first byte in the file
};

// The lines of a settings file, read in pieces: a line ends at CR LF or at a
// lone CR, and a lone LF stays inside its line. A byte order mark at the
// start is no part of the first line. Holds one piece and the line being read.
class LineReader {
  public:
    explicit LineReader(platform::SequentialFileReader& file, std::function<void()> answered = {})
        : file_(file), answered_(std::move(answered)) {
        while (!at_end_ && buffer_.size() < platform::kByteOrderMark.size()) fill();
        marked_ = std::string_view(buffer_).starts_with(platform::kByteOrderMark);
        if (marked_) begin_ = platform::kByteOrderMark.size();
        offset_ = begin_;
    }

    bool marked() const { return marked_; }

    // Every byte read so far goes to `each` as well, once.
    void watch(std::function<void(std::string_view)> each) {
        watch_ = std::move(each);
        if (watch_) watch_(buffer_);
    }

    bool next(Line& line) {
        for (;;) {
            const std::size_t cr = buffer_.find('\r', scanned_);
            if (cr != std::string::npos && (cr + 1 < buffer_.size() || at_end_)) {
                const bool lf = cr + 1 < buffer_.size() && buffer_[cr + 1] == '\n';
                return take(line, cr, lf ? LineEnd::CrLf : LineEnd::Cr, cr + (lf ? 2 : 1));
            }
            if (cr == std::string::npos && at_end_) {
                if (begin_ == buffer_.size()) return false;
                return take(line, buffer_.size(), LineEnd::None, buffer_.size());
            }
            scanned_ = cr == std::string::npos ? buffer_.size() : cr;
            fill();
        }
    }

  private:
    bool take(Line& line, std::size_t content_end, LineEnd end, std::size_t next) {
        line.content = std::string_view(buffer_).substr(begin_, content_end - begin_);
        line.end = end;
        line.offset = offset_;
        offset_ += next - begin_;
        begin_ = next;
        scanned_ = next;
        return true;
    }

    // Reads the next piece behind what is still unread.
    void fill() {
        buffer_.erase(0, begin_);
        scanned_ -= std::min(scanned_, begin_);
        begin_ = 0;
        const std::size_t kept = buffer_.size();
        buffer_.resize(kept + kPiece);
        const std::size_t got = file_.read(buffer_.data() + kept, kPiece);
        buffer_.resize(kept + got);
        at_end_ = got == 0;
        if (answered_) answered_();
        if (watch_ && got > 0) watch_(std::string_view(buffer_).substr(kept));
    }

    platform::SequentialFileReader& file_;
    std::function<void()> answered_;
    std::function<void(std::string_view)> watch_;
    std::string buffer_;
    std::size_t begin_ = 0;    // of the line not yet taken
    std::size_t scanned_ = 0;  // searched for a CR up to here
    std::uint64_t offset_ = 0;
    bool at_end_ = false;
    bool marked_ = false;
};

// 64-bit FNV-1a over every byte read: tells whether a file read twice held
// the same bytes both times.
struct Fingerprint {
    std::uint64_t value = 14695981039346656037ull;
    void add(std::string_view bytes) {
        for (const char c : bytes)
            value = (value ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
};

// readini's rule, line by line: the key line counts whatever its value
// holds, so a value with "[" does not end the section; any other line with
// a "[" ends it, and starts it again when it is the header.
class KeyFinder {
  public:
    KeyFinder(const std::string& header, const std::string& key_prefix)
        : header_(header),
          key_prefix_(key_prefix),
          key_may_match_(key_prefix.find('[') == std::string::npos) {}

    // False once the value is found.
    bool line(std::string_view text) {
        if (in_section_ && key_may_match_ && starts_with_lowered(text, key_prefix_)) {
            value_ = std::string(text.substr(key_prefix_.size()));
            return false;
        }
        if (text.find('[') != std::string_view::npos) in_section_ = equals_lowered(text, header_);
        return true;
    }
    const std::optional<std::string>& value() const { return value_; }

  private:
    const std::string& header_;
    const std::string& key_prefix_;
    const bool key_may_match_;
    bool in_section_ = false;
    std::optional<std::string> value_;
};

// Where writeini's edit goes, learned from the lines in one form. The header
// is the first line that is exactly "[section]" and ends in a CR; the section
// runs to the first later line holding a "[" (that line included, for the
// key); the key line is the first line after the header that starts with
// "key=", and counts only within the section.
class EditPlan {
  public:
    EditPlan(const std::string& header, const std::string& key_prefix, unsigned fit_code_page)
        : header_(header), key_prefix_(key_prefix), fit_code_page_(fit_code_page) {}

    void line(std::size_t index, std::string_view text, LineEnd end) {
        bool replaced = false;
        if (!header_line) {
            if (end != LineEnd::None && equals_lowered(text, header_)) header_line = index;
        } else if (!located_) {
            if (starts_with_lowered(text, key_prefix_)) {
                key_line = index;
                replaced = true;
                located_ = true;
            } else if (text.find('[') != std::string_view::npos) {
                located_ = true;  // a key line further on lies outside the section
            }
        }
        // The key line gives way to the new one; every other line is kept.
        if (fit_code_page_ != 0 && fits && !replaced)
            fits = platform::append_in_code_page(scratch_, text, fit_code_page_);
        scratch_.clear();
    }

    std::optional<std::size_t> header_line;
    std::optional<std::size_t> key_line;
    // Whether every kept line has an exact form in the code page asked for.
    bool fits = true;

  private:
    const std::string& header_;
    const std::string& key_prefix_;
    const unsigned fit_code_page_;
    bool located_ = false;
    std::string scratch_;
};

// Tidies the written text as it goes: drops the control characters before
// the first other character, and shrinks every run of three or more CR LF
// pairs to two. Control characters at the end never reach it.
class TidyOutput {
  public:
    explicit TidyOutput(platform::AtomicFileWriter& file) : file_(file) {}

    void put(std::string_view bytes) {
        for (std::size_t at = 0; at < bytes.size();) {
            const char c = bytes[at];
            if (!is_control(c)) {
                std::size_t end = at + 1;
                while (end < bytes.size() && !is_control(bytes[end])) ++end;
                settle_cr();
                pairs_ = 0;
                started_ = true;
                out_.append(bytes.substr(at, end - at));
                at = end;
                continue;
            }
            ++at;
            if (!started_) continue;
            if (c == '\n' && pending_cr_) {
                pending_cr_ = false;
                if (++pairs_ <= 2) out_.append(kCrLf);
                continue;
            }
            settle_cr();
            if (c == '\r') {
                pending_cr_ = true;
            } else {
                pairs_ = 0;
                out_.push_back(c);
            }
        }
        if (out_.size() >= kPiece) flush();
    }

    void raw(std::string_view bytes) { out_.append(bytes); }

    void finish() {
        settle_cr();
        out_.append(kCrLf);
        flush();
    }

  private:
    // A CR not followed by LF stands alone and ends any run of pairs.
    void settle_cr() {
        if (!pending_cr_) return;
        pending_cr_ = false;
        pairs_ = 0;
        out_.push_back('\r');
    }
    void flush() {
        file_.write(out_);
        out_.clear();
    }

    platform::AtomicFileWriter& file_;
    std::string out_;
    bool started_ = false;
    bool pending_cr_ = false;
    std::size_t pairs_ = 0;
};

// Runs `body`; a failure to get memory becomes an error that says what
// failed, on which file, of which size.
template <typename Body>
auto in_words(std::string_view action, const std::string& file_name, const std::uint64_t& size,
              Body body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        platform::raise_not_enough_memory(action, kWhat, file_name, size);
    }
}

}  // namespace

std::string readini(const std::string& file_name, const std::string& section,
                    const std::string& key) {
    return readini(file_name, section, key, {});
}

std::string readini(const std::string& file_name, const std::string& section,
                    const std::string& key, const std::function<void()>& answered) {
    std::uint64_t size = 0;
    return in_words("read", file_name, size, [&] {
        const std::string header = "[" + lowered(section) + "]";
        const std::string key_prefix = lowered(key) + "=";
        prepare(file_name, false);
        platform::SequentialFileReader file(file_name, kWhat);
        size = file.size();
        LineReader lines(file, answered);
        const unsigned code_page = platform::stored_text_code_page();

        // Stored in the program's bytes or marked as UTF-8, the first match wins.
        KeyFinder as_utf8(header, key_prefix);
        Line line;
        if (code_page == 0 || lines.marked()) {
            while (lines.next(line) && as_utf8.line(line.content)) {
            }
            return as_utf8.value().value_or(std::string());
        }
        // Otherwise the form is known only at the end: the file is UTF-8 when
        // it is so throughout, and in the code page otherwise.
        platform::Utf8Check utf8;
        lines.watch([&](std::string_view bytes) { utf8.add(bytes); });
        KeyFinder in_code_page(header, key_prefix);
        std::string text;
        bool utf8_searching = true;
        bool code_page_searching = true;
        while (lines.next(line)) {
            if (utf8_searching) utf8_searching = as_utf8.line(line.content);
            if (code_page_searching) {
                text.clear();
                platform::append_from_code_page(text, line.content, code_page);
                code_page_searching = in_code_page.line(text);
            }
            if (utf8.failed()) {
                if (!code_page_searching) break;
                utf8_searching = false;
            }
        }
        const auto& found = utf8.valid() ? as_utf8.value() : in_code_page.value();
        return found.value_or(std::string());
    });
}

void writeini(const std::string& file_name, const std::string& section, const std::string& key,
              const std::string& value) {
    refuse_line_breaks("section name", section, file_name);
    refuse_line_breaks("key", key, file_name);
    refuse_line_breaks("value", value, file_name);
    if (!value.empty() && is_control(value.back()))
        throw std::invalid_argument(
            "cannot store a value that ends in a control character in settings file '" + file_name +
            "'");

    std::uint64_t size = 0;
    in_words("rewrite", file_name, size, [&] {
        const std::string header = "[" + lowered(section) + "]";
        const std::string key_prefix = lowered(key) + "=";
        const std::string key_line = key + "=" + value;
        prepare(file_name, true);
        std::optional<platform::SequentialFileReader> reader;
        reader.emplace(file_name, kWhat);
        platform::SequentialFileReader& file = *reader;
        size = file.size();
        const unsigned code_page = platform::stored_text_code_page();

        // First pass: where the edit goes, in each form the file may be in,
        // where its last character above 13 stands, and its fingerprint.
        std::optional<EditPlan> as_utf8, in_code_page;
        platform::Utf8Check utf8;
        Fingerprint first;
        std::optional<std::uint64_t> last_printable;
        bool marked = false;
        {
            LineReader lines(file);
            marked = lines.marked();
            lines.watch([&](std::string_view bytes) {
                first.add(bytes);
                if (code_page != 0 && !marked) utf8.add(bytes);
            });
            as_utf8.emplace(header, key_prefix, code_page);
            if (code_page != 0 && !marked) in_code_page.emplace(header, key_prefix, 0);
            Line line;
            std::string text;
            for (std::size_t index = 0; lines.next(line); ++index) {
                for (std::size_t at = line.content.size(); at > 0; --at)
                    if (!is_control(line.content[at - 1])) {
                        last_printable = line.offset + at - 1;
                        break;
                    }
                if (as_utf8 && utf8.failed()) as_utf8.reset();
                if (as_utf8) as_utf8->line(index, line.content, line.end);
                if (in_code_page) {
                    text.clear();
                    platform::append_from_code_page(text, line.content, code_page);
                    in_code_page->line(index, text, line.end);
                }
            }
        }
        const platform::StoredForm read_form =
            platform::form_to_read(marked, utf8.valid(), code_page);
        const EditPlan& plan = read_form.code_page == 0 ? *as_utf8 : *in_code_page;

        // The new text fits the code page when the kept lines do (a file in
        // the code page already does) and the new lines do too.
        std::string scratch;
        const bool fits =
            (read_form.code_page != 0 || plan.fits) &&
            platform::append_in_code_page(scratch, key_line, code_page) &&
            (plan.header_line || platform::append_in_code_page(scratch, section, code_page));
        const platform::StoredForm write_form = platform::form_to_write(fits, marked, code_page);

        // Second pass: the text with its edit, tidied, into the new file.
        platform::AtomicFileWriter out(file_name, kWhat);
        TidyOutput tidy(out);
        if (write_form.byte_order_mark) tidy.raw(platform::kByteOrderMark);
        std::string converted;
        const auto put = [&](std::string_view bytes) {
            if (write_form.code_page == read_form.code_page) {
                tidy.put(bytes);
                return;
            }
            converted.clear();
            std::string text;
            platform::append_program_text(text, bytes, read_form);
            if (!platform::append_stored_text(converted, text, write_form))
                throw std::runtime_error("settings file '" + file_name +
                                         "' changed while it was rewritten");
            tidy.put(converted);
        };
        const auto put_new = [&](std::string_view text) {
            converted.clear();
            platform::append_stored_text(converted, text, write_form);
            tidy.put(converted);
        };
        // Past the edit, the text ends with its last character above 13.
        const std::uint64_t keep_to = last_printable ? *last_printable + 1 : 0;
        const auto put_tail = [&](const Line& line) {
            if (line.offset >= keep_to) return;
            const auto kept = static_cast<std::size_t>(
                std::min<std::uint64_t>(line.content.size(), keep_to - line.offset));
            put(line.content.substr(0, kept));
            if (kept == line.content.size() && line.offset + kept < keep_to)
                put(end_bytes(line.end));
        };

        file.rewind();
        LineReader lines(file);
        Fingerprint second;
        lines.watch([&](std::string_view bytes) { second.add(bytes); });
        Line line;
        for (std::size_t index = 0; lines.next(line); ++index) {
            if (!plan.header_line || index < *plan.header_line ||
                (plan.key_line && index < *plan.key_line)) {
                put(line.content);
                put(end_bytes(line.end));
            } else if (index == *plan.header_line) {
                put(line.content);
                put(end_bytes(line.end));
                if (!plan.key_line) {
                    put_new(key_line);
                    // The line break after the new line stays only where
                    // more text follows.
                    const std::uint64_t body =
                        line.offset + line.content.size() + end_bytes(line.end).size();
                    if (keep_to > body) put_new(kCrLf);
                }
            } else if (plan.key_line && index == *plan.key_line) {
                put_new(key_line);
                Line end_only = line;
                end_only.content = end_bytes(line.end);
                end_only.end = LineEnd::None;
                end_only.offset = line.offset + line.content.size();
                put_tail(end_only);
            } else {
                put_tail(line);
            }
        }
        if (!plan.header_line) {
            put_new("\r\n\r\n[");
            put_new(section);
            put_new("]\r\n");
            put_new(key_line);
        }
        if (second.value != first.value)
            throw std::runtime_error("settings file '" + file_name +
                                     "' changed while it was rewritten");
        tidy.finish();
        // Windows replaces a file more readily with no handle open on it.
        reader.reset();
        out.commit();
    });
}

}  // namespace Kestrafin_Lib

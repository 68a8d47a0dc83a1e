#include "scan/record/record_reader.h"

#include "scan/record/line_readers.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <unordered_map>

#include "platform/files.h"
#include "scan/reasons.h"
#include "scan/sinks/record_output.h"
#include "scan/sinks/summary.h"
#include "search/path_text.h"

namespace kestrafin::scan::record {

RecordError::RecordError(const std::string& file, std::size_t line, const std::string& what)
    : std::runtime_error(file + ":" + std::to_string(line) + ": " + what),
      file_(file),
      line_(line) {}

namespace {

using Json = nlohmann::json;

constexpr std::uint64_t kLargestInteger = (std::uint64_t{1} << 63) - 1;
// The deepest a line nests: the line's object, an array, an object in it.
constexpr int kDeepest = 3;
// More keys than any object of the format has, which bounds the search for a
// repeated one.
constexpr std::size_t kMostKeys = 64;
constexpr std::size_t kPiece = std::size_t{1} << 18;
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

enum class Type {
    string,
    unsigned_number,
    negative_number,
    fraction,
    boolean,
    null,
    array,
    object
};

struct Value {
    Type type = Type::null;
    std::string text;
    std::uint64_t number = 0;
    double fraction = 0;
    bool flag = false;
};

struct Member {
    std::string key;
    Value value;
};

// One key of a line's object with its value: a scalar, an array of scalars
// or of objects of scalars, or an object of scalars.
struct Field {
    std::string key;
    Value value;
    std::vector<Value> items;
    std::vector<std::vector<Member>> objects;
    std::vector<Member> members;
    bool used = false;  // taken by the check of its kind
};

const char* type_name(Type type) {
    switch (type) {
        case Type::string:
            return "a string";
        case Type::unsigned_number:
        case Type::negative_number:
        case Type::fraction:
            return "a number";
        case Type::boolean:
            return "a boolean";
        case Type::null:
            return "null";
        case Type::array:
            return "an array";
        case Type::object:
            return "an object";
    }
    return "a value";
}

// Collects one line's values as the parser reads them, refusing what the
// format never holds as soon as it is read: nesting deeper than it goes, a
// repeated key, a NUL in a text. The containers are kept from line to line.
class LineCollector : public nlohmann::json_sax<Json> {
  public:
    void reset() {
        used_ = 0;
        depth_ = 0;
        top_is_object_ = false;
        error_.clear();
    }
    const std::string& error() const { return error_; }
    bool top_is_object() const { return top_is_object_; }
    std::size_t size() const { return used_; }
    Field& field(std::size_t at) { return fields_[at]; }

    bool null() override { return scalar(Value{Type::null, {}, 0, 0, false}); }
    bool boolean(bool value) override { return scalar(Value{Type::boolean, {}, 0, 0, value}); }
    bool number_integer(number_integer_t value) override {
        return scalar(Value{Type::negative_number, {}, 0, static_cast<double>(value), false});
    }
    bool number_unsigned(number_unsigned_t value) override {
        return scalar(Value{Type::unsigned_number, {}, value, static_cast<double>(value), false});
    }
    bool number_float(number_float_t value, const string_t& /*text*/) override {
        return scalar(Value{Type::fraction, {}, 0, value, false});
    }
    // Only the full parser decodes escapes, which may give a NUL.
    void full_parser(bool full) { full_parser_ = full; }

    bool string(string_t& value) override {
        if (full_parser_ && value.find('\0') != std::string::npos)
            return fail("holds a NUL in a text");
        Value text{Type::string, {}, 0, 0, false};
        text.text.swap(value);
        return scalar(std::move(text));
    }
    bool binary(binary_t& /*value*/) override { return fail("holds binary data"); }
    bool start_object(std::size_t /*size*/) override {
        ++depth_;
        if (depth_ == 1) {
            top_is_object_ = true;
            return true;
        }
        if (depth_ == 2) {
            current().value.type = Type::object;
            return true;
        }
        if (depth_ == kDeepest && current().value.type == Type::array) {
            current().objects.emplace_back();
            return true;
        }
        return fail("nests deeper than the format does");
    }
    bool key(string_t& key) override {
        if (full_parser_ && key.find('\0') != std::string::npos)
            return fail("holds a NUL in a key");
        if (depth_ == 1) {
            if (used_ == kMostKeys) return fail("holds more keys in an object than the format has");
            for (std::size_t at = 0; at < used_; ++at)
                if (fields_[at].key == key) return fail("repeats the key " + key);
            if (used_ == fields_.size()) fields_.emplace_back();
            Field& field = fields_[used_++];
            field.key.swap(key);
            field.value = Value{};
            field.items.clear();
            field.objects.clear();
            field.members.clear();
            field.used = false;
            return true;
        }
        std::vector<Member>& members = depth_ == 2 ? current().members : current().objects.back();
        if (members.size() == kMostKeys)
            return fail("holds more keys in an object than the format has");
        for (const Member& member : members)
            if (member.key == key) return fail("repeats the key " + key);
        members.push_back({std::move(key), Value{}});
        return true;
    }
    bool end_object() override {
        --depth_;
        return true;
    }
    bool start_array(std::size_t /*size*/) override {
        ++depth_;
        if (depth_ == 2) {
            current().value.type = Type::array;
            return true;
        }
        if (depth_ == 1) return fail("is no JSON object");
        return fail("nests deeper than the format does");
    }
    bool end_array() override {
        --depth_;
        return true;
    }
    bool parse_error(std::size_t /*position*/, const std::string& /*last_token*/,
                     const nlohmann::detail::exception& failure) override {
        // "[json.exception.parse_error.101] parse error at line 1, column 4: ..."
        std::string_view why = failure.what();
        if (const std::size_t column = why.find("column "); column != std::string_view::npos)
            why.remove_prefix(column);
        const bool utf8 = why.find("UTF-8") != std::string_view::npos;
        return fail((utf8 ? "holds invalid UTF-8 (" : "is no valid JSON (") + std::string(why) +
                    ")");
    }

  private:
    Field& current() { return fields_[used_ - 1]; }
    bool scalar(Value value) {
        if (depth_ == 0) return fail("is no JSON object");
        if (depth_ == 1) {
            current().value = std::move(value);
        } else if (current().value.type == Type::array) {
            if (depth_ == 2)
                current().items.push_back(std::move(value));
            else
                current().objects.back().back().value = std::move(value);
        } else {
            current().members.back().value = std::move(value);
        }
        return true;
    }
    bool fail(std::string why) {
        if (error_.empty()) error_ = std::move(why);
        return false;
    }

    std::vector<Field> fields_;
    std::size_t used_ = 0;
    int depth_ = 0;
    bool top_is_object_ = false;
    bool full_parser_ = false;
    std::string error_;
};

// Reads a line as the writer writes it (no blanks, no escapes, no signs,
// fractions or exponents), making the collector's calls the full parser
// would make for it; anything else is left to the full parser, which also
// says what is wrong with it. Most lines of a large record are such lines,
// and this reads them several times as fast.
class PlainLine {
  public:
    enum class Outcome { read, refused, not_plain };

    PlainLine(std::string_view text, LineCollector& collector)
        : at_(text.data()), end_(text.data() + text.size()), collector_(collector) {}

    Outcome read() {
        if (!value()) return outcome_;
        return at_ == end_ ? Outcome::read : Outcome::not_plain;
    }

  private:
    bool value() {
        if (at_ == end_) return not_plain();
        switch (*at_) {
            case '{':
                return object();
            case '[':
                return array();
            case '"':
                return string() && told(collector_.string(text_));
            case 't':
                return literal("true") && told(collector_.boolean(true));
            case 'f':
                return literal("false") && told(collector_.boolean(false));
            case 'n':
                return literal("null") && told(collector_.null());
            default:
                return number();
        }
    }
    bool object() {
        ++at_;
        if (!told(collector_.start_object(std::size_t(-1)))) return false;
        if (at_ != end_ && *at_ == '}') {
            ++at_;
            return told(collector_.end_object());
        }
        for (;;) {
            if (at_ == end_ || *at_ != '"' || !string() || !told(collector_.key(text_)))
                return outcome_ == Outcome::refused ? false : not_plain();
            if (at_ == end_ || *at_ != ':') return not_plain();
            ++at_;
            if (!value()) return false;
            if (at_ == end_) return not_plain();
            if (*at_ == '}') {
                ++at_;
                return told(collector_.end_object());
            }
            if (*at_ != ',') return not_plain();
            ++at_;
        }
    }
    bool array() {
        ++at_;
        if (!told(collector_.start_array(std::size_t(-1)))) return false;
        if (at_ != end_ && *at_ == ']') {
            ++at_;
            return told(collector_.end_array());
        }
        for (;;) {
            if (!value()) return false;
            if (at_ == end_) return not_plain();
            if (*at_ == ']') {
                ++at_;
                return told(collector_.end_array());
            }
            if (*at_ != ',') return not_plain();
            ++at_;
        }
    }
    bool string() {
        const char* const start = ++at_;
        while (at_ != end_) {
            // Eight bytes at a time while none is a quote, a backslash, a
            // control character or past ASCII.
            while (end_ - at_ >= 8) {
                std::uint64_t word;
                std::memcpy(&word, at_, 8);
                constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
                constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
                const std::uint64_t quote = word ^ (kOnes * '"');
                const std::uint64_t backslash = word ^ (kOnes * '\\');
                const std::uint64_t stops = ((quote - kOnes) & ~quote) |
                                            ((backslash - kOnes) & ~backslash) |
                                            (word - kOnes * 0x20) | word;
                if ((stops & kHigh) != 0) break;
                at_ += 8;
            }
            if (at_ == end_) break;
            const unsigned char c = static_cast<unsigned char>(*at_);
            if (c == '"') {
                text_.assign(start, at_);
                ++at_;
                return true;
            }
            if (c == '\\' || c < 0x20) return not_plain();
            if (c < 0x80) {
                ++at_;
                continue;
            }
            const std::size_t length = search::utf8_sequence_length(
                std::string_view(at_, static_cast<std::size_t>(end_ - at_)));
            if (length == 0) return not_plain();
            at_ += length;
        }
        return not_plain();
    }
    bool literal(std::string_view word) {
        if (static_cast<std::size_t>(end_ - at_) < word.size() ||
            std::string_view(at_, word.size()) != word)
            return not_plain();
        at_ += word.size();
        return true;
    }
    bool number() {
        const char* const start = at_;
        std::uint64_t value = 0;
        while (at_ != end_ && *at_ >= '0' && *at_ <= '9') value = value * 10 + (*at_++ - '0');
        const std::size_t digits = static_cast<std::size_t>(at_ - start);
        // Up to 19 digits always fit; a leading zero, a sign or a fraction
        // is the full parser's.
        if (digits == 0 || digits > 19 || (*start == '0' && digits > 1)) return not_plain();
        if (at_ != end_ && (*at_ == '.' || *at_ == 'e' || *at_ == 'E')) return not_plain();
        return told(collector_.number_unsigned(value));
    }
    bool told(bool accepted) {
        if (!accepted) outcome_ = Outcome::refused;
        return accepted;
    }
    bool not_plain() {
        if (outcome_ != Outcome::refused) outcome_ = Outcome::not_plain;
        return false;
    }

    const char* at_;
    const char* const end_;
    LineCollector& collector_;
    std::string text_;
    Outcome outcome_ = Outcome::read;
};

struct LineFault {
    std::string what;
};

[[noreturn]] void refuse(std::string what) {
    throw LineFault{std::move(what)};
}

int base64_digit(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

std::optional<std::string> base64_decoded(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t at = 0; at < text.size(); at += 4) {
        const bool last = at + 4 == text.size();
        int digits[4];
        int padding = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text[at + i];
            if (c == '=' && last && i >= 2 && (i == 3 || text[at + 3] == '=')) {
                digits[i] = 0;
                ++padding;
                continue;
            }
            digits[i] = base64_digit(c);
            if (digits[i] < 0) return std::nullopt;
        }
        const unsigned value =
            static_cast<unsigned>(digits[0] << 18 | digits[1] << 12 | digits[2] << 6 | digits[3]);
        // The bits padding stands for must be zero, so one text has one meaning.
        if ((padding == 1 && (value & 0xFF) != 0) || (padding == 2 && (value & 0xFFFF) != 0))
            return std::nullopt;
        bytes.push_back(static_cast<char>(value >> 16));
        if (padding < 2) bytes.push_back(static_cast<char>((value >> 8) & 0xFF));
        if (padding < 1) bytes.push_back(static_cast<char>(value & 0xFF));
    }
    return bytes;
}

// `bytes` as the writer shows them in a text: each byte of no valid UTF-8
// sequence as U+FFFD.
std::string as_text(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t length = search::utf8_sequence_length(bytes.substr(at));
        if (length == 0) {
            text.append(kReplacement);
            ++at;
            continue;
        }
        text.append(bytes.substr(at, length));
        at += length;
    }
    return text;
}

// The exact bytes of the text `value` under `key`, from `key_base64` where
// that is given beside it.
void take_exact_bytes(std::string& value, std::string_view key, Value* base64) {
    if (base64 == nullptr) return;
    if (base64->type != Type::string) refuse(std::string(key) + "_base64 is no string");
    std::optional<std::string> bytes = base64_decoded(base64->text);
    if (!bytes) refuse(std::string(key) + "_base64 is no base64");
    if (bytes->find('\0') != std::string::npos) refuse(std::string(key) + "_base64 holds a NUL");
    if (as_text(*bytes) != value)
        refuse(std::string(key) + " does not agree with " + std::string(key) + "_base64");
    value = std::move(*bytes);
}

std::uint64_t as_integer(const Value& value, std::string_view key) {
    if (value.type != Type::unsigned_number || value.number > kLargestInteger)
        refuse(std::string(key) + " is no integer from 0 to 2^63-1");
    return value.number;
}

double as_seconds(const Value& value, std::string_view key) {
    if ((value.type != Type::unsigned_number && value.type != Type::fraction) ||
        !std::isfinite(value.fraction) || value.fraction < 0)
        refuse(std::string(key) + " is no number of seconds");
    return value.fraction;
}

// The keys of one line, checked for the kind it is.
class LineFields {
  public:
    explicit LineFields(LineCollector& line) : line_(line) {}

    Field* find(std::string_view key) {
        for (std::size_t at = 0; at < line_.size(); ++at)
            if (line_.field(at).key == key) return &line_.field(at);
        return nullptr;
    }
    Field& need(std::string_view key, Type type) {
        Field* field = find(key);
        if (field == nullptr) refuse("lacks " + std::string(key));
        if (field->value.type != type)
            refuse(std::string(key) + " is " + type_name(field->value.type) + ", not " +
                   type_name(type));
        return *field;
    }
    // A text's exact bytes.
    std::string& text(std::string_view key) {
        Field& field = need(key, Type::string);
        if (Field* base64 = find_base64(key))
            take_exact_bytes(field.value.text, key, &base64->value);
        return field.value.text;
    }
    Field* find_base64(std::string_view key) {
        static constexpr std::string_view kBase64 = "_base64";
        for (std::size_t at = 0; at < line_.size(); ++at) {
            const std::string& name = line_.field(at).key;
            if (name.size() == key.size() + kBase64.size() && name.starts_with(key) &&
                name.ends_with(kBase64))
                return &line_.field(at);
        }
        return nullptr;
    }
    std::optional<std::string> optional_text(std::string_view key) {
        if (find(key) == nullptr) return std::nullopt;
        return text(key);
    }
    std::uint64_t integer(std::string_view key) { return as_integer(need_value(key), key); }
    bool flag(std::string_view key) { return need(key, Type::boolean).value.flag; }
    double seconds(std::string_view key) { return as_seconds(need_value(key), key); }
    std::vector<std::string> texts(std::string_view key) {
        Field& field = need(key, Type::array);
        if (!field.objects.empty()) refuse(std::string(key) + " holds objects, not texts");
        std::vector<std::string> texts;
        for (Value& item : field.items) {
            if (item.type != Type::string) refuse(std::string(key) + " holds other than texts");
            texts.push_back(std::move(item.text));
        }
        return texts;
    }
    // An object of integers with exactly the keys `keys`.
    std::map<std::string, std::uint64_t> counts(std::string_view key,
                                                const std::vector<std::string>& keys) {
        Field& field = need(key, Type::object);
        std::map<std::string, std::uint64_t> counts;
        for (const Member& member : field.members) {
            if (std::find(keys.begin(), keys.end(), member.key) == keys.end())
                refuse(std::string(key) + " holds " + member.key +
                       ", which the record does not give");
            counts[member.key] = as_integer(member.value, std::string(key) + "." + member.key);
        }
        for (const std::string& expected : keys)
            if (!counts.contains(expected)) refuse(std::string(key) + " lacks " + expected);
        return counts;
    }

  private:
    const Value& need_value(std::string_view key) {
        Field* field = find(key);
        if (field == nullptr) refuse("lacks " + std::string(key));
        return field->value;
    }
    LineCollector& line_;
};

bool is_timestamp(std::string_view text) {
    static constexpr std::string_view kPattern = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != kPattern.size()) return false;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (kPattern[at] == 'd' ? (text[at] < '0' || text[at] > '9') : text[at] != kPattern[at])
            return false;
    }
    return true;
}

bool is_scan_id(std::string_view text) {
    return text.size() == 32 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

const std::vector<std::string>& not_entered_reasons() {
    static const std::vector<std::string> reasons = {
        "cycle", "link_web",     "kernel_file_system", "other_machine", "offline",
        "link",  "other_volume", "system_folder",      "too_many_links"};
    return reasons;
}

std::optional<std::uint64_t> optional_length(Field& rules, std::string_view key) {
    const auto member = std::find_if(rules.members.begin(), rules.members.end(),
                                     [&](const Member& m) { return m.key == key; });
    if (member == rules.members.end()) refuse("rules lacks " + std::string(key));
    if (member->value.type == Type::null) return std::nullopt;
    return as_integer(member->value, "rules." + std::string(key));
}

// Follows a record from line to line: the order of its lines, its scan id,
// its roots and its totals.
class RecordCheck {
  public:
    RecordCheck(const std::string& file, RecordVisitor& visitor) : file_(file), visitor_(visitor) {}

    void line(std::string_view text) {
        ++line_number_;
        try {
            check(text);
        } catch (const LineFault& fault) {
            throw RecordError(file_, line_number_, fault.what);
        } catch (const LineRefused& refused) {
            throw RecordError(file_, line_number_, refused.what());
        }
    }

    void longer_than_allowed() {
        throw RecordError(file_, line_number_ + 1,
                          "the line is longer than " + std::to_string(kLongestLine) + " bytes");
    }

    void cut_short() {
        throw RecordError(file_, line_number_ + 1,
                          "the last line has no line feed: the record was cut short");
    }

    void finish() {
        if (line_number_ == 0) throw RecordError(file_, 0, "the record is empty");
        if (!ended_)
            throw RecordError(file_, line_number_, "the record has no end line: it was cut short");
    }

  private:
    void check(std::string_view text) {
        if (ended_) refuse("comes after the end line");
        collector_.reset();
        collector_.full_parser(false);
        PlainLine::Outcome outcome = PlainLine(text, collector_).read();
        if (outcome == PlainLine::Outcome::not_plain) {
            // A plain line holds no NUL.
            if (std::memchr(text.data(), '\0', text.size()) != nullptr) refuse("holds a NUL");
            collector_.reset();
            collector_.full_parser(true);
            outcome = Json::sax_parse(text.begin(), text.end(), &collector_,
                                      nlohmann::detail::input_format_t::json, true, false)
                          ? PlainLine::Outcome::read
                          : PlainLine::Outcome::refused;
        }
        if (!collector_.error().empty()) refuse(collector_.error());
        if (outcome != PlainLine::Outcome::read || !collector_.top_is_object())
            refuse("is no JSON object");
        LineFields fields(collector_);
        const std::string& kind = fields.text("kind");
        if (!seen_scan_) {
            if (kind != "scan")
                refuse("is a " + kind + " line where the scan line must come first");
            scan_line(fields);
            return;
        }
        if (fields.text("scan_id") != scan_.scan_id)
            refuse("has a scan_id other than the scan line's");
        if (kind == "file" || kind == "folder" || kind == "link" || kind == "error")
            entry_line(fields, kind);
        else if (kind == "root")
            root_line(fields);
        else if (kind == "end")
            end_line(fields);
        else if (kind == "scan")
            refuse("is a second scan line");
        else
            refuse("has the kind " + kind + ", which the format does not know");
    }

    void scan_line(LineFields& fields) {
        const Field& format = fields.need("format", Type::unsigned_number);
        if (format.value.number > static_cast<std::uint64_t>(kFormatVersion))
            refuse("is of format version " + std::to_string(format.value.number) +
                   ", newer than this program reads (" + std::to_string(kFormatVersion) + ")");
        if (format.value.number < 1) refuse("is of format version 0, which no program writes");
        scan_.program = fields.text("program");
        if (scan_.program != "kestrafin-scan")
            refuse("is the record of another program: " + scan_.program);
        scan_.scan_id = fields.text("scan_id");
        if (!is_scan_id(scan_.scan_id)) refuse("scan_id is not 32 lowercase hexadecimal digits");
        scan_.version = fields.text("version");
        scan_.host = fields.text("host");
        scan_.user = fields.text("user");
        scan_.started = fields.text("started");
        if (!is_timestamp(scan_.started)) refuse("started is no time YYYY-MM-DDThh:mm:ssZ");
        scan_.roots = fields.texts("roots");
        if (Field* exact = fields.find_base64("roots")) {
            std::vector<std::string> bytes = fields.texts("roots_base64");
            if (bytes.size() != scan_.roots.size())
                refuse("roots_base64 does not hold one text for each root");
            for (std::size_t at = 0; at < bytes.size(); ++at) {
                Value base64{Type::string, std::move(bytes[at]), 0, 0, false};
                take_exact_bytes(scan_.roots[at], "roots", &base64);
            }
            (void)exact;
        }
        if (scan_.roots.empty()) refuse("roots names no root");
        for (std::size_t at = 0; at < scan_.roots.size(); ++at)
            if (!root_index_.emplace(scan_.roots[at], at).second) refuse("names a root twice");
        Field& rules = fields.need("rules", Type::object);
        scan_.folder_longer_than = optional_length(rules, "folder_longer_than");
        scan_.path_longer_than = optional_length(rules, "path_longer_than");
        scan_.checks = fields.texts("checks");
        scan_.reasons = fields.texts("reasons");
        if (scan_.reasons.size() > 32) refuse("reasons holds more than 32 codes");
        for (std::size_t at = 0; at < scan_.reasons.size(); ++at)
            if (std::find(scan_.reasons.begin(), scan_.reasons.begin() + static_cast<long>(at),
                          scan_.reasons[at]) != scan_.reasons.begin() + static_cast<long>(at))
                refuse("reasons names " + scan_.reasons[at] + " twice");
        scan_.target_prefix = fields.optional_text("target_prefix");
        scan_.excludes = fields.texts("excludes");
        scan_.threads = fields.integer("threads");
        scan_.follow_links = fields.flag("follow_links");
        scan_.one_file_system = fields.flag("one_file_system");
        scan_.include_offline = fields.flag("include_offline");
        tally_.assign(scan_.reasons.size(), 0);
        // The scan layer's reasons, by their place in the scan line's.
        reason_of_code_.clear();
        for (const std::string& code : scan_.reasons) {
            std::optional<Reason> found;
            for (std::size_t at = 0; at < kMostReasons; ++at)
                if (reason_code(Reason(at)) == code) found = Reason(at);
            reason_of_code_.push_back(found);
        }
        seen_scan_ = true;
        visitor_.scan(scan_);
    }

    Reasons scan_reasons(std::uint32_t bits) const {
        Reasons reasons;
        for (std::size_t at = 0; at < reason_of_code_.size(); ++at)
            if (((bits >> at) & 1) && reason_of_code_[at]) reasons.add(*reason_of_code_[at]);
        return reasons;
    }

    static EntryKind entry_kind(RecordKind kind) {
        return kind == RecordKind::folder ? EntryKind::folder
               : kind == RecordKind::link ? EntryKind::link
                                          : EntryKind::file;
    }

    // The folders where to act that the root's entries give, worked out as
    // the scan does: a root line's list that its entry lines do not bear out
    // is refused as its totals are.
    ScanSummary& act_on_summary(std::string_view root) {
        if (!act_on_)
            act_on_.emplace(LengthRules{scan_.folder_longer_than, scan_.path_longer_than},
                            search::addslash(root));
        return *act_on_;
    }
    void check_folders_to_act_on(const RootLine& root) {
        const std::string slashed_root = search::addslash(root.root);
        const std::vector<FolderToActOn> expected =
            act_on_ ? act_on_->folders_to_act_on() : std::vector<FolderToActOn>{};
        act_on_.reset();
        bool same = expected.size() == root.folders_to_act_on.size();
        for (std::size_t at = 0; same && at < expected.size(); ++at) {
            const ActOnLine& given = root.folders_to_act_on[at];
            same = given.relative_path == path_below(expected[at].path, slashed_root) &&
                   given.entries == expected[at].entries &&
                   given.units_to_lose == expected[at].units_to_lose;
        }
        if (!same) refuse("folders_to_act_on is not what the root's entry lines give");
    }

    // The root a line belongs to, which must be the one being read or the
    // next in the scan line's order.
    void enter_root(const std::string& root) {
        const auto found = root_index_.find(root);
        if (found == root_index_.end()) refuse("names a root the scan line does not");
        if (found->second != next_root_)
            refuse(next_root_ < scan_.roots.size()
                       ? "comes out of order: the scan line's roots are read one after another"
                       : "comes out of order: every root has had its root line");
    }

    std::uint32_t reason_bits(LineFields& fields) {
        std::uint32_t bits = 0;
        std::size_t last = 0;
        bool first = true;
        for (const std::string& code : fields.texts("reasons")) {
            const auto found = std::find(scan_.reasons.begin(), scan_.reasons.end(), code);
            if (found == scan_.reasons.end())
                refuse("has the reason " + code + ", which the scan line does not give");
            const std::size_t at = static_cast<std::size_t>(found - scan_.reasons.begin());
            if (!first && at <= last) refuse("reasons are not in the scan line's order");
            first = false;
            last = at;
            bits |= std::uint32_t{1} << at;
        }
        return bits;
    }

    void entry_line(LineFields& fields, const std::string& kind) {
        EntryLine entry;
        entry.kind = kind == "file"     ? RecordKind::file
                     : kind == "folder" ? RecordKind::folder
                     : kind == "link"   ? RecordKind::link
                                        : RecordKind::error;
        const std::string& root = fields.text("root");
        enter_root(root);
        entry.root = root;
        entry.relative_path = fields.text("relative_path");
        entry.path = fields.text("path");
        entry.folder_length = fields.integer("folder_length");
        entry.path_length = fields.integer("path_length");
        if (scan_.target_prefix) entry.target_path = fields.text("target_path");
        entry.reasons = reason_bits(fields);
        if (entry.kind == RecordKind::error) {
            const auto unreadable =
                std::find(scan_.reasons.begin(), scan_.reasons.end(), "unreadable");
            if (unreadable == scan_.reasons.end() ||
                entry.reasons != std::uint32_t{1} << (unreadable - scan_.reasons.begin()))
                refuse("is an error line whose reasons are not [\"unreadable\"]");
            entry.error = fields.text("error");
            entry.error_number = fields.integer("error_number");
            ++unreadable_;
        } else {
            if (entry.reasons == 0) refuse("has no reasons");
            const Reasons reasons = scan_reasons(entry.reasons);
            act_on_summary(entry.root)
                .entry_listed(reasons, EntryLengths{entry.folder_length, entry.path_length},
                              counted_folder(entry_kind(entry.kind), reasons, entry.path));
            ++entries_;
            for (std::size_t at = 0; at < tally_.size(); ++at)
                tally_[at] += (entry.reasons >> at) & 1;
        }
        visitor_.entry(entry);
    }

    void root_line(LineFields& fields) {
        RootLine root;
        root.root = fields.text("root");
        enter_root(root.root);
        root.end = fields.text("end");
        root.exit_status = fields.integer("exit_status");
        const std::uint64_t expected_status = root.end == "complete" ? 0
                                              : root.end == "incomplete" || root.end == "stopped"
                                                  ? 1
                                              : root.end == "not_walked" ? 2
                                                                         : 3;
        if (expected_status == 3) refuse("end is " + root.end + ", which the format does not know");
        if (root.exit_status != expected_status)
            refuse("exit_status " + std::to_string(root.exit_status) + " does not go with end " +
                   root.end);
        if (root.end == "not_walked") root.error = fields.text("error");
        root.folders_read = fields.integer("folders_read");
        root.files_seen = fields.integer("files_seen");
        root.entries = fields.integer("entries");
        root.entries_by_reason = fields.counts("entries_by_reason", scan_.reasons);
        root.unreadable = fields.integer("unreadable");
        root.not_entered = fields.counts("not_entered", not_entered_reasons());
        Field& act_on = fields.need("folders_to_act_on", Type::array);
        if (!act_on.items.empty()) refuse("folders_to_act_on holds other than objects");
        for (std::vector<Member>& folder : act_on.objects) {
            ActOnLine line;
            Value* base64 = nullptr;
            bool has_path = false, has_entries = false, has_units = false;
            for (Member& member : folder) {
                if (member.key == "relative_path") {
                    if (member.value.type != Type::string)
                        refuse("folders_to_act_on.relative_path is no string");
                    line.relative_path = member.value.text;
                    has_path = true;
                } else if (member.key == "relative_path_base64") {
                    base64 = &member.value;
                } else if (member.key == "entries") {
                    line.entries = as_integer(member.value, "folders_to_act_on.entries");
                    has_entries = true;
                } else if (member.key == "units_to_lose") {
                    line.units_to_lose =
                        as_integer(member.value, "folders_to_act_on.units_to_lose");
                    has_units = true;
                }
            }
            if (!has_path || !has_entries || !has_units)
                refuse(
                    "folders_to_act_on holds a folder without relative_path, entries or "
                    "units_to_lose");
            take_exact_bytes(line.relative_path, "folders_to_act_on.relative_path", base64);
            root.folders_to_act_on.push_back(std::move(line));
        }
        root.seconds = fields.seconds("seconds");

        if (root.entries != entries_)
            refuse("entries is " + std::to_string(root.entries) + ", but the root has " +
                   std::to_string(entries_) + " entry lines");
        if (root.unreadable != unreadable_)
            refuse("unreadable is " + std::to_string(root.unreadable) + ", but the root has " +
                   std::to_string(unreadable_) + " error lines");
        for (std::size_t at = 0; at < tally_.size(); ++at)
            if (root.entries_by_reason[scan_.reasons[at]] != tally_[at])
                refuse("entries_by_reason." + scan_.reasons[at] + " is " +
                       std::to_string(root.entries_by_reason[scan_.reasons[at]]) +
                       ", but the root's entry lines carry it " + std::to_string(tally_[at]) +
                       " times");
        check_folders_to_act_on(root);
        total_entries_ += entries_;
        total_unreadable_ += unreadable_;
        worst_status_ = std::max(worst_status_, root.exit_status);
        entries_ = 0;
        unreadable_ = 0;
        std::fill(tally_.begin(), tally_.end(), 0);
        ++next_root_;
        visitor_.root(root);
    }

    void end_line(LineFields& fields) {
        EndLine end;
        end.finished = fields.text("finished");
        if (!is_timestamp(end.finished)) refuse("finished is no time YYYY-MM-DDThh:mm:ssZ");
        end.seconds = fields.seconds("seconds");
        end.stopped = fields.flag("stopped");
        end.entries = fields.integer("entries");
        end.unreadable = fields.integer("unreadable");
        end.exit_status = fields.integer("exit_status");
        if (entries_ != 0 || unreadable_ != 0)
            refuse("comes before the root line of the root whose entries precede it");
        if (next_root_ < scan_.roots.size() && !end.stopped)
            refuse("ends a scan that was not stopped before every root had its root line");
        if (end.entries != total_entries_)
            refuse("entries is " + std::to_string(end.entries) + ", but the roots have " +
                   std::to_string(total_entries_));
        if (end.unreadable != total_unreadable_)
            refuse("unreadable is " + std::to_string(end.unreadable) + ", but the roots have " +
                   std::to_string(total_unreadable_));
        // A stopped scan whose roots were never reached ends incomplete.
        const std::uint64_t worst = next_root_ < scan_.roots.size()
                                        ? std::max<std::uint64_t>(worst_status_, 1)
                                        : worst_status_;
        // A scan stopped after its last root's walk may still end as stopped.
        const bool fits = end.stopped ? end.exit_status >= worst && end.exit_status <= 2
                                      : end.exit_status == worst;
        if (!fits)
            refuse("exit_status is " + std::to_string(end.exit_status) +
                   ", but the worst of the roots' is " + std::to_string(worst));
        ended_ = true;
        visitor_.end(end);
    }

    const std::string& file_;
    RecordVisitor& visitor_;
    LineCollector collector_;
    std::size_t line_number_ = 0;
    bool seen_scan_ = false;
    bool ended_ = false;
    ScanLine scan_;
    std::unordered_map<std::string, std::size_t> root_index_;
    std::size_t next_root_ = 0;
    std::uint64_t entries_ = 0;
    std::uint64_t unreadable_ = 0;
    std::vector<std::uint64_t> tally_;
    std::vector<std::optional<Reason>> reason_of_code_;
    std::optional<ScanSummary> act_on_;  // of the root being read
    std::uint64_t total_entries_ = 0;
    std::uint64_t total_unreadable_ = 0;
    std::uint64_t worst_status_ = 0;
};

}  // namespace

namespace {

void describe(std::string& out, const Value& value) {
    out += std::to_string(static_cast<int>(value.type)) + ":" + value.text + ":" +
           std::to_string(value.number) + ":" + std::to_string(value.fraction) + ":" +
           (value.flag ? "1" : "0") + ";";
}

std::string described(LineCollector& collector, bool read) {
    if (!collector.error().empty()) return "refused: " + collector.error();
    if (!read) return "refused";
    std::string out = collector.top_is_object() ? "object\n" : "other\n";
    for (std::size_t at = 0; at < collector.size(); ++at) {
        const Field& field = collector.field(at);
        out += field.key + "=";
        describe(out, field.value);
        for (const Value& item : field.items) describe(out, item);
        for (const std::vector<Member>& object : field.objects) {
            out += "{";
            for (const Member& member : object) {
                out += member.key + "=";
                describe(out, member.value);
            }
            out += "}";
        }
        for (const Member& member : field.members) {
            out += member.key + "=";
            describe(out, member.value);
        }
        out += "\n";
    }
    return out;
}

}  // namespace

namespace detail {

std::string full_parse(std::string_view line) {
    LineCollector collector;
    collector.reset();
    collector.full_parser(true);
    const bool read = Json::sax_parse(line.begin(), line.end(), &collector,
                                      nlohmann::detail::input_format_t::json, true, false);
    return described(collector, read);
}

std::optional<std::string> plain_parse(std::string_view line) {
    LineCollector collector;
    collector.reset();
    const PlainLine::Outcome outcome = PlainLine(line, collector).read();
    if (outcome == PlainLine::Outcome::not_plain) return std::nullopt;
    return described(collector, outcome == PlainLine::Outcome::read);
}

}  // namespace detail

void read_record(const std::string& file, const ReadSome& read_some, RecordVisitor& visitor) {
    RecordCheck check(file, visitor);
    // A line and the piece after it; no more of a line than kLongestLine is
    // ever held, however long it goes on.
    constexpr std::size_t kBuffer = kLongestLine + 1 + kPiece;
    const std::unique_ptr<char[]> buffer(new char[kBuffer]);
    std::size_t start = 0;
    std::size_t end = 0;
    for (;;) {
        const char* const data = buffer.get();
        const void* feed = std::memchr(data + start, '\n', end - start);
        if (feed != nullptr) {
            const std::size_t stop =
                static_cast<std::size_t>(static_cast<const char*>(feed) - data);
            if (stop - start > kLongestLine) check.longer_than_allowed();
            check.line(std::string_view(data + start, stop - start));
            start = stop + 1;
            continue;
        }
        if (end - start > kLongestLine) check.longer_than_allowed();
        if (start > 0) {
            std::memmove(buffer.get(), data + start, end - start);
            end -= start;
            start = 0;
        }
        const std::size_t got = read_some(buffer.get() + end, kBuffer - end);
        if (got == 0) {
            if (end > 0) check.cut_short();
            break;
        }
        end += got;
    }
    check.finish();
}

void read_record(const std::string& file, RecordVisitor& visitor) {
    platform::SequentialFileReader reader(file, "the record");
    read_record(
        file, [&](char* into, std::size_t size) { return reader.read(into, size); }, visitor);
}

}  // namespace kestrafin::scan::record

#include "scan/sinks/entry_format.h"

#include <cstdio>

#include "search/path_text.h"

namespace kestrafin::scan {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

bool valid_utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = search::utf8_sequence_length(text.substr(i));
        if (length == 0) return false;
        i += length;
    }
    return true;
}

void append_base64(std::string& out, std::string_view bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned value = static_cast<unsigned char>(bytes[i]) << 16 |
                               static_cast<unsigned char>(bytes[i + 1]) << 8 |
                               static_cast<unsigned char>(bytes[i + 2]);
        out += {kDigits[value >> 18], kDigits[(value >> 12) & 63], kDigits[(value >> 6) & 63],
                kDigits[value & 63]};
    }
    const std::size_t left = bytes.size() - i;
    if (left == 0) return;
    unsigned value = static_cast<unsigned char>(bytes[i]) << 16;
    if (left == 2) value |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += {kDigits[value >> 18], kDigits[(value >> 12) & 63],
            left == 2 ? kDigits[(value >> 6) & 63] : '=', '='};
}

std::string_view kind_name(EntryKind kind) {
    switch (kind) {
        case EntryKind::file:
            return "file";
        case EntryKind::folder:
            return "folder";
        case EntryKind::link:
            return "link";
        case EntryKind::error:
            return "error";
    }
    return "file";
}

// A spreadsheet runs a cell that begins with one of these as a formula.
bool starts_like_formula(std::string_view text) {
    return !text.empty() &&
           std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
    out.push_back('"');
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t length = search::utf8_sequence_length(text.substr(i));
        if (length == 0) {
            out.append(kReplacementCharacter);
            ++i;
            continue;
        }
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out.append(escape);
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    out.push_back('"');
}

void append_json_text_field(std::string& out, std::string_view name, std::string_view text) {
    out.push_back('"');
    out.append(name);
    out.append("\":");
    append_json_string(out, text);
    if (valid_utf8(text)) return;
    out.append(",\"");
    out.append(name);
    out.append("_base64\":\"");
    append_base64(out, text);
    out.push_back('"');
}

// A CSV field as RFC 4180 has it: quoted when it holds a quote, a comma or a
// line break, with each quote doubled. A field that a spreadsheet would run
// gets a single quote in front, the mark spreadsheets take for text.
void append_csv_field(std::string& out, std::string_view text) {
    const bool formula = starts_like_formula(text);
    if (!formula && text.find_first_of("\",\r\n") == std::string_view::npos) {
        out.append(text);
        return;
    }
    out.push_back('"');
    if (formula) out.push_back('\'');
    for (const char c : text) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
}

EntryFormat::EntryFormat(OutputFormat format, bool null_terminated, bool with_target,
                         bool print_target)
    : format_(format),
      null_terminated_(null_terminated),
      with_target_(with_target),
      print_target_(print_target) {}

std::string EntryFormat::header() const {
    if (format_ != OutputFormat::csv) return {};
    std::string header(kByteOrderMark);
    header.append("path,folder_length,path_length");
    if (with_target_) header.append(",target_path");
    header.append(",kind,reasons,error\r\n");
    return header;
}

void EntryFormat::append(std::string& out, const Entry& record) const {
    switch (format_) {
        case OutputFormat::lines:
            if (record.kind == EntryKind::error) return;
            out.append(print_target_ ? record.target_path : record.path);
            out.push_back(null_terminated_ ? '\0' : '\n');
            return;
        case OutputFormat::csv:
            append_csv_field(out, record.path);
            out.append("," + std::to_string(record.lengths.folder) + "," +
                       std::to_string(record.lengths.path));
            if (with_target_) {
                out.push_back(',');
                append_csv_field(out, record.target_path);
            }
            out.push_back(',');
            out.append(kind_name(record.kind));
            out.push_back(',');
            record.reasons.each([&, first = true](Reason reason) mutable {
                if (!first) out.push_back(' ');
                first = false;
                out.append(reason_code(reason));
            });
            out.push_back(',');
            append_csv_field(out, record.error);
            out.append("\r\n");
            return;
        case OutputFormat::json:
            out.push_back('{');
            append_json_text_field(out, "path", record.path);
            out.append(",\"folder_length\":" + std::to_string(record.lengths.folder) +
                       ",\"path_length\":" + std::to_string(record.lengths.path));
            if (with_target_) {
                out.push_back(',');
                append_json_text_field(out, "target_path", record.target_path);
            }
            out.append(",\"kind\":\"");
            out.append(kind_name(record.kind));
            out.append("\",\"reasons\":[");
            record.reasons.each([&, first = true](Reason reason) mutable {
                if (!first) out.push_back(',');
                first = false;
                out.push_back('"');
                out.append(reason_code(reason));
                out.push_back('"');
            });
            out.push_back(']');
            if (record.kind == EntryKind::error) {
                out.append(",\"error\":");
                append_json_string(out, record.error);
            }
            out.append("}\n");
            return;
    }
}

}  // namespace kestrafin::scan

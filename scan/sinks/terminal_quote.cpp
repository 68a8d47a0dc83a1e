#include "scan/sinks/terminal_quote.h"

#include <cstdint>
#include <cstdio>

#include "platform/process.h"
#include "platform/text.h"

namespace kestrafin::scan {

namespace {

constexpr std::string_view kShellSpecial = " \t!\"#$&'()*;<=>?[\\]^`{|}~";

// One character of a name: a valid UTF-8 sequence, or a single byte that is
// not part of one.
struct Unit {
    std::string_view bytes;
    bool printable;
};

// Decodes the unit at `at`, or an invalid byte as a unit of one byte. An
// encoded surrogate is no character a terminal can show: escaped, byte by byte.
Unit unit_at(std::string_view text, std::size_t at) {
    // Most names are printable ASCII, which needs no decoding.
    const unsigned char first = static_cast<unsigned char>(text[at]);
    if (first >= 0x20 && first < 0x7F) return {text.substr(at, 1), true};
    const platform::Utf8Sequence sequence = platform::decode_utf8(text.substr(at));
    const std::uint32_t code = sequence.code_point;
    if (sequence.length == 0) return {text.substr(at, 1), false};
    return {text.substr(at, sequence.length), !platform::is_control_character(code) &&
                                                  !sequence.is_surrogate() &&
                                                  !platform::is_direction_control(code)};
}

// Bytes, never \u escapes: bash reads $'\u...' back only in a UTF-8 locale,
// octal bytes in every one.
void append_escape(std::string& out, const Unit& unit) {
    for (const char c : unit.bytes) {
        switch (c) {
            case '\a':
                out += "\\a";
                continue;
            case '\b':
                out += "\\b";
                continue;
            case '\t':
                out += "\\t";
                continue;
            case '\n':
                out += "\\n";
                continue;
            case '\v':
                out += "\\v";
                continue;
            case '\f':
                out += "\\f";
                continue;
            case '\r':
                out += "\\r";
                continue;
            default:
                break;
        }
        char text[6];
        std::snprintf(text, sizeof text, "\\%03o",
                      static_cast<unsigned>(static_cast<unsigned char>(c)));
        out += text;
    }
}

bool printable_ascii(char c) {
    return c >= 0x20 && c < 0x7F;
}

bool needs_quotes(std::string_view name) {
    if (name.empty()) return true;
    for (std::size_t at = 0; at < name.size();) {
        if (printable_ascii(name[at])) {
            ++at;
            continue;
        }
        const Unit unit = unit_at(name, at);
        if (!unit.printable) return true;
        at += unit.bytes.size();
    }
    return name.find_first_of(kShellSpecial) != std::string_view::npos;
}

std::string quoted(std::string_view name) {
    enum class Open { None, Single, Dollar } open = Open::None;
    std::string out;
    out.reserve(name.size() + 2);
    for (std::size_t at = 0; at < name.size();) {
        // A run of printable ASCII but the quote goes in at once.
        std::size_t run = at;
        while (run < name.size() && printable_ascii(name[run]) && name[run] != '\'') ++run;
        if (run > at) {
            if (open == Open::Dollar) out += '\'';
            if (open != Open::Single) out += '\'';
            open = Open::Single;
            out.append(name.substr(at, run - at));
            at = run;
            continue;
        }
        const Unit unit = unit_at(name, at);
        at += unit.bytes.size();
        if (unit.printable) {
            if (open == Open::Dollar) out += '\'';
            if (open != Open::Single) out += '\'';
            open = Open::Single;
            if (unit.bytes == "'")
                out += "'\\''";
            else
                out += unit.bytes;
        } else {
            if (open == Open::Single) out += '\'';
            if (open != Open::Dollar) out += "$'";
            open = Open::Dollar;
            append_escape(out, unit);
        }
    }
    if (open == Open::None)
        out += "''";
    else
        out += '\'';
    return out;
}

}  // namespace

std::string quoted_for_terminal(std::string_view name) {
    return quoted(name);
}

std::string escaped_for_terminal(std::string_view name) {
    return needs_quotes(name) ? quoted(name) : std::string(name);
}

std::string printable_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const Unit unit = unit_at(text, at);
        at += unit.bytes.size();
        if (unit.printable)
            out += unit.bytes;
        else
            append_escape(out, unit);
    }
    return out;
}

std::size_t terminal_width(int descriptor) {
    const std::size_t columns = platform::terminal_columns(descriptor);
    return columns > 20 ? columns : 80;
}

}  // namespace kestrafin::scan

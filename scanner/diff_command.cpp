#include "scanner/diff_command.h"

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>

#include "platform/files.h"
#include "platform/process.h"
#include "scan/record/record_diff.h"
#include "scan/sinks/entry_format.h"
#include "scan/sinks/json_text.h"
#include "scan/sinks/terminal_quote.h"
#include "scan/sinks/text_output.h"

namespace kestrafin::scanner {

using scan::record::Change;
using scan::record::EntryChange;
using scan::record::RecordDiff;

const char* const kDiffUsage =
    "Usage: kestrafin-scan diff [OPTIONS] OLD NEW\n"
    "Compares two records written by --record: the entries fixed (in OLD, not in\n"
    "NEW), new (in NEW, not in OLD) and still failing (in both), an entry being\n"
    "known by its root, its path below the root (exact bytes, letters of\n"
    "different case differing) and its kind. A renamed or moved folder shows as\n"
    "its entries fixed and as many new. An entry of OLD below a folder that NEW\n"
    "could not read is unread, not fixed: NEW cannot tell (the folder itself is\n"
    "a new entry of kind error). New and still failing entries come in NEW's\n"
    "order, then the fixed and unread ones in OLD's order. Only roots both\n"
    "records hold are compared; the others are named on standard error.\n"
    "\n"
    "  --format lines|csv|json\n"
    "                     lines (default): \"fixed\", \"new\", \"still\" or\n"
    "                     \"unread\", a tab and the path quoted as on a terminal;\n"
    "                     a still failing entry adds its path length before and\n"
    "                     after and the reasons\n"
    "                     gained (+code) and lost (-code). CSV (with a byte order\n"
    "                     mark) and JSON lines give every field with exact paths\n"
    "  --summary          per root and per folder where to act: how many entries\n"
    "                     were fixed, are new and are left, and the units each\n"
    "                     folder must still lose, instead of the entries\n"
    "  --rules-may-differ compare records whose rules, checks, target prefix or\n"
    "                     exclusions differ; without it such records are refused\n"
    "                     (exit status 2), since their diff shows what the rules\n"
    "                     changed rather than what the files did\n"
    "  -h, --help         show this help\n"
    "\n"
    "Exit status: 0 when nothing is new, 1 when something is, 2 when a record is\n"
    "refused (the file and line are named), the rules differ or the command line\n"
    "is wrong.\n";

namespace {

constexpr int kUsage = 2;
constexpr std::size_t kBlock = 1 << 16;

struct DiffOptions {
    scan::OutputFormat format = scan::OutputFormat::lines;
    bool summary = false;
    bool rules_may_differ = false;
    bool help = false;
    std::vector<std::string> records;
};

DiffOptions parse(const std::vector<std::string>& arguments) {
    DiffOptions options;
    bool options_end = false;
    for (std::size_t at = 0; at < arguments.size(); ++at) {
        const std::string& argument = arguments[at];
        std::string format;
        if (options_end || argument.empty() || argument[0] != '-' || argument == "-") {
            options.records.push_back(argument);
        } else if (argument == "--") {
            options_end = true;
        } else if (argument == "-h" || argument == "--help") {
            options.help = true;
        } else if (argument == "--summary") {
            options.summary = true;
        } else if (argument == "--rules-may-differ") {
            options.rules_may_differ = true;
        } else if (argument == "--format" || argument.starts_with("--format=")) {
            if (argument == "--format") {
                if (at + 1 == arguments.size())
                    throw std::invalid_argument("--format needs lines, csv or json");
                format = arguments[++at];
            } else {
                format = argument.substr(9);
            }
            if (format == "lines")
                options.format = scan::OutputFormat::lines;
            else if (format == "csv")
                options.format = scan::OutputFormat::csv;
            else if (format == "json")
                options.format = scan::OutputFormat::json;
            else
                throw std::invalid_argument("--format takes lines, csv or json, not '" + format +
                                            "'");
        } else {
            throw std::invalid_argument("unknown option '" + argument + "'");
        }
    }
    if (!options.help && options.records.size() != 2)
        throw std::invalid_argument("diff takes two records, OLD and NEW");
    return options;
}

const char* change_name(Change change) {
    switch (change) {
        case Change::fixed:
            return "fixed";
        case Change::added:
            return "new";
        case Change::still:
            return "still";
        case Change::unread:
            return "unread";
    }
    return "new";
}

const char* kind_name(scan::record::RecordKind kind) {
    switch (kind) {
        case scan::record::RecordKind::file:
            return "file";
        case scan::record::RecordKind::folder:
            return "folder";
        case scan::record::RecordKind::link:
            return "link";
        case scan::record::RecordKind::error:
            return "error";
    }
    return "file";
}

std::string joined(const std::vector<std::string_view>& codes, std::string_view between,
                   std::string_view before = {}) {
    std::string text;
    for (const std::string_view code : codes) {
        if (!text.empty()) text.append(between);
        text.append(before);
        text.append(code);
    }
    return text;
}

void append_json_codes(std::string& out, std::string_view name,
                       const std::vector<std::string_view>& codes) {
    out += ",\"";
    out += name;
    out += "\":[";
    for (std::size_t at = 0; at < codes.size(); ++at) {
        if (at > 0) out.push_back(',');
        scan::append_json_string(out, codes[at]);
    }
    out.push_back(']');
}

void append_change(std::string& out, scan::OutputFormat format, const EntryChange& change) {
    const bool has_old = change.change != Change::added;
    const bool has_new = change.change != Change::fixed && change.change != Change::unread;
    switch (format) {
        case scan::OutputFormat::lines: {
            out += change_name(change.change);
            out.push_back('\t');
            out += scan::escaped_for_terminal(change.path);
            if (change.change == Change::still) {
                out += "\t" + std::to_string(change.old_path_length) + "\t" +
                       std::to_string(change.new_path_length) + "\t";
                out += joined(change.reasons_gained, " ", "+");
                if (!change.reasons_gained.empty() && !change.reasons_lost.empty())
                    out.push_back(' ');
                out += joined(change.reasons_lost, " ", "-");
            }
            out.push_back('\n');
            return;
        }
        case scan::OutputFormat::csv: {
            out += change_name(change.change);
            for (const std::string_view text : {change.root, change.relative_path}) {
                out.push_back(',');
                scan::append_csv_field(out, text);
            }
            out += ",";
            out += kind_name(change.kind);
            out.push_back(',');
            scan::append_csv_field(out, change.path);
            const auto lengths = [&](bool has, std::uint64_t folder, std::uint64_t path) {
                out += has ? "," + std::to_string(folder) + "," + std::to_string(path) : ",,";
            };
            lengths(has_old, change.old_folder_length, change.old_path_length);
            lengths(has_new, change.new_folder_length, change.new_path_length);
            for (const auto* codes : {&change.old_reasons, &change.new_reasons,
                                      &change.reasons_gained, &change.reasons_lost}) {
                out.push_back(',');
                out += joined(*codes, " ");
            }
            out += "\r\n";
            return;
        }
        case scan::OutputFormat::json: {
            out += "{\"change\":\"";
            out += change_name(change.change);
            out += "\",";
            scan::append_json_text_field(out, "root", change.root);
            out.push_back(',');
            scan::append_json_text_field(out, "relative_path", change.relative_path);
            out += ",\"kind\":\"";
            out += kind_name(change.kind);
            out += "\",";
            scan::append_json_text_field(out, "path", change.path);
            if (has_old) {
                out += ",\"old_folder_length\":" + std::to_string(change.old_folder_length) +
                       ",\"old_path_length\":" + std::to_string(change.old_path_length);
                append_json_codes(out, "old_reasons", change.old_reasons);
            }
            if (has_new) {
                out += ",\"new_folder_length\":" + std::to_string(change.new_folder_length) +
                       ",\"new_path_length\":" + std::to_string(change.new_path_length);
                append_json_codes(out, "new_reasons", change.new_reasons);
            }
            if (change.change == Change::still) {
                append_json_codes(out, "reasons_gained", change.reasons_gained);
                append_json_codes(out, "reasons_lost", change.reasons_lost);
            }
            out += "}\n";
            return;
        }
    }
}

std::string counts_text(std::size_t fixed, std::size_t added, std::size_t left,
                        std::size_t unread) {
    return "fixed " + std::to_string(fixed) + ", new " + std::to_string(added) + ", left " +
           std::to_string(left) +
           (unread > 0
                ? ", unread " + std::to_string(unread) + " (below folders NEW could not read)"
                : std::string()) +
           "\n";
}

std::string summary_text(const RecordDiff& diff) {
    std::string text;
    std::size_t fixed = 0, added = 0, left = 0, unread = 0;
    for (const scan::record::RootChanges& root : diff.summary()) {
        text += scan::escaped_for_terminal(root.root) + ": " +
                counts_text(root.fixed, root.added, root.left, root.unread);
        text +=
            "  folders where to act (fixed, new, left, units to lose for all to fit, "
            "folder):\n";
        for (const scan::record::FolderChanges& folder : root.folders)
            text += "    " + std::to_string(folder.fixed) + " " + std::to_string(folder.added) +
                    " " + std::to_string(folder.left) + " " + std::to_string(folder.units_to_lose) +
                    " " + scan::escaped_for_terminal(folder.path) + "\n";
        fixed += root.fixed;
        added += root.added;
        left += root.left;
        unread += root.unread;
    }
    for (const std::string& root : diff.roots_only_old())
        text += scan::escaped_for_terminal(root) + ": only in OLD, not compared\n";
    for (const std::string& root : diff.roots_only_new())
        text += scan::escaped_for_terminal(root) + ": only in NEW, not compared\n";
    for (const scan::record::RootNote& note : diff.roots_not_whole())
        if (!note.compared) text += scan::escaped_for_terminal(note.root) + ": not compared\n";
    text += "total: " + counts_text(fixed, added, left, unread);
    return text;
}

// How one walk of a root ended, as a message says it.
std::string walk_end(const std::string& end, const char* record) {
    const std::string in = std::string(" in ") + record;
    if (end.empty()) return "was not reached" + in + " before the scan stopped";
    if (end == "not_walked") return "was not walked" + in;
    if (end == "stopped") return "was stopped" + in;
    return "was not read whole" + in + " (folders could not be read)";
}

std::string root_note(const scan::record::RootNote& note) {
    std::string text = "the root " + scan::quoted_for_terminal(note.root) + " ";
    if (note.old_end != "complete") text += walk_end(note.old_end, "OLD");
    if (note.old_end != "complete" && note.new_end != "complete") text += " and ";
    if (note.new_end != "complete") text += walk_end(note.new_end, "NEW");
    if (!note.compared) return text + ", not compared";
    // What lies below a folder NEW could not read is unread; only a stopped
    // walk leaves entries it did not reach to show as fixed.
    const bool old_short = note.old_end != "complete";
    const bool new_short = note.new_end == "stopped";
    if (!old_short && !new_short) return text + ": what lies below its unread folders is unread";
    return text + ": what a walk did not reach shows as " +
           (old_short && new_short ? "fixed or new"
            : new_short            ? "fixed"
                                   : "new");
}

void say(const std::string& message) {
    std::fprintf(stderr, "kestrafin-scan: %s\n", scan::printable_text(message).c_str());
}

int diff(const DiffOptions& options) {
    const RecordDiff diff(options.records[0], options.records[1]);
    const std::vector<std::string> differing = diff.rules_differing();
    if (!differing.empty()) {
        std::string names;
        for (const std::string& name : differing) names += (names.empty() ? "" : ", ") + name;
        if (!options.rules_may_differ) {
            say("the records were not scanned with the same rules (" + names +
                " differ), so their diff would show what the rules changed; give "
                "--rules-may-differ to compare them anyway");
            return kUsage;
        }
        say("note: the records were not scanned with the same rules (" + names +
            " differ); some entries are fixed or new by the rules' change");
    }
    for (const std::string& root : diff.roots_only_old())
        say("the root " + scan::quoted_for_terminal(root) + " is only in OLD, not compared");
    for (const std::string& root : diff.roots_only_new())
        say("the root " + scan::quoted_for_terminal(root) + " is only in NEW, not compared");
    for (const scan::record::RootNote& note : diff.roots_not_whole()) say(root_note(note));

    const int output = platform::kStandardOutput;
    if (options.summary) {
        scan::write_output(output, summary_text(diff));
    } else {
        std::string block;
        if (options.format == scan::OutputFormat::csv)
            block =
                "\xEF\xBB\xBF"
                "change,root,relative_path,kind,path,old_folder_length,old_path_length,"
                "new_folder_length,new_path_length,old_reasons,new_reasons,reasons_gained,"
                "reasons_lost\r\n";
        diff.each([&](const EntryChange& change) {
            append_change(block, options.format, change);
            if (block.size() >= kBlock) {
                scan::write_output(output, block);
                block.clear();
            }
        });
        scan::write_output(output, block);
    }
    return diff.count(Change::added) > 0 ? 1 : 0;
}

}  // namespace

int run_diff(const std::vector<std::string>& arguments) {
    DiffOptions options;
    try {
        options = parse(arguments);
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "kestrafin-scan diff: %s\nTry 'kestrafin-scan diff --help'.\n",
                     scan::printable_text(error.what()).c_str());
        return kUsage;
    }
    try {
        if (options.help) {
            scan::write_output(platform::kStandardOutput, kDiffUsage);
            return 0;
        }
        return diff(options);
    } catch (const std::exception& error) {
        say(platform::failure_text(error));
        return kUsage;
    }
}

}  // namespace kestrafin::scanner

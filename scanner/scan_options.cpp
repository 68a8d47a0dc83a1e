#include "scanner/scan_options.h"

#include <charconv>
#include <stdexcept>

#include "platform/path_rules.h"

namespace kestrafin::scanner {

const char* const kScanUsage =
    "Usage: kestrafin-scan [OPTIONS] [ROOT]\n"
    "Lists every file that lies directly in a folder whose path is longer than\n"
    "200 characters (UTF-16 code units), walking the whole tree below ROOT\n"
    "(default: the system's root folder), one path per line.\n"
    "\n"
    "  --longer-than N  a folder qualifies when its path is longer than N (default 200)\n"
    "  -0, --null       end each entry with NUL instead of a line break; use this\n"
    "                   when names may hold line breaks, e.g. with xargs -0\n"
    "  --list FILE      write the entries to FILE in the saved list format that\n"
    "                   Kestrafin's \"Reload List\" reads, instead of standard output\n"
    "  --count          print only the count, a blank and \"records found\"\n"
    "  -q, --quiet      no progress line and no warnings\n"
    "  -h, --help       show this help\n"
    "      --version    show the version\n"
    "\n"
    "Exit status: 0 when every folder was read, 1 when some folder could not be\n"
    "read (each is reported on standard error), 2 for a usage error or a root\n"
    "that cannot be opened.\n";

namespace {

std::size_t parse_count(const std::string& text) {
    std::size_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        throw std::invalid_argument("--longer-than takes a whole number, not '" + text + "'");
    return value;
}

}  // namespace

ScanOptions parse_scan_options(const std::vector<std::string>& arguments) {
    ScanOptions options;
    std::optional<std::string> root;
    bool options_ended = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const auto value_of = [&](const std::string& name) -> std::string {
            if (i + 1 >= arguments.size()) throw std::invalid_argument(name + " needs a value");
            return arguments[++i];
        };
        if (options_ended || argument.empty() || argument[0] != '-' || argument == "-") {
            if (root) throw std::invalid_argument("only one ROOT may be given");
            root = argument;
        } else if (argument == "--") {
            options_ended = true;
        } else if (argument == "--longer-than") {
            options.longer_than = parse_count(value_of(argument));
        } else if (argument.starts_with("--longer-than=")) {
            options.longer_than = parse_count(argument.substr(14));
        } else if (argument == "-0" || argument == "--null") {
            options.null_terminated = true;
        } else if (argument == "--list") {
            options.list_file = value_of(argument);
        } else if (argument.starts_with("--list=")) {
            options.list_file = argument.substr(7);
        } else if (argument == "--count") {
            options.count_only = true;
        } else if (argument == "-q" || argument == "--quiet") {
            options.quiet = true;
        } else if (argument == "-h" || argument == "--help") {
            options.help = true;
        } else if (argument == "--version") {
            options.version = true;
        } else {
            throw std::invalid_argument("unknown option '" + argument + "'");
        }
    }
    options.root = root.value_or(std::string(platform::kDefaultRoot));
    return options;
}

}  // namespace kestrafin::scanner

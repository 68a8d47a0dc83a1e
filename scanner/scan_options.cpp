#include "scanner/scan_options.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <stdexcept>

#include "platform/path_rules.h"
#include "scan/rules/chosen_rules.h"
#include "scan/rules/exclusions.h"
#include "search/searchfiles.h"

namespace kestrafin::scanner {

using namespace scan;

const char* const kScanUsage =
    "Usage: kestrafin-scan [OPTIONS] [ROOT...]\n"
    "Lists every file that lies directly in a folder whose path is longer than\n"
    "200 characters (UTF-16 code units), walking the whole tree below ROOT\n"
    "(default: the system's root folder), one path per line. Other rules and a\n"
    "target prefix measure where the files are going before a move. Several\n"
    "roots are walked one after another, each root's entries together; roots on\n"
    "different servers or volumes are read at the same time, the output staying\n"
    "in the order given.\n"
    "\n"
    "Rules (an entry is listed when it breaks any rule given; without one, the\n"
    "folder rule with 200 applies):\n"
    "  --longer-than N        a file qualifies when its folder's path is longer\n"
    "                         than N\n"
    "  --files-longer-than N  a file qualifies when its own path is longer than N\n"
    "  --limit windows        file path longer than 259 (MAX_PATH 260 with its NUL)\n"
    "                         or folder path longer than 247 (room for an 8.3 name)\n"
    "  --limit sharepoint     file path longer than 400, counted from the path after\n"
    "                         the host with percent-escapes decoded when the target\n"
    "                         prefix is a URL\n"
    "  --check windows|sharepoint|onedrive\n"
    "                         list every file and folder that the destination\n"
    "                         refuses, by its length and name rules (see below);\n"
    "                         may be given more than once\n"
    "  --exclude PATTERN      leave out files and folders whose name matches the\n"
    "                         glob PATTERN (* ? [abc]), or, when it holds a \"/\",\n"
    "                         whose path below ROOT does; an excluded folder is\n"
    "                         not read at all; may be given more than once\n"
    "  --target-prefix PREFIX measure every path as if ROOT were PREFIX, joining the\n"
    "                         rest with \"\\\" when PREFIX is a drive, UNC or other\n"
    "                         Windows path and with \"/\" otherwise\n"
    "  --print-target         write the paths at the target instead of the real ones\n"
    "\n"
    "Output:\n"
    "  --format lines|csv|json\n"
    "                         one path per line (default); CSV with a header row\n"
    "                         and the columns path,folder_length,path_length (and\n"
    "                         target_path with a prefix),kind,reasons,error, UTF-8\n"
    "                         with a byte order mark; or one JSON object per line\n"
    "                         with the same fields; folders that cannot be read\n"
    "                         are records of kind error\n"
    "  -0, --null             end each entry with NUL instead of a line break; use\n"
    "                         this when names may hold line breaks (xargs -0)\n"
    "  --roots FILE           also walk the roots FILE names, one a line (blank\n"
    "                         lines and lines starting with # left out)\n"
    "  --record FILE          also write the scan's record to FILE (JSON lines:\n"
    "                         what the scan was, every entry with its root, how\n"
    "                         each root was read; docs/record-format.md), put in\n"
    "                         place whole when the scan ends, also when it is\n"
    "                         stopped (SIGINT, SIGTERM, Ctrl+C); {host}, {date}\n"
    "                         (UTC YYYY-MM-DD), {time} (UTC hhmmss) and {root}\n"
    "                         (the first root as a file name, +N for N more\n"
    "                         roots) are replaced in FILE\n"
    "  --list FILE            write the entries to FILE in the saved list format\n"
    "                         that Kestrafin's \"Reload List\" reads, instead of\n"
    "                         standard output; several roots make one list\n"
    "  --count                print only the count, a blank and \"records found\"\n"
    "                         (with several roots, each root's with \"in ROOT\"\n"
    "                         after it, then the total)\n"
    "  --summary              after the walk, write to standard error the folders\n"
    "                         read, files seen, entries per rule, the ten longest\n"
    "                         paths of all files seen and a histogram of their\n"
    "                         lengths; with --count, write the summary alone to\n"
    "                         standard output\n"
    "Walk:\n"
    "  -j, --threads N        read folders with N threads at once (default 64;\n"
    "                         more than 128 read no faster, and 128 do); 1 reads\n"
    "                         one folder at a time; the output is the same for\n"
    "                         every N\n"
    "  -x, --one-file-system  enter no folder on another volume than ROOT's\n"
    "      --no-follow        enter no link to a folder\n"
    "      --include-offline  also read folders whose names lie in the cloud\n"
    "                         (placeholders, offline files), which fetches them\n"
    "      --source walk|volume|auto\n"
    "                         walk the folders (default); read the master file\n"
    "                         table of the NTFS volume ROOT lies on instead (an\n"
    "                         administrator on Windows, read access to the device\n"
    "                         on Linux), giving the walk's result in seconds; or\n"
    "                         the volume where ROOT lies on one that can be read,\n"
    "                         else the walk (-v says which, and why)\n"
    "      --volume SOURCE    read the NTFS volume in SOURCE (an image file or a\n"
    "                         block device; on Windows also \\\\.\\C:): ROOT is then\n"
    "                         a path inside it (default: its root); implies\n"
    "                         --source volume\n"
    "      --volume-root PREFIX\n"
    "                         with --volume: ROOT's leading part PREFIX stands for\n"
    "                         the volume's root, where it is mounted, so that paths\n"
    "                         are the mount's and links are followed through it\n"
    "  -q, --quiet            no progress line and no warnings\n"
    "  -v, --verbose          also say which folders were not entered: links back\n"
    "                         into the walk, links into folders already walked\n"
    "                         through a link, links to another machine than\n"
    "                         ROOT's (never followed: that machine would be sent\n"
    "                         this account's credentials), offline folders, kernel\n"
    "                         file systems like /proc, folders the system keeps to\n"
    "                         itself, and what --exclude and the options above\n"
    "                         left out\n"
    "  -h, --help             show this help\n"
    "      --version          show the version\n"
    "\n"
    "Profiles of --check (lengths in UTF-16 code units):\n"
    "  windows     path longer than 259 or folder path longer than 247, name longer\n"
    "              than 255, reserved device names (CON, PRN, AUX, NUL, COM0-9,\n"
    "              LPT0-9, also before an extension), names ending in a space or\n"
    "              a period, < > : \" / \\ | ? * and control characters\n"
    "  sharepoint  path longer than 400 (counted as --limit sharepoint), leading\n"
    "              or trailing spaces, \" * : < > ? / \\ |, the device names, .lock,\n"
    "              desktop.ini, names starting with ~$ or holding _vti_, a folder\n"
    "              forms in the root\n"
    "  onedrive    the sharepoint rules and the windows name rules together\n"
    "  Every profile also lists names of one folder that are one name there\n"
    "  (collision): windows by case, as NTFS; sharepoint by case and Unicode form;\n"
    "  onedrive by either.\n"
    "\n"
    "Lengths count UTF-16 code units, as Windows does.\n"
    "Exit status: 0 when every folder was read, 1 when some folder could not be\n"
    "read (each is reported on standard error), memory ran out (what was\n"
    "found before is written) or a scan with --record was stopped, 2 for a\n"
    "usage error, a root that cannot be opened, a record or output that cannot\n"
    "be written; with several roots, the worst of the roots'.\n"
    "\n"
    "kestrafin-scan diff OLD NEW compares two records of scans (see\n"
    "kestrafin-scan diff --help).\n";

namespace {

std::size_t parse_count(const std::string& name, const std::string& text) {
    std::size_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc::result_out_of_range)
        throw std::invalid_argument(name + ": the number '" + text + "' is too large");
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        throw std::invalid_argument(name + " takes a whole number, not '" + text + "'");
    return value;
}

constexpr std::size_t kMostThreads = 1024;

std::size_t parse_threads(const std::string& text) {
    const std::size_t threads = parse_count("--threads", text);
    if (threads < 1 || threads > kMostThreads)
        throw std::invalid_argument("--threads takes a number from 1 to " +
                                    std::to_string(kMostThreads) + ", not '" + text + "'");
    return threads;
}

void apply_limit(const std::string& preset, LengthRules& rules) {
    const CheckProfile* profile =
        preset == "windows" || preset == "sharepoint" ? find_check_profile(preset) : nullptr;
    if (profile == nullptr)
        throw std::invalid_argument("--limit takes windows or sharepoint, not '" + preset + "'");
    set_length_rules(rules, *profile);
}

const CheckProfile* parse_check(const std::string& name) {
    const CheckProfile* profile = find_check_profile(name);
    if (profile == nullptr)
        throw std::invalid_argument("--check takes windows, sharepoint or onedrive, not '" + name +
                                    "'");
    return profile;
}

SourceChoice parse_source(const std::string& text) {
    if (text == "walk") return SourceChoice::walk;
    if (text == "volume") return SourceChoice::volume;
    if (text == "auto") return SourceChoice::automatic;
    throw std::invalid_argument("--source takes walk, volume or auto, not '" + text + "'");
}

OutputFormat parse_format(const std::string& text) {
    if (text == "lines") return OutputFormat::lines;
    if (text == "csv") return OutputFormat::csv;
    if (text == "json") return OutputFormat::json;
    throw std::invalid_argument("--format takes lines, csv or json, not '" + text + "'");
}

void refuse_conflicts(const ScanOptions& options) {
    const bool records = options.format != OutputFormat::lines;
    if (records && options.null_terminated)
        throw std::invalid_argument("-0 applies to the lines format only");
    if (records && (options.list_file || options.count_only))
        throw std::invalid_argument(
            "--format csv or json writes to standard output, not with "
            "--list or --count");
    if (options.print_target && !options.request.target_prefix)
        throw std::invalid_argument("--print-target needs --target-prefix");
    if (options.print_target && (records || options.list_file))
        throw std::invalid_argument(
            "--print-target applies to the lines format only; csv and json carry target_path, "
            "and a list file keeps the real paths");
    if (options.request.target_prefix && options.request.target_prefix->empty())
        throw std::invalid_argument("--target-prefix needs a non-empty value");
}

void choose_source(ScanOptions& options, std::optional<SourceChoice> source) {
    VolumeChoice& volume = options.volume;
    if (volume.volume && volume.volume->empty())
        throw std::invalid_argument("--volume needs an image, a device or a volume");
    if (volume.volume_root && !volume.volume)
        throw std::invalid_argument("--volume-root needs --volume");
    if (volume.volume && source == SourceChoice::walk)
        throw std::invalid_argument("--volume reads a volume, not with --source walk");
    volume.source = source.value_or(volume.volume ? SourceChoice::volume : SourceChoice::walk);
    volume.verbose = options.verbose;
    volume.quiet = options.quiet;
}

}  // namespace

ScanOptions parse_scan_options(const std::vector<std::string>& arguments) {
    ScanOptions options;
    std::optional<SourceChoice> source;
    bool options_ended = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const auto value_of = [&](const std::string& name) -> std::string {
            if (i + 1 >= arguments.size()) throw std::invalid_argument(name + " needs a value");
            return arguments[++i];
        };
        if (options_ended || argument.empty() || argument[0] != '-' || argument == "-") {
            options.roots.push_back(argument);
        } else if (argument == "--") {
            options_ended = true;
        } else if (argument == "--longer-than") {
            options.request.rules.folder_longer_than = parse_count(argument, value_of(argument));
        } else if (argument.starts_with("--longer-than=")) {
            options.request.rules.folder_longer_than =
                parse_count("--longer-than", argument.substr(14));
        } else if (argument == "--files-longer-than") {
            options.request.rules.file_longer_than = parse_count(argument, value_of(argument));
        } else if (argument.starts_with("--files-longer-than=")) {
            options.request.rules.file_longer_than =
                parse_count("--files-longer-than", argument.substr(20));
        } else if (argument == "--limit") {
            apply_limit(value_of(argument), options.request.rules);
        } else if (argument.starts_with("--limit=")) {
            apply_limit(argument.substr(8), options.request.rules);
        } else if (argument == "--check") {
            options.request.checks.push_back(parse_check(value_of(argument)));
        } else if (argument.starts_with("--check=")) {
            options.request.checks.push_back(parse_check(argument.substr(8)));
        } else if (argument == "--exclude") {
            options.request.excludes.push_back(value_of(argument));
        } else if (argument.starts_with("--exclude=")) {
            options.request.excludes.push_back(argument.substr(10));
        } else if (argument == "--target-prefix") {
            options.request.target_prefix = value_of(argument);
        } else if (argument.starts_with("--target-prefix=")) {
            options.request.target_prefix = argument.substr(16);
        } else if (argument == "--print-target") {
            options.print_target = true;
        } else if (argument == "--format") {
            options.format = parse_format(value_of(argument));
        } else if (argument.starts_with("--format=")) {
            options.format = parse_format(argument.substr(9));
        } else if (argument == "--summary") {
            options.summary = true;
        } else if (argument == "-0" || argument == "--null") {
            options.null_terminated = true;
        } else if (argument == "--roots") {
            options.roots_file = value_of(argument);
        } else if (argument.starts_with("--roots=")) {
            options.roots_file = argument.substr(8);
        } else if (argument == "--record") {
            options.record_file = value_of(argument);
        } else if (argument.starts_with("--record=")) {
            options.record_file = argument.substr(9);
        } else if (argument == "--list") {
            options.list_file = value_of(argument);
        } else if (argument.starts_with("--list=")) {
            options.list_file = argument.substr(7);
        } else if (argument == "--count") {
            options.count_only = true;
        } else if (argument == "-j" || argument == "--threads") {
            options.request.threads = parse_threads(value_of(argument));
        } else if (argument.starts_with("--threads=")) {
            options.request.threads = parse_threads(argument.substr(10));
        } else if (argument.starts_with("-j")) {
            options.request.threads = parse_threads(argument.substr(2));
        } else if (argument == "--no-follow") {
            options.request.follow_links = false;
        } else if (argument == "-x" || argument == "--one-file-system") {
            options.request.one_file_system = true;
        } else if (argument == "--include-offline") {
            options.request.include_offline = true;
        } else if (argument == "--source") {
            source = parse_source(value_of(argument));
        } else if (argument.starts_with("--source=")) {
            source = parse_source(argument.substr(9));
        } else if (argument == "--volume") {
            options.volume.volume = value_of(argument);
        } else if (argument.starts_with("--volume=")) {
            options.volume.volume = argument.substr(9);
        } else if (argument == "--volume-root") {
            options.volume.volume_root = value_of(argument);
        } else if (argument.starts_with("--volume-root=")) {
            options.volume.volume_root = argument.substr(14);
        } else if (argument == "-q" || argument == "--quiet") {
            options.quiet = true;
        } else if (argument == "-v" || argument == "--verbose") {
            options.verbose = true;
        } else if (argument == "-h" || argument == "--help") {
            options.help = true;
        } else if (argument == "--version") {
            options.version = true;
        } else {
            throw std::invalid_argument("unknown option '" + argument + "'");
        }
    }
    choose_source(options, source);
    if (options.roots.empty() && !options.roots_file)
        options.roots.emplace_back(options.volume.volume && !options.volume.volume_root
                                       ? std::string(1, platform::kPathSeparator)
                                       : std::string(platform::kDefaultRoot));
    if (!options.roots.empty()) options.request.root = options.roots.front();
    if (options.record_file && options.record_file->empty())
        throw std::invalid_argument("--record needs a file name");
    // An entry breaks a length rule when it breaks it under any profile or option.
    merge_length_rules(options.request.rules, options.request.checks);
    refuse_conflicts(options);
    const Exclusions refuses_empty_patterns(options.request.excludes);
    return options;
}

}  // namespace kestrafin::scanner
